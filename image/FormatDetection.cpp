#include "image/FormatDetection.h"

#include <algorithm>
#include <array>
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
