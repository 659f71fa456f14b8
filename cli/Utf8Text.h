#pragma once

#include <cstddef>
#include <string_view>

// Text in UTF-8, handed on in pieces: a piece must not end inside a
// character, whose bytes would show as two wrong ones.
namespace isp::cli {

// The length of the longest start of `text` that ends with a whole
// character (or a byte that starts none, which stays as it is).
inline std::size_t wholeUtf8Length(std::string_view text)
{
    // A character is one lead byte and up to three continuation bytes
    // (10xxxxxx); look back from the end for the last lead byte.
    for (std::size_t back = 1; back <= 4 && back <= text.size(); ++back) {
        const auto byte = static_cast<unsigned char>(text[text.size() - back]);
        if ((byte & 0xC0U) == 0x80U)
            continue;
        const std::size_t length = byte >= 0xF0U ? 4 : byte >= 0xE0U ? 3 : byte >= 0xC0U ? 2 : 1;
        return length > back ? text.size() - back : text.size();
    }
    return text.size();
}

} // namespace isp::cli
