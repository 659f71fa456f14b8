#include "app/handlers/Messages.h"
#include "app/handlers/Shell.h"
#include "image/ImageFile.h"

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
        transfer_.useImage(loaded.bytes);
        break;
    case ImageLoadResult::Outcome::WrongLength:
        // The upload of an earlier image goes on while the message shows.
        form_.showMessage(messages::FileError);
        transfer_.refuseImage();
        break;
    case ImageLoadResult::Outcome::Unreadable: form_.showMessage(messages::fileUnreadable(loaded.reason)); break;
    }
}

} // namespace isp
