#include "cli/SystemWords.h"

namespace isp::cli {

const SystemWords& posixWords()
{
    static const SystemWords words{false,
        "The serial port: a device (/dev/ttyUSB0), a stable link (/dev/serial/by-id/...) or COMn as the window "
        "numbers the ports",
        "/dev/ttyUSB0", "Close the other program (a terminal program, another flasher, ModemManager), then run again."};
    return words;
}

const SystemWords& windowsWords()
{
    static const SystemWords words{true,
        "The serial port: COMn as Device Manager shows it under Ports (COM & LPT), for example COM3", "COM3",
        "Close the other program (a terminal program, another flasher, a modem tool), then run again."};
    return words;
}

} // namespace isp::cli
