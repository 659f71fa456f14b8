#include "image/Crc32.h"

#include "image/HexText.h"

#include <array>

namespace isp {
namespace {

// The CRC of each byte value on its own: one table lookup replaces eight
// shift-and-XOR steps per byte.
constexpr std::array<std::uint32_t, 256> makeTable()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1U) != 0 ? 0xEDB88320U ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> Table = makeTable();

} // namespace

std::uint32_t crc32(std::span<const std::uint8_t> bytes)
{
    std::uint32_t c = 0xFFFFFFFFU;
    for (const std::uint8_t byte : bytes)
        c = Table[(c ^ byte) & 0xFFU] ^ (c >> 8);
    return c ^ 0xFFFFFFFFU;
}

std::string crc32Hex(std::span<const std::uint8_t> bytes)
{
    const std::uint32_t c = crc32(bytes);
    const std::array<std::uint8_t, 4> bigEndian{static_cast<std::uint8_t>(c >> 24), static_cast<std::uint8_t>(c >> 16),
        static_cast<std::uint8_t>(c >> 8), static_cast<std::uint8_t>(c)};
    return lowerHex(bigEndian);
}

} // namespace isp
