#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

// SHA-256 (FIPS 180-4): the digest users compare with the one published
// beside a firmware file, or with what sha256sum prints.
namespace isp {

using Sha256Digest = std::array<std::uint8_t, 32>;

Sha256Digest sha256(std::span<const std::uint8_t> bytes);

// 64 lowercase hex digits, as sha256sum prints the digest.
std::string sha256Hex(std::span<const std::uint8_t> bytes);

} // namespace isp
