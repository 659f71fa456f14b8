#pragma once

#include <cstddef>
#include <string>

// Text that fits a terminal of 80 columns, broken between words only.
namespace isp::cli {

inline constexpr std::size_t HelpWidth = 80;

// `text` in lines of at most `width` characters, broken at blanks; a word
// longer than that stands alone on its line. Line ends in `text` stay.
std::string wrapped(const std::string& text, std::size_t width);

} // namespace isp::cli
