#include "cli/ExitStatus.h"

namespace isp::cli {

const char* exitStatusName(ExitStatus status)
{
    switch (status) {
    case ExitStatus::Ok: return "ok";
    case ExitStatus::Failure: return "failure";
    case ExitStatus::Usage: return "usage";
    case ExitStatus::ImageRefused: return "image-refused";
    case ExitStatus::PortMissing: return "port-missing";
    case ExitStatus::NoPermission: return "no-permission";
    case ExitStatus::PortHeld: return "port-held";
    case ExitStatus::NoFirstRequest: return "no-first-request";
    case ExitStatus::PagesMissing: return "pages-missing";
    case ExitStatus::PortLost: return "port-lost";
    case ExitStatus::OutputLost: return "output-lost";
    case ExitStatus::HungUp:
    case ExitStatus::Interrupted:
    case ExitStatus::Terminated: return "interrupted";
    }
    return "failure";
}

ExitStatus exitStatusForOpening(const CommResult& failure)
{
    switch (failure.number()) {
    case commNoSuchPort: return ExitStatus::PortMissing;
    case commNoPermission: return ExitStatus::NoPermission;
    case commPortHeld: return ExitStatus::PortHeld;
    default: return ExitStatus::Failure;
    }
}

ExitStatus exitStatusForLineFailure(const CommResult& failure)
{
    switch (failure.number()) {
    // A reopening between header and frame finds the node gone once the
    // adapter is unplugged: the same loss, seen a moment later.
    case commDeviceGone:
    case commNoSuchPort: return ExitStatus::PortLost;
    default: return ExitStatus::Failure;
    }
}

} // namespace isp::cli
