#pragma once

#include "tests/fuzz/FuzzSupport.h"

#include <algorithm>
#include <cstdint>
#include <vector>

// How a RequestPathFuzz input reads: a sequence of steps, each an opcode
// byte (taken modulo the number of steps) and its arguments.
namespace isp::fuzz::request_path {

enum class Step : std::uint8_t {
    Send,       // n = 1 + byte % 8, then n bytes, sent with parity bit 1
    SendSpace,  // the same with parity bit 0: wrong under mark parity
    SendMixed,  // n = 1 + byte % 8, a mask byte (bit i: parity of byte i), n bytes
    Request,    // c0, c1, page byte (% 224), split byte: a valid request
    RunMicros,  // word: the event loop runs that many microseconds
    RunMillis,  // byte: the event loop runs that many milliseconds
    Busy,       // word: the program is busy that many microseconds; bytes bunch
    OtherEvent, // byte: a line or modem notification that is not a receive
    Count
};

// Writes steps in the form the target reads them.
class Writer {
public:
    Writer& send(const std::vector<std::uint8_t>& bytes, bool parityBit = true)
    {
        for (std::size_t at = 0; at < bytes.size(); at += 8) {
            const std::size_t n = std::min<std::size_t>(8, bytes.size() - at);
            step(parityBit ? Step::Send : Step::SendSpace).byte(static_cast<int>(n - 1));
            in.bytes(std::vector<std::uint8_t>(
                bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin() + static_cast<std::ptrdiff_t>(at + n)));
        }
        return *this;
    }
    Writer& sendMixed(const std::vector<std::uint8_t>& bytes, std::uint8_t parityMask)
    {
        step(Step::SendMixed).byte(static_cast<int>(bytes.size() - 1)).byte(parityMask).bytes(bytes);
        return *this;
    }
    Writer& request(int page, int split = 0, std::uint8_t c0 = 0x50, std::uint8_t c1 = 0x47)
    {
        step(Step::Request).byte(c0).byte(c1).byte(page).byte(split);
        return *this;
    }
    Writer& runMicros(int us)
    {
        step(Step::RunMicros).word(us);
        return *this;
    }
    Writer& runMillis(int ms)
    {
        step(Step::RunMillis).byte(ms);
        return *this;
    }
    Writer& busy(int us)
    {
        step(Step::Busy).word(us);
        return *this;
    }
    Writer& otherEvent(int which)
    {
        step(Step::OtherEvent).byte(which);
        return *this;
    }

    InputWriter in;

private:
    InputWriter& step(Step s) { return in.byte(static_cast<int>(s)); }
};

} // namespace isp::fuzz::request_path
