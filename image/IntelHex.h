#pragma once

#include "image/RecordImage.h"

#include <string_view>

// Intel HEX: lines ":LLAAAATT<data>CC", L the data length, A a 16-bit
// address, T the record type, C the two's complement of the byte sum.
namespace isp {

// Reads an Intel HEX file into the image. Types 00 (data), 01 (end of file),
// 02 (extended segment address), 04 (extended linear address); 03 and 05,
// the start address, mean nothing to a boot loader that always starts the
// application at its reset vector, and are passed over.
RecordParseResult parseIntelHex(std::string_view text);

} // namespace isp
