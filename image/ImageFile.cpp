#include "image/ImageFile.h"

#include "image/BoundedFile.h"

#include <algorithm>

namespace isp {

ImageLoadResult loadImageFile(const std::string& path)
{
    // A file longer than the image is refused by its length, unread; a FIFO,
    // a folder or a device never makes the window wait.
    FileReadResult file = readBoundedFile(path, ImageSize);
    ImageLoadResult result;
    result.length = file.length;
    switch (file.outcome) {
    case FileReadResult::Outcome::Unreadable:
        result.outcome = ImageLoadResult::Outcome::Unreadable;
        result.reason = std::move(file.reason);
        return result;
    case FileReadResult::Outcome::TooLarge: result.outcome = ImageLoadResult::Outcome::WrongLength; return result;
    case FileReadResult::Outcome::Read: break;
    }
    if (file.bytes.size() != result.bytes.size()) {
        result.outcome = ImageLoadResult::Outcome::WrongLength;
        return result;
    }
    std::copy(file.bytes.begin(), file.bytes.end(), result.bytes.begin());
    result.outcome = ImageLoadResult::Outcome::Loaded;
    return result;
}

} // namespace isp
