#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// Numbers as the image readers and checksums write them.
namespace isp {

// Lowercase hex, two digits a byte, in order: how checksum tools print a
// digest, so a user can compare the two by eye; with a separator between the
// bytes, how traces and reports show the bytes on the line ("50 47 00 07").
std::string lowerHex(std::span<const std::uint8_t> bytes, std::string_view separator = {});

// "0x" and at least minDigits uppercase hex digits: addresses ("0x6FFF") and
// byte values ("0x3C") in messages, as data sheets and the formats write them.
std::string hexNumber(std::uint64_t value, int minDigits);

// The value of one hex digit, either case; -1 for a character that is none.
int hexValue(char c);

} // namespace isp
