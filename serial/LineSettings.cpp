#include "serial/LineSettings.h"

#include <bit>
#include <charconv>
#include <vector>

namespace isp {
namespace {

std::vector<std::string_view> splitOnCommas(std::string_view text)
{
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        fields.push_back(text.substr(start, comma - start));
        if (comma == std::string_view::npos)
            return fields;
        start = comma + 1;
    }
}

std::optional<int> parseNumber(std::string_view field)
{
    int value = 0;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    if (error != std::errc() || end != field.data() + field.size())
        return std::nullopt;
    return value;
}

std::optional<Parity> parseParity(std::string_view field)
{
    if (field.size() != 1)
        return std::nullopt;
    switch (field[0]) {
    case 'N':
    case 'n': return Parity::None;
    case 'E':
    case 'e': return Parity::Even;
    case 'O':
    case 'o': return Parity::Odd;
    case 'M':
    case 'm': return Parity::Mark;
    case 'S':
    case 's': return Parity::Space;
    default: return std::nullopt;
    }
}

char parityLetter(Parity parity)
{
    switch (parity) {
    case Parity::None: return 'N';
    case Parity::Even: return 'E';
    case Parity::Odd: return 'O';
    case Parity::Mark: return 'M';
    case Parity::Space: return 'S';
    }
    return '?';
}

} // namespace

std::optional<LineSettings> LineSettings::parse(std::string_view text)
{
    const auto fields = splitOnCommas(text);
    if (fields.size() != 4)
        return std::nullopt;
    const auto baud = parseNumber(fields[0]);
    const auto parity = parseParity(fields[1]);
    const auto dataBits = parseNumber(fields[2]);
    const auto stopBits = parseNumber(fields[3]);
    if (!baud || !parity || !dataBits || !stopBits)
        return std::nullopt;
    if (*baud <= 0 || *dataBits < 5 || *dataBits > 8 || (*stopBits != 1 && *stopBits != 2))
        return std::nullopt;
    return LineSettings{*baud, *parity, *dataBits, *stopBits};
}

std::string LineSettings::toString() const
{
    return std::to_string(baud) + ',' + parityLetter(parity) + ',' + std::to_string(dataBits) + ','
        + std::to_string(stopBits);
}

bool parityBitFor(Parity parity, unsigned char byte)
{
    const bool odd = std::popcount(static_cast<unsigned>(byte)) % 2 == 1;
    switch (parity) {
    case Parity::Mark: return true;
    case Parity::Space: return false;
    case Parity::Even: return odd; // makes the count of ones even
    case Parity::Odd: return !odd; // makes the count of ones odd
    case Parity::None: return false;
    }
    return false;
}

} // namespace isp
