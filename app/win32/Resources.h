#pragma once

// Resource ids of the window's program: the program's own icon is the first
// one, as Explorer takes it (cmake/WindowsResources.cmake), the message
// window's the second (velmora-isp2-extra.rc).
namespace isp::win32 {
inline constexpr int ProgramIcon = 1;
inline constexpr int PromptIcon = 2;
} // namespace isp::win32
