#include "image/ImageFacts.h"

#include "image/RecordImage.h"

#include <algorithm>

namespace isp {

int erasedPageCount(const ImageBytes& image)
{
    int count = 0;
    for (auto page = image.begin(); page != image.end(); page += PageSize) {
        if (std::all_of(page, page + PageSize, [](std::uint8_t byte) { return byte == ErasedByte; }))
            ++count;
    }
    return count;
}

} // namespace isp
