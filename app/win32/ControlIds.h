#pragma once

#include "app/layout/WindowLayout.h"

#include <cstddef>
#include <string_view>

// The Win32 windows give each control of a layout table the id 1000 + its
// place in the table, so that a control is found by its name (a test's
// driver finds them so too). 1 and 2 stay free: a window that got IDOK or
// IDCANCEL from the dialog manager must not take it for a click.
namespace isp::win32 {

inline constexpr int FirstControlId = 1000;

constexpr int controlId(const layout::Window& window, std::string_view name)
{
    for (std::size_t i = 0; i < window.controls.size(); ++i) {
        if (window.controls[i].name == name)
            return FirstControlId + static_cast<int>(i);
    }
    return 0;
}

// The window class of each window: "VelmoraIsp2.Form1", "VelmoraIsp2.PromptForm".
inline constexpr std::wstring_view ClassPrefix = L"VelmoraIsp2.";

} // namespace isp::win32
