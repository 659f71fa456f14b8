// Reading a bounded file on POSIX systems: no waiting on a FIFO, no
// terminal taken as the controlling one.
#include "image/BoundedFileParts.h"

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

std::string describeErrno(int error)
{
    switch (error) {
    case ENOENT: return "the file does not exist";
    case EACCES:
    case EPERM: return "no permission to read the file";
    case ELOOP: return "the name is a loop of symbolic links";
    case EISDIR: return bounded::FolderReason;
    case ENAMETOOLONG: return "the name is too long";
    default: return std::strerror(error);
    }
}

} // namespace

FileReadResult readBoundedFile(const std::string& path, std::uintmax_t limit)
{
    // O_NONBLOCK: opening a FIFO with no writer must not hang; O_NOCTTY: a
    // terminal named by mistake must not become the controlling one.
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.get() < 0)
        return bounded::unreadable(describeErrno(errno));

    struct stat status {};
    if (::fstat(file.get(), &status) != 0)
        return bounded::unreadable(describeErrno(errno));
    if (S_ISDIR(status.st_mode))
        return bounded::unreadable(bounded::FolderReason);
    if (!S_ISREG(status.st_mode))
        return bounded::unreadable(bounded::NotRegularReason);
    const auto length = static_cast<std::uintmax_t>(status.st_size);
    if (length > limit)
        return bounded::tooLarge(length);

    FileReadResult result;
    result.length = length;
    result.bytes.resize(static_cast<std::size_t>(length));
    std::size_t filled = 0;
    while (filled < result.bytes.size()) {
        const ssize_t got = ::read(file.get(), result.bytes.data() + filled, result.bytes.size() - filled);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return bounded::unreadable(describeErrno(errno));
        if (got == 0)
            return bounded::unreadable(bounded::ShrankReason);
        filled += static_cast<std::size_t>(got);
    }
    result.outcome = FileReadResult::Outcome::Read;
    return result;
}

} // namespace isp
