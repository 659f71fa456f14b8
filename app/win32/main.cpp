// The window's program on Windows, velmora-isp2.exe.
#include "app/win32/Program.h"
#include "serial/Platform.h"

#include <windows.h>

#include <commctrl.h>

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*show*/)
{
    isp::platform::tuneProcessForTiming();
    // Version 6 of the common controls (the manifest asks for it), with the
    // progress bar.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
    isp::win32::Program program;
    return program.run();
}
