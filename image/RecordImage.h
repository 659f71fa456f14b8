#pragma once

#include "image/ImageLayout.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// An image assembled from address records (Intel HEX, Motorola S-records):
// the records say where their bytes go; flash no record writes stays erased.
namespace isp {

// Flash reads 0xFF where it is erased; an image file leaves out what it does
// not program, and those bytes are sent erased.
inline constexpr std::uint8_t ErasedByte = 0xFF;

// What reading a file of address records gives.
struct RecordParseResult {
    bool ok = false;
    ImageBytes bytes{};                   // when ok: the image, 0xFF where no record wrote
    int line = 0;                         // when refused: the line at fault (1-based); 0: the file as a whole
    std::optional<std::uint32_t> address; // when refused: the address at fault, where there is one
    std::string reason;                   // when refused: why, in English, naming the line and address
};

// A refusal of the record on line ("line 12: " and what).
RecordParseResult refusedAt(int line, std::optional<std::uint32_t> address, const std::string& what);

class RecordImage {
public:
    RecordImage();

    // Places a data record's bytes, starting at address. Refuses bytes outside
    // 0x0000..0x6FFF, and a byte an earlier record set to another value: two
    // sections linked over each other. The same value twice is harmless and
    // happens when a file is made by joining overlapping pieces.
    std::optional<RecordParseResult> place(int line, std::uint64_t address, std::span<const std::uint8_t> data);

    RecordParseResult finish() const;

private:
    ImageBytes bytes_;
    std::vector<int> writtenBy_; // the line that set each byte; 0: none yet
};

} // namespace isp
