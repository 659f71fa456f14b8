#pragma once

// Resource ids of the window's program (velmora-isp2.rc). The program's own
// icon is the first one, as Explorer takes it.
#define ISP_PROGRAM_ICON 1
#define ISP_PROMPT_ICON 2

#ifdef __cplusplus
namespace isp::win32 {
inline constexpr int ProgramIcon = ISP_PROGRAM_ICON;
inline constexpr int PromptIcon = ISP_PROMPT_ICON;
} // namespace isp::win32
#endif
