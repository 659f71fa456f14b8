#pragma once

#include "image/ImageLayout.h"
#include "serial/Clock.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// A boot loader at the far end of the line, as strict as a test can be. It
// asks for pages with 4-character requests (c2 + c3 naming the page), checks
// that every answer is a space-parity header 00 00 p followed by a
// mark-parity frame of 128 bytes and their checksum, that the answer starts
// no sooner than 20 ms after the request, and keeps the pages it received in
// its flash. Whatever is wrong is written down in violations().
//
// It is not tied to a transport: the simulated line and a pseudo-terminal
// both feed it bytes and send what it asks to send.
namespace isp::test {

class VirtualBootLoader {
public:
    using Bytes = std::vector<std::uint8_t>;
    using Duration = Clock::Duration;

    struct Transport {
        // Sends a request towards the program.
        std::function<void(const Bytes&)> send;
        // Runs the task after the given time, from the transport's own loop.
        std::function<void(Duration, std::function<void()>)> after;
        // When the request just sent has fully arrived at the program.
        std::function<Clock::TimePoint(std::size_t bytes)> arrivalOf;
    };

    struct Options {
        std::vector<int> pageOrder; // empty: 0 .. 223
        // How a page becomes c2 and c3; default: c2 as large as allowed.
        std::function<std::pair<int, int>(int page)> split;
        std::uint8_t c0 = 0x50;
        std::uint8_t c1 = 0x47;
        Duration programmingTime = std::chrono::milliseconds(3);
        Duration retryAfter = std::chrono::milliseconds(400);
        int maxRetries = 20;
        // On a noisy line the program may rightly answer a request the noise
        // made up: then an answer for another page is dropped and the page
        // asked for again, like a real boot loader would, instead of being
        // written down as a violation. Parity and checksums stay strict.
        bool tolerateOtherPages = false;
        // A device that asked again because an answer was late may see that
        // answer come soon after its new request: it was meant for the one
        // before, which the program took at least 20 ms earlier. Accepted
        // where the program is seen through layers that can stall it for
        // longer than the device waits before asking again (Wine on a busy
        // machine); the 20 ms stay strict for every first request.
        bool answerMayFollowTheRequestBefore = false;
    };

    VirtualBootLoader(Transport transport, Options options);

    // Asks for the first page.
    void start();
    // One byte from the program; parityBit is empty where the transport
    // cannot see it (a pseudo-terminal).
    void onByte(std::uint8_t value, std::optional<bool> parityBit, Clock::TimePoint finishedAt);

    bool finished() const { return next_ >= order_.size() && !awaiting_; }
    const std::array<std::uint8_t, ImageSize>& flash() const { return flash_; }
    const std::vector<std::string>& violations() const { return violations_; }
    int pagesWritten() const { return pagesWritten_; }
    int retries() const { return retries_; }
    // Request fully arrived to first header byte starting, per page.
    const std::vector<Duration>& gaps() const { return gaps_; }

    struct PageTiming {
        int page = 0;
        Clock::TimePoint requestArrived{};
        Clock::TimePoint frameDone{};
    };
    // One entry per page written, in the order written.
    const std::vector<PageTiming>& timings() const { return timings_; }
    // Answers for a page not asked for, dropped in tolerant mode.
    int answersDropped() const { return answersDropped_; }

    static std::pair<int, int> defaultSplit(int page);

private:
    enum class Phase { Idle, Header, Frame, Discard };
    void requestNext();
    void sendRequest();
    void violation(std::string text);
    void pageComplete();

    Transport transport_;
    Options options_;
    std::vector<int> order_;
    std::size_t next_ = 0;
    bool awaiting_ = false;
    int page_ = -1;
    Phase phase_ = Phase::Idle;
    Bytes received_;
    int discarded_ = 0;
    Clock::TimePoint requestArrived_{};
    std::optional<Clock::TimePoint> requestBeforeArrived_; // this page's request before the last

    std::uint64_t requestSerial_ = 0;
    std::array<std::uint8_t, ImageSize> flash_{};
    std::vector<std::string> violations_;
    std::vector<Duration> gaps_;
    std::vector<PageTiming> timings_;
    Clock::TimePoint lastByteAt_{};
    int pagesWritten_ = 0;
    int retries_ = 0;
    int retriesOfPage_ = 0;
    int answersDropped_ = 0;
};

} // namespace isp::test
