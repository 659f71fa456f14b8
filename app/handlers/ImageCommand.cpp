#include "app/handlers/Messages.h"
#include "app/handlers/Shell.h"
#include "image/ImageFile.h"

#include <algorithm>

namespace isp {

void Shell::OpenFile_Click()
{
    const std::string path = form_.chooseImageFile();
    if (path.empty())
        return;

    const ImageLoadResult loaded = loadImage_(path);
    switch (loaded.outcome) {
    case ImageLoadResult::Outcome::Loaded:
        // All 28672 bytes arrived: only now replace the image and say so.
        std::copy(loaded.bytes.begin(), loaded.bytes.end(), state_.ImageBuffer.begin());
        state_.FileLoadedFlag = 1;
        break;
    case ImageLoadResult::Outcome::WrongLength:
        // The upload of an earlier image goes on while the message shows.
        form_.showMessage(messages::FileError);
        state_.FileLoadedFlag = 0;
        break;
    case ImageLoadResult::Outcome::Unreadable: form_.showMessage(messages::fileUnreadable(loaded.reason)); break;
    }
}

} // namespace isp
