#pragma once

#include "app/handlers/Shell.h"
#include "image/ImageFile.h"
#include "tests/support/ScriptedForm1.h"

#include <random>

// What the user does with "open file" in the tests: picks a file whose
// reading gives a chosen result, without touching the disk.
namespace isp::test {

inline ImageBytes randomImage(std::uint32_t seed)
{
    std::mt19937 random(seed);
    ImageBytes image{};
    for (auto& byte : image)
        byte = static_cast<std::uint8_t>(random());
    return image;
}

// Opens a file that reads as the given result.
inline void openFileReadingAs(Shell& shell, ScriptedForm1& form, const ImageLoadResult& result)
{
    shell.setImageLoader([result](const std::string&) { return result; });
    form.chosenFiles.emplace_back("chosen.bin");
    shell.OpenFile_Click();
}

// Opens a good image.
inline void openImage(Shell& shell, ScriptedForm1& form, const ImageBytes& image)
{
    ImageLoadResult loaded;
    loaded.outcome = ImageLoadResult::Outcome::Loaded;
    loaded.bytes = image;
    loaded.length = ImageSize;
    openFileReadingAs(shell, form, loaded);
}

// Opens a file of the wrong length: the message shows, then the image is
// no longer loaded.
inline void openWrongLengthFile(Shell& shell, ScriptedForm1& form)
{
    ImageLoadResult wrong;
    wrong.outcome = ImageLoadResult::Outcome::WrongLength;
    wrong.length = 100;
    openFileReadingAs(shell, form, wrong);
}

} // namespace isp::test
