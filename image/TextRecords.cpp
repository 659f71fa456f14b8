#include "image/TextRecords.h"

#include "image/HexText.h"

namespace isp {
namespace {

std::string describeCharacter(char c)
{
    const auto code = static_cast<unsigned char>(c);
    if (code >= 0x21 && code <= 0x7E)
        return std::string("'") + c + "'";
    return "the byte " + hexNumber(code, 2);
}

} // namespace

std::optional<TextLine> TextLines::next()
{
    if (rest_.empty())
        return std::nullopt;
    const std::size_t end = rest_.find('\n');
    std::string_view line = rest_.substr(0, end);
    rest_ = end == std::string_view::npos ? std::string_view{} : rest_.substr(end + 1);
    // CR of CRLF; blanks an editor left; and ^Z, the end-of-file mark that
    // CP/M- and DOS-era tools, from which both formats come, put after the
    // last line.
    const std::size_t last = line.find_last_not_of("\r \t\x1A");
    line = last == std::string_view::npos ? std::string_view{} : line.substr(0, last + 1);
    return TextLine{++number_, line};
}

std::optional<std::string> decodeHexPairs(std::string_view digits, int firstColumn, std::vector<std::uint8_t>& bytes)
{
    bytes.clear();
    for (std::size_t i = 0; i < digits.size(); ++i) {
        // TextLines splits at LF only: a CR inside a line is a line end of
        // its own, as classic Mac OS wrote them.
        if (digits[i] == '\r') {
            return "a CR in column " + std::to_string(firstColumn + static_cast<int>(i))
                + " ends the record without a LF: the lines of this file end in CR alone, which neither format "
                  "allows; convert its line ends to LF or CR LF";
        }
        if (hexValue(digits[i]) < 0) {
            return describeCharacter(digits[i]) + " in column " + std::to_string(firstColumn + static_cast<int>(i))
                + " is not a hex digit";
        }
    }
    if (digits.size() % 2 != 0)
        return "the record has an odd number of hex digits";
    bytes.reserve(digits.size() / 2);
    for (std::size_t i = 0; i < digits.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(hexValue(digits[i]) * 16 + hexValue(digits[i + 1])));
    return std::nullopt;
}

std::uint8_t sumBeforeChecksum(std::span<const std::uint8_t> record)
{
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i + 1 < record.size(); ++i)
        sum = static_cast<std::uint8_t>(sum + record[i]);
    return sum;
}

std::string badChecksumReason(std::uint8_t says, std::uint8_t expected, std::optional<std::uint64_t> dataAddress)
{
    return "bad checksum" + (dataAddress ? " in the record for " + hexNumber(*dataAddress, 4) : std::string{})
        + ": it says " + hexNumber(says, 2) + ", the record's bytes give " + hexNumber(expected, 2);
}

} // namespace isp
