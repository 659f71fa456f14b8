#include "serial/windows/WideText.h"

#include <windows.h>

namespace isp::windows {

std::wstring wide(std::string_view utf8)
{
    if (utf8.empty())
        return {};
    const auto length = static_cast<int>(utf8.size());
    const int count = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
    std::wstring result(static_cast<std::size_t>(count > 0 ? count : 0), L'\0');
    if (count > 0)
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, result.data(), count);
    return result;
}

std::string utf8(std::wstring_view wide)
{
    if (wide.empty())
        return {};
    const auto length = static_cast<int>(wide.size());
    const int count = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(count > 0 ? count : 0), '\0');
    if (count > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, result.data(), count, nullptr, nullptr);
    return result;
}

} // namespace isp::windows
