#pragma once

#include <optional>
#include <string_view>

// The port box shows "COMn". The port number is read from the fourth
// character alone when the text has four ("COM7"), otherwise from the fourth
// and fifth ("COM12"; "COM123" gives 12). The first three are not looked at.
namespace isp {

inline std::optional<int> portNumberFromText(std::string_view text)
{
    if (text.size() < 4)
        return std::nullopt;
    const std::string_view digits = text.substr(3, text.size() == 4 ? 1 : 2);
    int value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace isp
