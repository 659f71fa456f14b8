#pragma once

#include <string>
#include <string_view>

// Texts between the program (UTF-8) and Win32's wide-character calls:
// every Windows part of the program converts through these two.
namespace isp::windows {

std::wstring wide(std::string_view utf8);
std::string utf8(std::wstring_view wide);

} // namespace isp::windows
