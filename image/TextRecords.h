#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// What Intel HEX and Motorola S-record files share: lines of text, each one
// record, written as pairs of hex digits after a one- or two-character mark.
namespace isp {

struct TextLine {
    int number = 0; // 1-based, as an editor counts
    std::string_view text;
};

// The lines of a text file, LF or CRLF ended, without their line ends and
// trailing blanks. A last line without a line end counts as a line.
class TextLines {
public:
    explicit TextLines(std::string_view text) : rest_(text) {}
    // The next line, or nothing at the end of the text.
    std::optional<TextLine> next();

private:
    std::string_view rest_;
    int number_ = 0;
};

// Decodes pairs of hex digits (either case) into bytes. On a fault, the
// reason in English; firstColumn is the 1-based column of digits[0], for
// pointing at a stray character.
std::optional<std::string> decodeHexPairs(std::string_view digits, int firstColumn, std::vector<std::uint8_t>& bytes);

// The low byte of the sum of a record's bytes before its checksum byte, from
// which each format derives the checksum it expects.
std::uint8_t sumBeforeChecksum(std::span<const std::uint8_t> record);

// Why a record's checksum is refused: what the record says and what its bytes
// give, and for a data record the address it is for.
std::string badChecksumReason(std::uint8_t says, std::uint8_t expected, std::optional<std::uint64_t> dataAddress);

} // namespace isp
