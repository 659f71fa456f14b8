#pragma once

#include "image/ImageLayout.h"

// Facts about an image, for showing before it is written.
namespace isp {

// The pages whose 128 bytes are all 0xFF, erased flash: the part of the 224
// pages the image leaves blank. All 224 blank is an image of nothing.
int erasedPageCount(const ImageBytes& image);

} // namespace isp
