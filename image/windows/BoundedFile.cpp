// Reading a bounded file on Windows: wide-character names, and no waiting on
// a pipe or a device named by mistake.
#include "image/BoundedFileParts.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>

namespace isp {
namespace {

class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle()
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

std::string describeError(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return "the file does not exist";
    case ERROR_ACCESS_DENIED: return "no permission to read the file";
    case ERROR_SHARING_VIOLATION: return "another program holds the file open and lets no one read it";
    case ERROR_INVALID_NAME: return "the name is not a valid file name";
    case ERROR_FILENAME_EXCED_RANGE: return "the name is too long";
    default: return "the file cannot be read (Windows error " + std::to_string(error) + ")";
    }
}

} // namespace

FileReadResult readBoundedFile(const std::string& path, std::uintmax_t limit)
{
    std::wstring wide;
    if (!path.empty()) {
        const int size = static_cast<int>(path.size());
        const int count = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), size, nullptr, 0);
        if (count <= 0)
            return bounded::unreadable("the name is not valid UTF-8");
        wide.resize(static_cast<std::size_t>(count));
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), size, wide.data(), count);
    }
    // CreateFileW opens no folder without FILE_FLAG_BACKUP_SEMANTICS and
    // says only "access denied"; ask first to tell the user what it is.
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return bounded::unreadable(bounded::FolderReason);

    // Sharing write and delete: an editor or a build may hold the file open.
    const Handle file(CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE)
        return bounded::unreadable(describeError(GetLastError()));
    // A pipe or a character device (CON, NUL, COM1) could wait for input.
    if (GetFileType(file.get()) != FILE_TYPE_DISK)
        return bounded::unreadable(bounded::NotRegularReason);

    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size))
        return bounded::unreadable(describeError(GetLastError()));
    const auto length = static_cast<std::uintmax_t>(size.QuadPart);
    if (length > limit)
        return bounded::tooLarge(length);

    FileReadResult result;
    result.length = length;
    result.bytes.resize(static_cast<std::size_t>(length));
    std::size_t filled = 0;
    while (filled < result.bytes.size()) {
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(result.bytes.size() - filled, 1U << 20));
        DWORD got = 0;
        if (!ReadFile(file.get(), result.bytes.data() + filled, chunk, &got, nullptr))
            return bounded::unreadable(describeError(GetLastError()));
        if (got == 0)
            return bounded::unreadable(bounded::ShrankReason);
        filled += got;
    }
    result.outcome = FileReadResult::Outcome::Read;
    return result;
}

} // namespace isp
