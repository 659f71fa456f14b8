#pragma once

#include "tests/support/PseudoTerminal.h"
#include "tests/support/VirtualBootLoader.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <memory>
#include <unistd.h>

// The virtual boot loader on the master side of a pseudo-terminal, on Qt's
// real event loop and the real clock. A pty shows no parity bits, so only
// the bytes, their order and their timing are checked here.
namespace isp::test {

class PtyBootLoader {
public:
    PtyBootLoader(PseudoTerminal& pty, VirtualBootLoader::Options options = {})
        : pty_(pty),
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
                          const auto ms = std::chrono::ceil<std::chrono::milliseconds>(delay);
                          QTimer::singleShot(ms, Qt::PreciseTimer, &context_, std::move(task));
                      },
                      // Written to the master, a request is at the program at once.
                      [](std::size_t) { return SteadyClock::instance().now(); },
                  },
              std::move(options)),
          notifier_(pty.masterFd(), QSocketNotifier::Read)
    {
        QObject::connect(&notifier_, &QSocketNotifier::activated, &context_, [this] { readAll(); });
    }

    VirtualBootLoader& loader() { return loader_; }

    // How a request goes onto the line; a test may add garbage, split it or
    // send it twice.
    using RequestSender = std::function<void(PseudoTerminal&, const VirtualBootLoader::Bytes&)>;
    void setRequestSender(RequestSender sender) { sender_ = std::move(sender); }

    // The device goes away: the master side of the pty closes.
    void hangUp()
    {
        hungUp_ = true;
        notifier_.setEnabled(false);
        pty_.closeMaster();
    }

private:
    void readAll()
    {
        std::uint8_t buffer[4096];
        const ssize_t n = ::read(pty_.masterFd(), buffer, sizeof buffer);
        if (n < 0 && errno == EIO) {
            // No slave open: the program is between closing and reopening.
            // Do not spin on the hang-up meanwhile.
            notifier_.setEnabled(false);
            QTimer::singleShot(0, &context_, [this] { notifier_.setEnabled(true); });
            return;
        }
        const Clock::TimePoint now = SteadyClock::instance().now();
        for (ssize_t i = 0; i < n; ++i)
            loader_.onByte(buffer[i], std::nullopt, now);
    }

    PseudoTerminal& pty_;
    QObject context_;
    VirtualBootLoader loader_;
    QSocketNotifier notifier_;
    bool hungUp_ = false;
    RequestSender sender_;
};

} // namespace isp::test
