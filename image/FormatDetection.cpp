#include "image/FormatDetection.h"

#include "image/HexText.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>

namespace isp {
namespace {

std::string lowerCase(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
        [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return lower;
}

// Text as record files are written: printable ASCII, tabs, line ends and a
// DOS end-of-file mark. A raw image has other bytes within its first few
// hundred (opcodes, 0xFF where it is blank), so looking at those suffices,
// and a HEX file damaged further down is still read as one and refused
// with the line at fault.
bool looksLikeText(std::string_view contents)
{
    const std::string_view head = contents.substr(0, 512);
    return std::all_of(head.begin(), head.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte >= 0x20 && byte < 0x7F) || c == '\t' || c == '\r' || c == '\n' || c == '\x1A';
    });
}

// A saved web page, or the error page a server sent in place of the file,
// starts with a tag (a doctype, a comment, an XML declaration) and has its
// <html> tag near the top, in any case.
bool looksLikeWebPage(std::string_view start)
{
    if (start.empty() || start.front() != '<')
        return false;
    return lowerCase(start.substr(0, 1024)).find("<html") != std::string::npos;
}

// A record's mark followed by hex digits up to the end of its line, as many
// as its count byte says: a signature that a raw image matches by chance
// about never. Intel HEX: ':' LL AAAA TT data CC, 2 * LL + 10 digits;
// S-records: 'S' type, then CC (the bytes that follow) and 2 * CC digits.
std::optional<ImageFormat> recordAt(std::string_view line)
{
    std::size_t markLength = 0;
    ImageFormat format = ImageFormat::Unknown;
    if (!line.empty() && line[0] == ':') {
        markLength = 1;
        format = ImageFormat::IntelHex;
    } else if (line.size() >= 2 && line[0] == 'S' && line[1] >= '0' && line[1] <= '9') {
        markLength = 2;
        format = ImageFormat::SRecord;
    } else {
        return std::nullopt;
    }
    const std::string_view rest = line.substr(markLength);
    const std::size_t digits =
        std::find_if_not(rest.begin(), rest.end(), [](char c) { return hexValue(c) >= 0; }) - rest.begin();
    const bool lineEnds =
        digits == rest.size() || std::string_view(" \t\r\n\x1A").find(rest[digits]) != std::string_view::npos;
    if (!lineEnds || digits < 8 || digits % 2 != 0)
        return std::nullopt;
    const int countByte = hexValue(rest[0]) * 16 + hexValue(rest[1]);
    const auto count = static_cast<std::size_t>(countByte);
    const std::size_t expected = format == ImageFormat::IntelHex ? 2 * count + 10 : 2 * count + 2;
    return digits == expected ? std::optional(format) : std::nullopt;
}

// The format of the first whole record on a line that starts within the
// first RecordSearchLength bytes. A build tool may write a comment line
// first, and one damaged byte may spoil the first record; a file with
// records this near its start is a record file, and is read as one (and
// refused with the line at fault) rather than sent as a raw image.
constexpr std::size_t RecordSearchLength = 4096;

std::optional<ImageFormat> recordsNearStart(std::string_view text)
{
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t start = text.find_first_not_of(" \t", at);
        if (start == std::string_view::npos || start >= RecordSearchLength)
            return std::nullopt;
        if (const auto format = recordAt(text.substr(start)))
            return format;
        // CR alone ends a line too, as in files from classic Mac OS.
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            return std::nullopt;
        at = end + 1;
    }
    return std::nullopt;
}

} // namespace

const char* formatName(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Binary: return "raw binary";
    case ImageFormat::IntelHex: return "Intel HEX";
    case ImageFormat::SRecord: return "Motorola S-records";
    case ImageFormat::Elf: return "ELF";
    case ImageFormat::WebPage: return "a web page (HTML)";
    case ImageFormat::Unknown: break;
    }
    return "unknown";
}

std::string_view withoutByteOrderMark(std::string_view contents)
{
    constexpr std::string_view Mark = "\xEF\xBB\xBF";
    return contents.substr(0, Mark.size()) == Mark ? contents.substr(Mark.size()) : contents;
}

ImageFormat detectFormat(std::string_view contents)
{
    if (contents.substr(0, 4)
        == "\x7F"
           "ELF")
        return ImageFormat::Elf;
    const std::string_view text = withoutByteOrderMark(contents);
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    const std::string_view start = first == std::string_view::npos ? std::string_view{} : text.substr(first);
    if (looksLikeWebPage(start))
        return ImageFormat::WebPage;
    if (const auto records = recordsNearStart(text))
        return *records;
    if (start.empty() || !looksLikeText(text))
        return ImageFormat::Binary;
    if (start.front() == ':')
        return ImageFormat::IntelHex;
    if (start.size() >= 2 && start[0] == 'S' && start[1] >= '0' && start[1] <= '9')
        return ImageFormat::SRecord;
    return ImageFormat::Unknown;
}

std::optional<ImageFormat> formatByName(std::string_view fileName)
{
    const std::size_t slash = fileName.find_last_of("/\\");
    const std::string_view name = slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return std::nullopt;
    const std::string extension = lowerCase(name.substr(dot + 1));

    struct Known {
        std::string_view extension;
        ImageFormat format;
    };
    static constexpr std::array<Known, 12> Extensions{{
        {"bin", ImageFormat::Binary},
        {"raw", ImageFormat::Binary},
        {"img", ImageFormat::Binary},
        {"hex", ImageFormat::IntelHex},
        {"ihx", ImageFormat::IntelHex},
        {"ihex", ImageFormat::IntelHex},
        {"srec", ImageFormat::SRecord},
        {"s19", ImageFormat::SRecord},
        {"s28", ImageFormat::SRecord},
        {"s37", ImageFormat::SRecord},
        {"mot", ImageFormat::SRecord},
        {"elf", ImageFormat::Elf},
    }};
    for (const Known& known : Extensions) {
        if (known.extension == extension)
            return known.format;
    }
    return std::nullopt;
}

} // namespace isp
