#pragma once

#include <cstdint>
#include <span>
#include <string>

// The boot loader tells a header from page data by the parity bit, so a byte
// that arrives with the wrong parity bit must reach the program as '?', not
// silently as data. The kernel reports such a byte in band when the line is
// set to INPCK|PARMRK: a byte with a parity or framing error arrives as
// FF 00 x, a break as FF 00 00, and a real FF byte is doubled to FF FF. The
// marks can be split over two reads, so the decoder keeps its state between
// feeds.
//
// FF 00 00 is decoded as '?' too: the kernel writes the same three bytes for
// a break and for a 00 byte with a wrong parity bit, and either way a
// character slot of the line was lost; dropping it would shift the reply.
namespace isp {

class ParityErrorDecoder {
public:
    static constexpr char ErrorCharacter = '?';

    // Decodes raw bytes from the driver and appends the characters to out,
    // one character per received byte.
    void feed(std::span<const std::uint8_t> raw, std::string& out);

    // Forgets a half-seen mark (the port was closed).
    void reset() { state_ = State::Plain; }

private:
    enum class State { Plain, SawFF, SawFF00 };
    State state_ = State::Plain;
};

} // namespace isp
