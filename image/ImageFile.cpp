#include "image/ImageFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace isp {
namespace {

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

ImageLoadResult unreadable(std::string reason)
{
    ImageLoadResult result;
    result.outcome = ImageLoadResult::Outcome::Unreadable;
    result.reason = std::move(reason);
    return result;
}

std::string describeErrno(int error)
{
    switch (error) {
    case ENOENT: return "the file does not exist";
    case EACCES:
    case EPERM: return "no permission to read the file";
    case ELOOP: return "the name is a loop of symbolic links";
    case EISDIR: return "the name is a folder, not a file";
    case ENAMETOOLONG: return "the name is too long";
    default: return std::strerror(error);
    }
}

} // namespace

ImageLoadResult loadImageFile(const std::string& path)
{
    // O_NONBLOCK: opening a FIFO with no writer must not hang the window.
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.get() < 0)
        return unreadable(describeErrno(errno));

    struct stat status {};
    if (::fstat(file.get(), &status) != 0)
        return unreadable(describeErrno(errno));
    if (S_ISDIR(status.st_mode))
        return unreadable(describeErrno(EISDIR));
    if (!S_ISREG(status.st_mode))
        return unreadable("the name is not a regular file");

    ImageLoadResult result;
    result.length = static_cast<std::uintmax_t>(status.st_size);
    if (result.length != static_cast<std::uintmax_t>(ImageSize)) {
        result.outcome = ImageLoadResult::Outcome::WrongLength;
        return result;
    }

    std::size_t filled = 0;
    while (filled < result.bytes.size()) {
        const ssize_t got = ::read(file.get(), result.bytes.data() + filled, result.bytes.size() - filled);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return unreadable(describeErrno(errno));
        if (got == 0)
            return unreadable("the file became shorter while it was read");
        filled += static_cast<std::size_t>(got);
    }
    result.outcome = ImageLoadResult::Outcome::Loaded;
    return result;
}

} // namespace isp
