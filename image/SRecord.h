#pragma once

#include "image/RecordImage.h"

#include <string_view>

// Motorola S-records: lines "S<type><count><address><data><checksum>",
// count the number of bytes after it, checksum the ones' complement of the
// low byte of their sum.
namespace isp {

// Reads an S-record file into the image. S0 (header) is passed over; S1, S2
// and S3 carry data at 16-, 24- and 32-bit addresses; S5 and S6 give the
// number of data records so far and are checked; S7, S8 and S9 end the file.
// Their start address means nothing to a boot loader that always starts the
// application at its reset vector, and is passed over. The file must end
// with a termination record or with a count of all its data records.
RecordParseResult parseSRecord(std::string_view text);

} // namespace isp
