#pragma once

#include "serial/SerialComponent.h"

// How the boot loader's port is opened, by the user and by the page sender
// before each burst: COMn, the line settings (the parity says what the
// bytes are), buffers of 400, all the input at once, a notification after
// rThreshold characters and none for sending. Stops at the first refusal.
namespace isp {

CommResult openForBootLoader(SerialComponent& comm, int port, const char* settings, int rThreshold);

} // namespace isp
