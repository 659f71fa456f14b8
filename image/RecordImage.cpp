#include "image/RecordImage.h"

#include "image/HexText.h"

#include <algorithm>

namespace isp {

RecordParseResult refusedAt(int line, std::optional<std::uint32_t> address, const std::string& what)
{
    RecordParseResult result;
    result.line = line;
    result.address = address;
    result.reason = "line " + std::to_string(line) + ": " + what;
    return result;
}

RecordImage::RecordImage() : writtenBy_(ImageSize, 0)
{
    bytes_.fill(ErasedByte);
}

std::optional<RecordParseResult> RecordImage::place(int line, std::uint64_t address, std::span<const std::uint8_t> data)
{
    if (data.empty())
        return std::nullopt;
    const std::uint64_t last = address + data.size() - 1;
    if (last >= static_cast<std::uint64_t>(ImageSize)) {
        return refusedAt(line, static_cast<std::uint32_t>(address),
            "the data at " + hexNumber(address, 4) + ".." + hexNumber(last, 4)
                + " does not fit in the image, which covers 0x0000.." + hexNumber(ImageSize - 1, 4));
    }
    for (std::size_t i = 0; i < data.size(); ++i) {
        const std::size_t at = static_cast<std::size_t>(address) + i;
        if (writtenBy_[at] != 0 && bytes_[at] != data[i]) {
            return refusedAt(line, static_cast<std::uint32_t>(at),
                "the byte at " + hexNumber(at, 4) + " is " + hexNumber(data[i], 2) + " here, but line "
                    + std::to_string(writtenBy_[at]) + " set it to " + hexNumber(bytes_[at], 2));
        }
        bytes_[at] = data[i];
        writtenBy_[at] = line;
    }
    return std::nullopt;
}

RecordParseResult RecordImage::finish() const
{
    RecordParseResult result;
    // An erased device is an image of 0xFF bytes; a record file that writes
    // no byte at all is a build that went wrong (objcopy refuses it, and
    // srec_cat says it "contains no data").
    if (std::all_of(writtenBy_.begin(), writtenBy_.end(), [](int line) { return line == 0; })) {
        result.reason = "the file has no data records: it writes no byte of the image, so it is an empty or wrong "
                        "build output rather than an image";
        return result;
    }
    result.ok = true;
    result.bytes = bytes_;
    return result;
}

} // namespace isp
