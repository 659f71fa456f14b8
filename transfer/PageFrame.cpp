#include "transfer/PageFrame.h"

#include <algorithm>
#include <cassert>

namespace isp {

PageHeader makePageHeader(std::uint8_t page)
{
    return {0x00, 0x00, page};
}

std::uint8_t pageChecksum(std::span<const std::uint8_t> bytes)
{
    std::int32_t sum = 0; // at most 128 * 255, no overflow
    for (const std::uint8_t byte : bytes)
        sum += byte;
    return static_cast<std::uint8_t>(sum & 0xFF);
}

PageFrame makePageFrame(std::span<const std::uint8_t> image, std::uint8_t page)
{
    const std::size_t offset = static_cast<std::size_t>(page) * PageSize;
    assert(image.size() >= offset + PageSize);
    const auto data = image.subspan(offset, PageSize);
    PageFrame frame{};
    std::copy(data.begin(), data.end(), frame.begin());
    frame[PageSize] = pageChecksum(data);
    return frame;
}

} // namespace isp
