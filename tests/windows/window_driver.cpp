// Drives the Win32 window from a second program in the same Wine prefix, as
// a user or an accessibility tool would reach it, and writes what it saw as
// JSON to a file (a Wine program's output is never read through a pipe: the
// desktop process inherits the pipe and its reader waits forever).
//
//   window_driver OUT.json tree                  the program's windows, their
//                                                controls and the focus
//   window_driver OUT.json click WINDOW CONTROL  a posted BM_CLICK (a sent one
//                                                would wait for a modal window
//                                                it opens to close)
//   window_driver OUT.json key WINDOW KEY        SendInput: tab, shift-tab,
//                                                enter, escape, space, down
//   window_driver OUT.json pick INDEX            the user picks port entry INDEX
//   window_driver OUT.json close WINDOW          the frame's close control
//   window_driver OUT.json wait WINDOW MS        until WINDOW shows, or MS pass
//   window_driver OUT.json gone WINDOW MS        until WINDOW has gone
//                                                (WINDOW may be "dialog" here:
//                                                the file dialog)
//   window_driver OUT.json open-in-dialog PATH   types PATH into the file
//                                                dialog and presses Open
//   window_driver OUT.json cancel-dialog         cancels the file dialog
//   window_driver OUT.json resources EXE         the icons, manifest and
//                                                version information in EXE
//
// WINDOW is Form1 or PromptForm; CONTROL a name of the layout table. The
// exit status is 0 when the command did what it says, 1 otherwise.
#include "app/layout/WindowLayout.h"
#include "app/win32/ControlIds.h"
#include "serial/windows/WideText.h"

#include <nlohmann/json.hpp>

#include <windows.h>

#include <commctrl.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace isp;
using nlohmann::json;

namespace {

const layout::Window* layoutNamed(const std::string& name)
{
    if (name == layout::Form1Layout.name)
        return &layout::Form1Layout;
    if (name == layout::PromptFormLayout.name)
        return &layout::PromptFormLayout;
    return nullptr;
}

HWND findWindowOf(const layout::Window& layout)
{
    const std::wstring className = std::wstring(win32::ClassPrefix) + windows::wide(layout.name);
    HWND found = ::FindWindowW(className.c_str(), nullptr);
    return found != nullptr && ::IsWindowVisible(found) ? found : nullptr;
}

std::string textOf(HWND window)
{
    wchar_t text[1024] = {};
    DWORD_PTR copied = 0;
    ::SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, &copied);
    return windows::utf8(text);
}

std::string classOf(HWND window)
{
    wchar_t name[256] = {};
    ::GetClassNameW(window, name, 256);
    return windows::utf8(name);
}

LRESULT ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
{
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 2000, &result);
    return static_cast<LRESULT>(result);
}

json rectJson(const RECT& r)
{
    return {{"left", r.left}, {"top", r.top}, {"width", r.right - r.left}, {"height", r.bottom - r.top}};
}

// The sizes of the pictures in an icon resource: its group's directory,
// whose entries give width 0 for 256.
json iconSizes(HMODULE module, int id)
{
    json sizes = json::array();
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(14)); // RT_GROUP_ICON
    if (found == nullptr)
        return sizes;
    const auto* bytes = static_cast<const BYTE*>(::LockResource(::LoadResource(module, found)));
    const int count = bytes[4] | (bytes[5] << 8);
    for (int i = 0; i < count; ++i) {
        const BYTE width = bytes[6 + 14 * i];
        sizes.push_back(width == 0 ? 256 : width);
    }
    return sizes;
}

std::string versionValue(const std::wstring& exe, const wchar_t* name)
{
    const DWORD size = ::GetFileVersionInfoSizeW(exe.c_str(), nullptr);
    std::vector<BYTE> block(size);
    if (size == 0 || !::GetFileVersionInfoW(exe.c_str(), 0, size, block.data()))
        return {};
    void* value = nullptr;
    UINT length = 0;
    const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    if (!::VerQueryValueW(block.data(), path.c_str(), &value, &length) || length == 0)
        return {};
    return windows::utf8(static_cast<const wchar_t*>(value));
}

json resources(const std::string& exe)
{
    const std::wstring path = windows::wide(exe);
    HMODULE module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == nullptr)
        return {{"error", "cannot load " + exe}};
    std::string manifest;
    if (HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))) { // RT_MANIFEST
        const auto* text = static_cast<const char*>(::LockResource(::LoadResource(module, found)));
        manifest.assign(text, ::SizeofResource(module, found));
    }
    json result = {
        {"programIcon", iconSizes(module, 1)},
        {"promptIcon", iconSizes(module, 2)},
        {"manifest", manifest},
        {"productName", versionValue(path, L"ProductName")},
        {"fileVersion", versionValue(path, L"FileVersion")},
        {"originalFilename", versionValue(path, L"OriginalFilename")},
    };
    ::FreeLibrary(module);
    return result;
}

json windowJson(const layout::Window& layout, HWND window, HWND focus)
{
    RECT client{};
    ::GetClientRect(window, &client);
    POINT origin{0, 0};
    ::ClientToScreen(window, &origin);
    RECT frame{};
    ::GetWindowRect(window, &frame);
    json w = {
        {"name", std::string(layout.name)},
        {"frame", rectJson(frame)},
        {"caption", textOf(window)},
        {"client", {{"left", origin.x}, {"top", origin.y}, {"width", client.right}, {"height", client.bottom}}},
        {"enabled", ::IsWindowEnabled(window) != 0},
        {"dpi", ::GetDpiForWindow(window)},
        {"owner", ::GetWindow(window, GW_OWNER) != nullptr},
        {"focus", ""},
    };
    json controls = json::array();
    // In the order of the window's children: Tab follows it.
    for (HWND child = ::GetWindow(window, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        const int id = ::GetDlgCtrlID(child);
        const int index = id - win32::FirstControlId;
        json c = {
            {"id", id},
            {"name",
                index >= 0 && static_cast<std::size_t>(index) < layout.controls.size()
                    ? std::string(layout.controls[static_cast<std::size_t>(index)].name)
                    : std::string()},
            {"class", classOf(child)},
            {"text", textOf(child)},
            {"tabStop", (::GetWindowLongW(child, GWL_STYLE) & WS_TABSTOP) != 0},
            {"defaultButton", (::GetWindowLongW(child, GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON},
            {"enabled", ::IsWindowEnabled(child) != 0},
            {"visible", ::IsWindowVisible(child) != 0},
        };
        RECT r{};
        ::GetWindowRect(child, &r);
        ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
        c["rect"] = rectJson(r);
        const std::string cls = c["class"];
        if (cls == "ComboBox") {
            json entries = json::array();
            const auto count = static_cast<int>(ask(child, CB_GETCOUNT));
            for (int i = 0; i < count; ++i) {
                wchar_t entry[256] = {};
                if (ask(child, CB_GETLBTEXTLEN, static_cast<WPARAM>(i)) < 255)
                    ask(child, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(entry));
                entries.push_back(windows::utf8(entry));
            }
            c["entries"] = entries;
            c["picked"] = static_cast<int>(ask(child, CB_GETCURSEL));
            c["fieldHeight"] = static_cast<int>(ask(child, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1)));
        }
        if (cls == "msctls_progress32") {
            c["minimum"] = static_cast<int>(ask(child, PBM_GETRANGE, TRUE));
            c["maximum"] = static_cast<int>(ask(child, PBM_GETRANGE, FALSE));
            c["value"] = static_cast<int>(ask(child, PBM_GETPOS));
        }
        if (child == focus)
            w["focus"] = c["name"];
        controls.push_back(c);
    }
    w["controls"] = controls;
    return w;
}

// The focus of the thread that owns the program's windows.
HWND focusOf(HWND window)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info))
        return nullptr;
    return info.hwndFocus;
}

json tree()
{
    json windows = json::array();
    for (const layout::Window* layout : {&layout::Form1Layout, &layout::PromptFormLayout}) {
        if (HWND window = findWindowOf(*layout))
            windows.push_back(windowJson(*layout, window, focusOf(window)));
    }
    // The file dialog, when it is open: what it offers.
    if (HWND dialog = ::FindWindowW(L"#32770", nullptr); dialog != nullptr && ::IsWindowVisible(dialog)) {
        // Its file type box is the combo box of id 1136 (cmb1).
        windows.push_back({{"name", "dialog"}, {"caption", textOf(dialog)},
            {"owner", ::GetWindow(dialog, GW_OWNER) != nullptr}, {"filter", textOf(::GetDlgItem(dialog, 1136))}});
    }
    return {{"windows", windows}};
}

bool waitFor(const std::function<bool()>& done, int milliseconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void sendKey(WORD key, bool shift)
{
    std::vector<INPUT> inputs;
    const auto press = [&inputs](WORD vk, bool up) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = vk;
        input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        inputs.push_back(input);
    };
    if (shift)
        press(VK_SHIFT, false);
    press(key, false);
    press(key, true);
    if (shift)
        press(VK_SHIFT, true);
    ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

HWND fileDialog()
{
    HWND dialog = ::FindWindowW(L"#32770", L"open");
    return dialog != nullptr && ::IsWindowVisible(dialog) ? dialog : nullptr;
}

// The file name box of the dialog: an edit inside the ComboBoxEx of id
// 1148, or an edit of that id.
HWND fileNameEdit(HWND dialog)
{
    HWND box = ::GetDlgItem(dialog, 1148);
    if (box == nullptr)
        return nullptr;
    if (classOf(box) == "Edit")
        return box;
    HWND edit = ::FindWindowExW(box, nullptr, L"Edit", nullptr);
    if (edit == nullptr) {
        if (HWND inner = ::FindWindowExW(box, nullptr, L"ComboBox", nullptr))
            edit = ::FindWindowExW(inner, nullptr, L"Edit", nullptr);
    }
    return edit;
}

int run(const std::vector<std::string>& args, json& out)
{
    const std::string command = args.empty() ? "" : args[0];
    if (command == "tree") {
        out = tree();
        return 0;
    }
    if (command == "resources" && args.size() >= 2) {
        out = resources(args[1]);
        return out.contains("error") ? 1 : 0;
    }
    if ((command == "wait" || command == "gone") && args.size() >= 2 && args[1] == "dialog") {
        const int ms = args.size() > 2 ? std::stoi(args[2]) : 5000;
        const bool want = command == "wait";
        return waitFor([&] { return (fileDialog() != nullptr) == want; }, ms) ? 0 : 1;
    }
    if ((command == "click" || command == "key" || command == "close" || command == "wait" || command == "gone")
        && args.size() >= 2) {
        const layout::Window* layout = layoutNamed(args[1]);
        if (layout == nullptr) {
            out["error"] = "no window " + args[1];
            return 1;
        }
        if (command == "wait" || command == "gone") {
            const int ms = args.size() > 2 ? std::stoi(args[2]) : 5000;
            const bool want = command == "wait";
            return waitFor([&] { return (findWindowOf(*layout) != nullptr) == want; }, ms) ? 0 : 1;
        }
        HWND window = findWindowOf(*layout);
        if (window == nullptr) {
            out["error"] = args[1] + " is not showing";
            return 1;
        }
        if (command == "close")
            return ::PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
        if (command == "click" && args.size() >= 3) {
            HWND control = ::GetDlgItem(window, win32::controlId(*layout, args[2]));
            return control != nullptr && ::PostMessageW(control, BM_CLICK, 0, 0) ? 0 : 1;
        }
        if (command == "key" && args.size() >= 3) {
            ::SetForegroundWindow(window);
            const std::string& key = args[2];
            const WORD vk = key == "tab" || key == "shift-tab" ? VK_TAB
                : key == "enter"                               ? VK_RETURN
                : key == "escape"                              ? VK_ESCAPE
                : key == "space"                               ? VK_SPACE
                : key == "down"                                ? VK_DOWN
                                                               : 0;
            if (vk == 0)
                return 1;
            sendKey(vk, key == "shift-tab");
            return 0;
        }
    }
    if (command == "pick" && args.size() >= 2) {
        HWND window = findWindowOf(layout::Form1Layout);
        const int id = win32::controlId(layout::Form1Layout, "ComSelect");
        HWND box = window != nullptr ? ::GetDlgItem(window, id) : nullptr;
        if (box == nullptr)
            return 1;
        // As the list does when the user picks: the selection, then its
        // notification to the window.
        ask(box, CB_SETCURSEL, static_cast<WPARAM>(std::stoi(args[1])));
        return ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(box)) ? 0 : 1;
    }
    if (command == "open-in-dialog" && args.size() >= 2) {
        HWND dialog = nullptr;
        if (!waitFor([&] { return (dialog = fileDialog()) != nullptr && fileNameEdit(dialog) != nullptr; }, 10000))
            return 1;
        const std::wstring path = windows::wide(args[1]);
        ask(fileNameEdit(dialog), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
        return ::PostMessageW(::GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0) ? 0 : 1;
    }
    if (command == "cancel-dialog") {
        HWND dialog = nullptr;
        if (!waitFor([&] { return (dialog = fileDialog()) != nullptr; }, 10000))
            return 1;
        return ::PostMessageW(::GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0) ? 0 : 1;
    }
    out["error"] = "unknown command";
    return 1;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 3)
        return 2;
    std::vector<std::string> args(argv + 2, argv + argc);
    json out = json::object();
    const int status = run(args, out);
    out["status"] = status;
    std::ofstream(argv[1]) << out.dump(1) << '\n';
    return status;
}
