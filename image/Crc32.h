#pragma once

#include <cstdint>
#include <span>
#include <string>

// CRC-32 as zip, gzip, PNG and Ethernet compute it: the reflected polynomial
// 0x04C11DB7 (0xEDB88320 bit-reversed), starting from all ones and inverted
// at the end. It is the checksum most often published beside a firmware file,
// so it is the one a user can compare with.
namespace isp {

std::uint32_t crc32(std::span<const std::uint8_t> bytes);

// Eight lowercase hex digits, most significant first ("cbf43926"), as the
// usual tools print it.
std::string crc32Hex(std::span<const std::uint8_t> bytes);

} // namespace isp
