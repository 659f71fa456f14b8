#pragma once

#include "image/ImageLayout.h"

#include <array>
#include <cstdint>

// The state every event handler works on, alive for the whole run and only
// touched on the user-interface thread. Flags hold 0 or 1.
namespace isp {

struct SharedState {
    // n of the port COMn that opening and every reopening use.
    std::uint8_t PortNumber = 0;
    // 1 while the user has the port open, whatever the page sender does to
    // the component in between.
    std::uint8_t PortOpenFlag = 0;
    // 1 once a valid image has been read.
    std::uint8_t FileLoadedFlag = 0;
    // Below 224: the page the device asked for; 250 (IdlePage): none pending.
    std::uint8_t PageNumber = 0;
    // Indices 0 .. 28671 hold the image; the one past it is never sent.
    std::array<std::uint8_t, ImageSize + 1> ImageBuffer{};
};

} // namespace isp
