#pragma once

#include "image/BoundedFile.h"

#include <cstdint>
#include <string>

// What the two systems' readers of a bounded file share: the results they
// give back and the reasons every system words alike. Each system's reader
// lives in image/posix/ or image/windows/; the build takes one.
namespace isp::bounded {

inline constexpr const char* FolderReason = "the name is a folder, not a file";
inline constexpr const char* NotRegularReason = "the name is not a regular file";
inline constexpr const char* ShrankReason = "the file became shorter while it was read";

inline FileReadResult unreadable(std::string reason)
{
    FileReadResult result;
    result.reason = std::move(reason);
    return result;
}

inline FileReadResult tooLarge(std::uintmax_t length)
{
    FileReadResult result;
    result.outcome = FileReadResult::Outcome::TooLarge;
    result.length = length;
    return result;
}

} // namespace isp::bounded
