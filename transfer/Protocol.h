#pragma once

#include "image/ImageLayout.h"

#include <chrono>

// What the boot loader and this tool agree on. The device drives the upload:
// it sends a short request naming a page, and the tool answers with a 3-byte
// header sent with space parity (parity bit 0) and then the 128 page bytes
// plus a checksum sent with mark parity (parity bit 1). The parity bit is how
// the boot loader tells a header from page data.
namespace isp {

// PageNumber when no page is pending.
inline constexpr int IdlePage = 250;

inline constexpr const char* MarkSettings = "38400,M,8,1";  // page frame, and listening
inline constexpr const char* SpaceSettings = "38400,S,8,1"; // page header

inline constexpr int LineBufferSize = 400; // InBufferSize and OutBufferSize

// Characters that make a receive notification: the user's opening waits for
// 2, the page sender's reopenings for a whole 4-character request.
inline constexpr int OpeningRThreshold = 2;
inline constexpr int RequestLength = 4;

// The request's c2 + c3 names the page; these are the largest addends the
// boot loader sends (112 + 111 = 223, the last page).
inline constexpr int MaxFirstAddend = 112;
inline constexpr int MaxSecondAddend = 111;

// The boot loader needs a moment between sending its request and listening
// for the answer; the page is sent no sooner than this after the request.
inline constexpr std::chrono::milliseconds RequestToPageDelay{20};
// Pause after the frame has left, before the tool is idle again.
inline constexpr std::chrono::milliseconds AfterPagePause{10};

// How long a burst may take to leave the host before the line is declared
// stalled. A header takes under 1 ms and a frame about 37 ms at 38400 baud;
// this is far above both, so only a stuck adapter or flow control trips it.
inline constexpr std::chrono::seconds TransmitWaitLimit{2};

} // namespace isp
