#pragma once

#include <optional>
#include <string>
#include <string_view>

// A settings string of the classic form "baud,parity,data,stop", for example
// "38400,M,8,1". The boot loader speaks 38400 baud, 8 data bits, 1 stop bit,
// and tells header from page data by the parity bit: space (always 0) for
// the header, mark (always 1) for the page frame.
namespace isp {

enum class Parity { None, Even, Odd, Mark, Space };

struct LineSettings {
    int baud = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    int stopBits = 1;

    static std::optional<LineSettings> parse(std::string_view text);
    std::string toString() const;

    // Bits a byte occupies on the wire: start, data, parity if any, stop.
    int bitsPerByte() const { return 1 + dataBits + (parity == Parity::None ? 0 : 1) + stopBits; }

    bool operator==(const LineSettings&) const = default;
};

// The parity bit a byte carries on the wire under the given parity.
bool parityBitFor(Parity parity, unsigned char byte);

} // namespace isp
