#include "app/win32/FileDialog.h"

#include "serial/windows/WideText.h"

#include <commdlg.h>

#include <vector>

namespace isp::win32 {

std::string askForImageFile(GuiEventLoop& loop, HWND owner)
{
    // Long enough for any path Windows takes (32767 characters).
    std::vector<wchar_t> name(32768, L'\0');
    // Pairs of a shown name and its pattern, ending in an empty pair.
    static constexpr wchar_t Filter[] = L"*.bin\0*.bin\0";

    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = Filter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = name.data();
    dialog.nMaxFile = static_cast<DWORD>(name.size());
    dialog.lpstrTitle = L"open";
    // The chosen file must exist; the program's current folder stays where
    // it was.
    dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;

    const GuiEventLoop::SystemModalLoop going(loop);
    // A cancel is no error: both give FALSE, the name stays empty.
    if (!::GetOpenFileNameW(&dialog))
        return {};
    return windows::utf8(name.data());
}

} // namespace isp::win32
