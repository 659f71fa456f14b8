#pragma once

#include "app/win32/GuiEventLoop.h"

#include <windows.h>

#include <string>

// CommonDialog1: the system's file-open dialog, titled "open" and offering
// *.bin files, modal over `owner`. Returns the chosen file's name in UTF-8,
// empty when the user cancelled. The dialog runs the system's own modal
// loop; the upload goes on meanwhile through the loop's poll.
namespace isp::win32 {

std::string askForImageFile(GuiEventLoop& loop, HWND owner);

} // namespace isp::win32
