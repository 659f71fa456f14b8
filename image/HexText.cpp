#include "image/HexText.h"

namespace isp {

std::string lowerHex(std::span<const std::uint8_t> bytes, std::string_view separator)
{
    static constexpr char Digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * (2 + separator.size()));
    for (const std::uint8_t byte : bytes) {
        if (!text.empty())
            text += separator;
        text += Digits[byte >> 4];
        text += Digits[byte & 0x0F];
    }
    return text;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string hexNumber(std::uint64_t value, int minDigits)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string digits;
    do {
        digits.insert(digits.begin(), Digits[value & 0x0F]);
        value >>= 4;
    } while (value != 0);
    if (static_cast<int>(digits.size()) < minDigits)
        digits.insert(0, static_cast<std::size_t>(minDigits) - digits.size(), '0');
    return "0x" + digits;
}

} // namespace isp
