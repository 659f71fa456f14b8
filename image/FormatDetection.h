#pragma once

#include <optional>
#include <string_view>

// Telling what a file is from its contents, and what its name claims.
namespace isp {

enum class ImageFormat {
    Unknown,  // not recognised: text of none of the formats below, or not read
    Binary,   // raw: the image byte for byte
    IntelHex, // Intel HEX records
    SRecord,  // Motorola S-records
    // Recognised only to be refused with a reason that helps:
    Elf,     // a linker's output, not yet converted
    WebPage, // a web page saved in place of the file it links to
};

// "raw binary", "Intel HEX", ...: for messages.
const char* formatName(ImageFormat format);

// The format of a file's contents. A record file has a whole record (its
// mark, then as many hex digits as its count says) on a line near its
// start, or is text whose first character is ':' (Intel HEX) or 'S' and a
// digit (S-records); anything else that is not text, ELF or HTML is taken
// for a raw image.
ImageFormat detectFormat(std::string_view contents);

// The format a file name's extension stands for (.bin, .hex, .s19, ...),
// if it is one of the usual ones.
std::optional<ImageFormat> formatByName(std::string_view fileName);

// The contents without a leading UTF-8 byte order mark, which Windows
// editors put at the start of text they save.
std::string_view withoutByteOrderMark(std::string_view contents);

} // namespace isp
