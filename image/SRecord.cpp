#include "image/SRecord.h"

#include "image/HexText.h"
#include "image/TextRecords.h"

#include <array>

namespace isp {
namespace {

// Bytes in the address field of S0 to S9; 0 marks S4, which is reserved.
constexpr std::array<std::size_t, 10> AddressLength{2, 2, 3, 4, 0, 2, 3, 4, 3, 2};

bool isData(int type)
{
    return type >= 1 && type <= 3;
}

bool isCount(int type)
{
    return type == 5 || type == 6;
}

bool isTermination(int type)
{
    return type >= 7;
}

} // namespace

RecordParseResult parseSRecord(std::string_view text)
{
    RecordImage image;
    int endLine = 0;
    std::uint64_t dataRecords = 0;
    bool countedToTheEnd = false; // a count record came after the last data record
    std::vector<std::uint8_t> record;

    TextLines lines(text);
    while (const std::optional<TextLine> line = lines.next()) {
        const int n = line->number;
        const std::string_view t = line->text;
        if (t.empty())
            continue;
        // Refused, not read on: data after the end is most often a second
        // file appended to the first, and tools disagree on whether to load
        // it or stop.
        if (endLine != 0)
            return refusedAt(n, {}, "a record after the termination record on line " + std::to_string(endLine));
        if (t.front() != 'S')
            return refusedAt(n, {}, "an S-record starts with 'S'");
        if (t.size() < 2 || t[1] < '0' || t[1] > '9' || t[1] == '4')
            return refusedAt(n, {}, "unknown record type '" + std::string(t.substr(0, 2)) + "'");
        const int type = t[1] - '0';
        if (auto fault = decodeHexPairs(t.substr(2), 3, record))
            return refusedAt(n, {}, *fault);

        const std::size_t addressLength = AddressLength[static_cast<std::size_t>(type)];
        if (record.size() < addressLength + 2) {
            return refusedAt(n, {},
                "the record is too short; an S" + std::to_string(type) + " record has at least "
                    + std::to_string(addressLength + 2) + " bytes");
        }
        if (record.size() != std::size_t{record[0]} + 1) {
            return refusedAt(n, {},
                "the count field says " + std::to_string(record[0]) + " bytes follow, but the record holds "
                    + std::to_string(record.size() - 1));
        }
        std::uint32_t address = 0;
        for (std::size_t i = 1; i <= addressLength; ++i)
            address = (address << 8) | record[i];

        const auto expected = static_cast<std::uint8_t>(~sumBeforeChecksum(record));
        if (record.back() != expected) {
            const std::optional<std::uint32_t> dataAddress = isData(type) ? std::optional(address) : std::nullopt;
            return refusedAt(n, dataAddress, badChecksumReason(record.back(), expected, dataAddress));
        }

        const std::span<const std::uint8_t> data(record.data() + 1 + addressLength, record.size() - 2 - addressLength);
        if ((isCount(type) || isTermination(type)) && !data.empty())
            return refusedAt(n, {}, "an S" + std::to_string(type) + " record carries no data");
        if (isData(type)) {
            ++dataRecords;
            countedToTheEnd = false;
            if (auto refused = image.place(n, address, data))
                return *refused;
        } else if (isCount(type) && address != dataRecords) {
            return refusedAt(n, {},
                "the count record says " + std::to_string(address) + " data records came before it, but there were "
                    + std::to_string(dataRecords));
        } else if (isCount(type)) {
            countedToTheEnd = true;
        } else if (isTermination(type)) {
            endLine = n;
        }
    }
    // A file cut short at a line end reads like a whole one. The termination
    // record shows it is whole; srec_cat leaves that record out unless given
    // a start address, but ends with a count of the data records, which
    // shows it as well. A file with neither was most likely cut short by an
    // interrupted download or copy.
    if (endLine == 0 && !countedToTheEnd) {
        RecordParseResult result;
        result.reason = "the file ends without a termination record (S7, S8 or S9) or a count of its data records "
                        "(S5 or S6); it may have been cut short";
        return result;
    }
    return image.finish();
}

} // namespace isp
