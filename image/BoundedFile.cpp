#include "image/BoundedFile.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>

namespace isp {
namespace {

FileReadResult unreadable(std::string reason)
{
    FileReadResult result;
    result.reason = std::move(reason);
    return result;
}

FileReadResult tooLarge(std::uintmax_t length)
{
    FileReadResult result;
    result.outcome = FileReadResult::Outcome::TooLarge;
    result.length = length;
    return result;
}

constexpr const char* FolderReason = "the name is a folder, not a file";
constexpr const char* NotRegularReason = "the name is not a regular file";
constexpr const char* ShrankReason = "the file became shorter while it was read";

#ifdef _WIN32

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

FileReadResult readFile(const std::string& path, std::uintmax_t limit)
{
    std::wstring wide;
    if (!path.empty()) {
        const int size = static_cast<int>(path.size());
        const int count = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), size, nullptr, 0);
        if (count <= 0)
            return unreadable("the name is not valid UTF-8");
        wide.resize(static_cast<std::size_t>(count));
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), size, wide.data(), count);
    }
    // CreateFileW opens no folder without FILE_FLAG_BACKUP_SEMANTICS and
    // says only "access denied"; ask first to tell the user what it is.
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return unreadable(FolderReason);

    // Sharing write and delete: an editor or a build may hold the file open.
    const Handle file(CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE)
        return unreadable(describeError(GetLastError()));
    // A pipe or a character device (CON, NUL, COM1) could wait for input.
    if (GetFileType(file.get()) != FILE_TYPE_DISK)
        return unreadable(NotRegularReason);

    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size))
        return unreadable(describeError(GetLastError()));
    const auto length = static_cast<std::uintmax_t>(size.QuadPart);
    if (length > limit)
        return tooLarge(length);

    FileReadResult result;
    result.length = length;
    result.bytes.resize(static_cast<std::size_t>(length));
    std::size_t filled = 0;
    while (filled < result.bytes.size()) {
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(result.bytes.size() - filled, 1U << 20));
        DWORD got = 0;
        if (!ReadFile(file.get(), result.bytes.data() + filled, chunk, &got, nullptr))
            return unreadable(describeError(GetLastError()));
        if (got == 0)
            return unreadable(ShrankReason);
        filled += got;
    }
    result.outcome = FileReadResult::Outcome::Read;
    return result;
}

#else

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

std::string describeErrno(int error)
{
    switch (error) {
    case ENOENT: return "the file does not exist";
    case EACCES:
    case EPERM: return "no permission to read the file";
    case ELOOP: return "the name is a loop of symbolic links";
    case EISDIR: return FolderReason;
    case ENAMETOOLONG: return "the name is too long";
    default: return std::strerror(error);
    }
}

FileReadResult readFile(const std::string& path, std::uintmax_t limit)
{
    // O_NONBLOCK: opening a FIFO with no writer must not hang; O_NOCTTY: a
    // terminal named by mistake must not become the controlling one.
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.get() < 0)
        return unreadable(describeErrno(errno));

    struct stat status {};
    if (::fstat(file.get(), &status) != 0)
        return unreadable(describeErrno(errno));
    if (S_ISDIR(status.st_mode))
        return unreadable(FolderReason);
    if (!S_ISREG(status.st_mode))
        return unreadable(NotRegularReason);
    const auto length = static_cast<std::uintmax_t>(status.st_size);
    if (length > limit)
        return tooLarge(length);

    FileReadResult result;
    result.length = length;
    result.bytes.resize(static_cast<std::size_t>(length));
    std::size_t filled = 0;
    while (filled < result.bytes.size()) {
        const ssize_t got = ::read(file.get(), result.bytes.data() + filled, result.bytes.size() - filled);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return unreadable(describeErrno(errno));
        if (got == 0)
            return unreadable(ShrankReason);
        filled += static_cast<std::size_t>(got);
    }
    result.outcome = FileReadResult::Outcome::Read;
    return result;
}

#endif

} // namespace

FileReadResult readBoundedFile(const std::string& path, std::uintmax_t limit)
{
    return readFile(path, limit);
}

} // namespace isp
