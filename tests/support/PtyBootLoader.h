#pragma once

#include "serial/EventLoop.h"
#include "tests/support/PseudoTerminal.h"
#include "tests/support/VirtualBootLoader.h"

#include <cerrno>
#include <memory>
#include <unistd.h>

// The virtual boot loader on the master side of a pseudo-terminal, on the
// program's event loop and real time. A pty shows no parity bits, so only the
// bytes, their order and their timing are checked here.
namespace isp::test {

class PtyBootLoader {
public:
    PtyBootLoader(PseudoTerminal& pty, EventLoop& loop, VirtualBootLoader::Options options = {})
        : pty_(pty),
          loop_(loop),
          loader_(VirtualBootLoader::Transport{
                      [this](const VirtualBootLoader::Bytes& bytes) {
                          if (hungUp_)
                              return;
                          if (sender_)
                              sender_(pty_, bytes);
                          else
                              pty_.send(bytes);
                      },
                      [this](Clock::Duration delay, std::function<void()> task) {
                          tasks_.push_back(loop_.runAt(loop_.clock().now() + delay, std::move(task)));
                      },
                      // Written to the master, a request is at the program at once.
                      [this](std::size_t) { return loop_.clock().now(); },
                  },
              std::move(options))
    {
        watch();
    }
    ~PtyBootLoader()
    {
        stopWatching();
        for (const EventLoop::Id task : tasks_)
            loop_.cancel(task);
    }
    PtyBootLoader(const PtyBootLoader&) = delete;
    PtyBootLoader& operator=(const PtyBootLoader&) = delete;

    VirtualBootLoader& loader() { return loader_; }

    // How a request goes onto the line; a test may add garbage, split it or
    // send it twice.
    using RequestSender = std::function<void(PseudoTerminal&, const VirtualBootLoader::Bytes&)>;
    void setRequestSender(RequestSender sender) { sender_ = std::move(sender); }

    // Called once a page has been read whole, before the device asks for the
    // next: a moment when no answer is on its way.
    void setOnPageWritten(std::function<void()> handler) { onPageWritten_ = std::move(handler); }

    // The device goes away: the master side of the pty closes.
    void hangUp()
    {
        hungUp_ = true;
        stopWatching();
        pty_.closeMaster();
    }

private:
    void watch()
    {
        watch_ = loop_.watch(pty_.masterFd(), EventLoop::Interest::Read, [this] { readAll(); });
    }
    void stopWatching()
    {
        loop_.unwatch(watch_);
        watch_ = 0;
        loop_.cancel(rewatch_);
    }

    void readAll()
    {
        std::uint8_t buffer[4096];
        const ssize_t n = ::read(pty_.masterFd(), buffer, sizeof buffer);
        if (n < 0 && errno == EIO) {
            // No slave open: the program has closed the port. Look again in
            // a moment rather than spin on the hang-up meanwhile.
            stopWatching();
            rewatch_ = loop_.runAt(loop_.clock().now() + std::chrono::milliseconds(1), [this] {
                rewatch_ = 0;
                watch();
            });
            return;
        }
        const Clock::TimePoint now = loop_.clock().now();
        const int pagesBefore = loader_.pagesWritten();
        for (ssize_t i = 0; i < n; ++i)
            loader_.onByte(buffer[i], std::nullopt, now);
        if (loader_.pagesWritten() != pagesBefore && onPageWritten_) {
            const auto handler = onPageWritten_; // it may replace itself
            handler();
        }
    }

    PseudoTerminal& pty_;
    EventLoop& loop_;
    VirtualBootLoader loader_;
    EventLoop::Id watch_ = 0;
    EventLoop::Id rewatch_ = 0;
    std::vector<EventLoop::Id> tasks_;
    bool hungUp_ = false;
    RequestSender sender_;
    std::function<void()> onPageWritten_;
};

} // namespace isp::test
