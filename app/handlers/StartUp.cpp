#include "app/handlers/PortNumberText.h"
#include "app/handlers/Shell.h"
#include "transfer/Protocol.h"

namespace isp {
namespace {

// Only COM1 to COM16 are ever offered.
constexpr int HighestScannedPort = 16;

} // namespace

void Shell::Form1_Load()
{
    // Every port that opens, or that another program holds, is listed; the
    // scan leaves them all closed and reports nothing.
    for (int n = 1; n <= HighestScannedPort; ++n) {
        const std::string entry = "COM" + std::to_string(n);
        if (!MSComm1_.setCommPort(n))
            continue;
        const CommResult opened = MSComm1_.setPortOpen(true);
        if (!opened && opened.number() == commPortHeld)
            form_.addPortEntry(entry, MSComm1_.portLocation(n));
        if (MSComm1_.PortOpen()) {
            (void)MSComm1_.setPortOpen(false);
            form_.addPortEntry(entry, MSComm1_.portLocation(n));
        }
    }

    // Showing the first entry is a change of the box and runs its rule.
    if (const auto first = form_.portEntry(0))
        form_.setPortText(*first);
    else
        portsAboveRange_ = MSComm1_.portNumbersAbove(HighestScannedPort);
    if (const auto n = portNumberFromText(form_.portText()))
        state().PortNumber = static_cast<std::uint8_t>(*n);

    transfer_.start();
    form_.setProgressRange(0, PageCount - 1);
}

} // namespace isp
