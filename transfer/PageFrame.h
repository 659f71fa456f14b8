#pragma once

#include "image/ImageLayout.h"

#include <array>
#include <cstdint>
#include <span>

// The two bursts that answer one page request.
namespace isp {

// Sent with space parity: 00 00 p.
using PageHeader = std::array<std::uint8_t, 3>;
// Sent with mark parity: the 128 bytes of page p, then their sum modulo 256.
using PageFrame = std::array<std::uint8_t, PageSize + 1>;

PageHeader makePageHeader(std::uint8_t page);

// image must hold at least (page + 1) * 128 bytes.
PageFrame makePageFrame(std::span<const std::uint8_t> image, std::uint8_t page);

// The low 8 bits of the sum of the bytes.
std::uint8_t pageChecksum(std::span<const std::uint8_t> bytes);

} // namespace isp
