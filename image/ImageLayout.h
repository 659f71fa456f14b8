#pragma once

#include <array>
#include <cstdint>

// The image is a flat copy of the device's application flash: 224 pages of
// 128 bytes, page p at offset p * 128. No header, no addresses, no checksum.
namespace isp {

inline constexpr int PageSize = 128;
inline constexpr int PageCount = 224;
inline constexpr int ImageSize = PageSize * PageCount; // 28672 = 0x7000

static_assert(ImageSize == 28672);

using ImageBytes = std::array<std::uint8_t, ImageSize>;

} // namespace isp
