#include "app/win32/LaidOutWindow.h"

#include "app/win32/ControlIds.h"
#include "serial/windows/WideText.h"

#include <commctrl.h>

#include <algorithm>
#include <string>

namespace isp::win32 {
namespace {

// Every laid-out window of the program that exists, for Tab.
std::vector<LaidOutWindow*>& openWindows()
{
    static std::vector<LaidOutWindow*> windows;
    return windows;
}

// Room for every port COM1 to COM16 when the list drops down.
constexpr int DroppedEntries = 16;

HINSTANCE instance()
{
    return ::GetModuleHandleW(nullptr);
}

std::wstring classNameOf(const layout::Window& layout)
{
    return std::wstring(ClassPrefix) + windows::wide(layout.name);
}

void registerClass(const std::wstring& name, WNDPROC procedure)
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance();
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    // The face colour, as dialogs have it: the labels draw on it too.
    windowClass.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = name.c_str();
    ::RegisterClassExW(&windowClass); // a second window of the class finds it there
}

struct ControlClass {
    const wchar_t* name;
    DWORD style;
};

ControlClass controlClassOf(layout::Kind kind)
{
    switch (kind) {
    // No BS_DEFPUSHBUTTON anywhere: no button is pressed by Enter.
    case layout::Kind::PushButton: return {L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP};
    // SS_NOPREFIX: an '&' in a message is shown, not taken for a mnemonic.
    case layout::Kind::Label: return {L"STATIC", SS_LEFT | SS_NOPREFIX};
    case layout::Kind::DropDownList: return {WC_COMBOBOXW, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP};
    case layout::Kind::ProgressBar: return {PROGRESS_CLASSW, 0};
    }
    return {L"STATIC", 0};
}

HFONT messageFontFor(UINT dpi)
{
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (!::SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi))
        return static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
    return ::CreateFontIndirectW(&metrics.lfMessageFont);
}

HICON iconFor(int resource, int metric, UINT dpi)
{
    const int size = ::GetSystemMetricsForDpi(metric, dpi);
    return static_cast<HICON>(::LoadImageW(instance(), MAKEINTRESOURCEW(resource), IMAGE_ICON, size, size, 0));
}

} // namespace

LaidOutWindow::LaidOutWindow(const layout::Window& layout, GuiEventLoop& loop, HWND owner, DWORD style, int icon)
    : layout_(layout), loop_(loop), style_(style), icon_(icon)
{
    const std::wstring className = classNameOf(layout);
    registerClass(className, procedure);
    // Made hidden and at no place; layOut() puts it where it belongs once
    // its density is known.
    ::CreateWindowExW(0, className.c_str(), windows::wide(layout.caption).c_str(), style, 0, 0, 0, 0, owner, nullptr,
        instance(), this);
    if (window_ == nullptr)
        return;
    openWindows().push_back(this);
    dpi_ = ::GetDpiForWindow(window_);
    createControls();
    layOut(nullptr);
}

LaidOutWindow::~LaidOutWindow()
{
    std::erase(openWindows(), this);
    if (window_ != nullptr) {
        // Nothing of the window reaches this half-destroyed object any more.
        ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        ::DestroyWindow(window_);
    }
    if (font_ != nullptr)
        ::DeleteObject(font_);
    if (bigIcon_ != nullptr)
        ::DestroyIcon(bigIcon_);
    if (smallIcon_ != nullptr)
        ::DestroyIcon(smallIcon_);
}

HWND LaidOutWindow::control(std::string_view name) const
{
    for (std::size_t i = 0; i < layout_.controls.size(); ++i) {
        if (layout_.controls[i].name == name)
            return controls_[i];
    }
    return nullptr;
}

std::string_view LaidOutWindow::controlName(int id) const
{
    const int index = id - FirstControlId;
    if (index < 0 || static_cast<std::size_t>(index) >= layout_.controls.size())
        return {};
    return layout_.controls[static_cast<std::size_t>(index)].name;
}

void LaidOutWindow::createControls()
{
    for (std::size_t i = 0; i < layout_.controls.size(); ++i) {
        const layout::Control& c = layout_.controls[i];
        const ControlClass kind = controlClassOf(c.kind);
        const auto id = static_cast<INT_PTR>(FirstControlId + static_cast<int>(i));
        // Made in focus order: Tab follows the order children were made in.
        HWND made = ::CreateWindowExW(0, kind.name, windows::wide(c.text).c_str(), WS_CHILD | WS_VISIBLE | kind.style,
            0, 0, 0, 0, window_, reinterpret_cast<HMENU>(id), instance(), nullptr);
        if (c.kind == layout::Kind::ProgressBar)
            ::SendMessageW(made, PBM_SETRANGE32, 0, 100);
        if (c.kind == layout::Kind::DropDownList)
            ::SendMessageW(made, CB_SETMINVISIBLE, DroppedEntries, 0);
        controls_.push_back(made);
    }
}

void LaidOutWindow::layOut(const RECT* suggested)
{
    HFONT previous = font_;
    font_ = messageFontFor(dpi_);
    for (std::size_t i = 0; i < controls_.size(); ++i) {
        const layout::TwipsRect& r = layout_.controls[i].rect;
        ::SendMessageW(controls_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        if (layout_.controls[i].kind == layout::Kind::DropDownList) {
            sizeDropDownList(controls_[i], pixels(r.left), pixels(r.top), pixels(r.width), pixels(r.height));
            continue;
        }
        ::SetWindowPos(controls_[i], nullptr, pixels(r.left), pixels(r.top), pixels(r.width), pixels(r.height),
            SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (previous != nullptr)
        ::DeleteObject(previous);

    for (HICON* icon : {&bigIcon_, &smallIcon_}) {
        if (*icon != nullptr)
            ::DestroyIcon(*icon);
    }
    // A window whose icon is drawn only small (the message window's 16
    // pixels) has no large one made up from it.
    const bool drawnLarge = layout_.iconPixels >= 32;
    bigIcon_ = drawnLarge ? iconFor(icon_, SM_CXICON, dpi_) : nullptr;
    smallIcon_ = iconFor(icon_, SM_CXSMICON, dpi_);
    ::SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
    ::SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));

    extraHeight_ = 0;
    afterLayout();
    placeWindow(suggested);
    ::InvalidateRect(window_, nullptr, TRUE);
}

void LaidOutWindow::sizeDropDownList(HWND box, int left, int top, int width, int height)
{
    // A drop-down list's own height is that of its closed box plus its
    // list; the box is as high as its selection field makes it. Ask for the
    // field that gives the drawn height, and correct it once by what came
    // out (themes add borders of their own).
    ::SetWindowPos(box, nullptr, left, top, width, height * (1 + DroppedEntries), SWP_NOZORDER | SWP_NOACTIVATE);
    const auto field = static_cast<int>(::SendMessageW(box, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0));
    RECT closed;
    ::GetWindowRect(box, &closed);
    const int off = height - static_cast<int>(closed.bottom - closed.top);
    if (off != 0 && field + off > 0)
        ::SendMessageW(box, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), field + off);
}

void LaidOutWindow::setExtraHeight(int pixels)
{
    extraHeight_ = pixels;
}

void LaidOutWindow::placeControl(std::string_view name, int left, int top, int width, int height)
{
    if (HWND c = control(name))
        ::SetWindowPos(c, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void LaidOutWindow::placeWindow(const RECT* suggested)
{
    const layout::TwipsRect& area = layout_.clientArea;
    RECT frame{pixels(area.left), pixels(area.top), pixels(area.left) + pixels(area.width),
        pixels(area.top) + pixels(area.height) + extraHeight_};
    ::AdjustWindowRectExForDpi(&frame, style_, FALSE, 0, dpi_);
    const int width = static_cast<int>(frame.right - frame.left);
    const int height = static_cast<int>(frame.bottom - frame.top);
    const int left = suggested != nullptr ? static_cast<int>(suggested->left) : static_cast<int>(frame.left);
    const int top = suggested != nullptr ? static_cast<int>(suggested->top) : static_cast<int>(frame.top);
    ::SetWindowPos(window_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND LaidOutWindow::firstFocusable() const
{
    for (std::size_t i = 0; i < controls_.size(); ++i) {
        if (layout::takesFocus(layout_.controls[i].kind) && ::IsWindowEnabled(controls_[i]))
            return controls_[i];
    }
    return nullptr;
}

void LaidOutWindow::show()
{
    ::ShowWindow(window_, SW_SHOWNORMAL);
    ::SetForegroundWindow(window_);
    if (HWND first = firstFocusable())
        ::SetFocus(first);
}

bool LaidOutWindow::moveFocusOnTab(const MSG& message)
{
    if (message.message != WM_KEYDOWN || message.wParam != VK_TAB)
        return false;
    return std::any_of(openWindows().begin(), openWindows().end(),
        [&message](LaidOutWindow* window) { return window->moveFocusOnTabHere(message); });
}

bool LaidOutWindow::moveFocusOnTabHere(const MSG& message)
{
    if (window_ == nullptr || (message.hwnd != window_ && !::IsChild(window_, message.hwnd)))
        return false;
    const bool backwards = ::GetKeyState(VK_SHIFT) < 0;
    if (HWND next = ::GetNextDlgTabItem(window_, ::GetFocus(), backwards ? TRUE : FALSE))
        ::SetFocus(next);
    return true;
}

bool LaidOutWindow::handleMessage(UINT /*message*/, WPARAM /*wParam*/, LPARAM /*lParam*/, LRESULT& /*result*/)
{
    return false;
}

LRESULT LaidOutWindow::dispatch(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
            HWND focus = ::GetFocus();
            if (focus != nullptr && ::IsChild(window_, focus))
                focusBeforeDeactivation_ = focus;
        } else if (HIWORD(wParam) == 0) {
            // A plain window would take the focus itself: give it back.
            HWND back = focusBeforeDeactivation_;
            if (back == nullptr || !::IsWindowEnabled(back))
                back = firstFocusable();
            if (back != nullptr)
                ::SetFocus(back);
        }
        return 0;
    case WM_DPICHANGED:
        dpi_ = HIWORD(wParam);
        layOut(reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_ENTERSIZEMOVE:
    case WM_ENTERMENULOOP: loop_.enterSystemModalLoop(); break;
    case WM_EXITSIZEMOVE:
    case WM_EXITMENULOOP: loop_.leaveSystemModalLoop(); break;
    default: break;
    }
    LRESULT result = 0;
    if (handleMessage(message, wParam, lParam, result))
        return result;
    return ::DefWindowProcW(window_, message, wParam, lParam);
}

LRESULT CALLBACK LaidOutWindow::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* made = static_cast<LaidOutWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        made->window_ = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(made));
    }
    auto* self = reinterpret_cast<LaidOutWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr)
        return ::DefWindowProcW(window, message, wParam, lParam);
    const LRESULT result = self->dispatch(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->window_ = nullptr;
    }
    return result;
}

} // namespace isp::win32
