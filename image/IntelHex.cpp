#include "image/IntelHex.h"

#include "image/HexText.h"
#include "image/TextRecords.h"

namespace isp {
namespace {

enum RecordType : std::uint8_t {
    Data = 0x00,
    EndOfFile = 0x01,
    ExtendedSegmentAddress = 0x02,
    StartSegmentAddress = 0x03,
    ExtendedLinearAddress = 0x04,
    StartLinearAddress = 0x05,
};

// Every record type but data carries a fixed number of bytes.
std::optional<std::size_t> fixedLength(std::uint8_t type)
{
    switch (type) {
    case EndOfFile: return 0;
    case ExtendedSegmentAddress:
    case ExtendedLinearAddress: return 2;
    case StartSegmentAddress:
    case StartLinearAddress: return 4;
    default: return std::nullopt;
    }
}

// The upper address bits in effect. A type 02 record sets a segment base
// (value * 16), a type 04 record a linear base (value * 65536). The format
// defines them as alternatives; a file that sets both is read differently
// by different tools: some add the two, some take the last one set. Where
// the two readings give different addresses for a data record, the file is
// refused rather than flashed one way of two.
class AddressBase {
public:
    void setSegment(std::uint32_t value)
    {
        segment_ = value << 4;
        segmentLast_ = true;
    }
    void setLinear(std::uint32_t value)
    {
        linear_ = value << 16;
        segmentLast_ = false;
    }
    std::uint64_t sum() const { return std::uint64_t{segment_} + linear_; }
    std::uint64_t lastSet() const { return segmentLast_ ? segment_ : linear_; }

private:
    std::uint32_t segment_ = 0;
    std::uint32_t linear_ = 0;
    bool segmentLast_ = false;
};

std::uint32_t bigEndian16(std::span<const std::uint8_t> bytes)
{
    return (std::uint32_t{bytes[0]} << 8) | bytes[1];
}

} // namespace

RecordParseResult parseIntelHex(std::string_view text)
{
    RecordImage image;
    AddressBase base;
    int endLine = 0;
    std::vector<std::uint8_t> record;

    TextLines lines(text);
    while (const std::optional<TextLine> line = lines.next()) {
        const int n = line->number;
        if (line->text.empty())
            continue;
        // Refused, not passed over as most tools do: data after the end
        // record is most often a second file appended to the first, and
        // flashing only the first would go unnoticed until the device runs.
        if (endLine != 0)
            return refusedAt(n, {}, "a record after the end-of-file record on line " + std::to_string(endLine));
        if (line->text.front() != ':')
            return refusedAt(n, {}, "an Intel HEX record starts with ':'");
        if (auto fault = decodeHexPairs(line->text.substr(1), 2, record))
            return refusedAt(n, {}, *fault);
        if (record.size() < 5)
            return refusedAt(n, {}, "the record is too short; even an empty one has 11 characters");

        const std::size_t length = record[0];
        const std::uint32_t offset = bigEndian16(std::span(record).subspan(1));
        const std::uint8_t type = record[3];
        if (record.size() != length + 5) {
            return refusedAt(n, {},
                "the length field says " + std::to_string(length) + " data bytes, but the record holds "
                    + std::to_string(record.size() - 5));
        }
        // Data records are placed at the bases' sum; where that differs from
        // the other reading, the record is refused below.
        const std::uint64_t address = base.sum() + offset;
        const auto expected = static_cast<std::uint8_t>(0x100 - sumBeforeChecksum(record));
        if (record.back() != expected) {
            const bool data = type == Data;
            return refusedAt(n, data ? std::optional(static_cast<std::uint32_t>(address)) : std::nullopt,
                badChecksumReason(record.back(), expected, data ? std::optional(address) : std::nullopt));
        }

        const std::span<const std::uint8_t> data(record.data() + 4, length);
        if (type != Data) {
            const std::optional<std::size_t> fixed = fixedLength(type);
            if (!fixed)
                return refusedAt(n, {}, "unknown record type " + hexNumber(type, 2));
            if (length != *fixed) {
                return refusedAt(n, {},
                    "a type " + hexNumber(type, 2) + " record carries " + std::to_string(*fixed) + " bytes, not "
                        + std::to_string(length));
            }
        }
        switch (type) {
        case Data:
            // No wrap at 64 KiB: a record running past offset 0xFFFF reaches
            // 0x10000 or beyond whichever way a tool reads it, outside the
            // image, and is refused by place().
            if (address != base.lastSet() + offset) {
                return refusedAt(n, static_cast<std::uint32_t>(address),
                    "the file mixes extended segment (02) and extended linear (04) address records, and tools read "
                    "this record's address differently: "
                        + hexNumber(address, 4) + " or " + hexNumber(base.lastSet() + offset, 4));
            }
            if (auto refused = image.place(n, address, data))
                return *refused;
            break;
        case EndOfFile: endLine = n; break;
        case ExtendedSegmentAddress: base.setSegment(bigEndian16(data)); break;
        case ExtendedLinearAddress: base.setLinear(bigEndian16(data)); break;
        default: break; // a start address
        }
    }
    // Every tool writes the end record; a file without one was most likely
    // cut short by an interrupted download or copy.
    if (endLine == 0) {
        RecordParseResult result;
        result.reason = "the file ends without an end-of-file record (type 01); it may have been cut short";
        return result;
    }
    return image.finish();
}

} // namespace isp
