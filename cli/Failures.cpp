#include "cli/Failures.h"

#include "cli/DeviceAccess.h"
#include "cli/SystemWords.h"
#include "image/ImageLayout.h"

#include <cmath>
#include <cstdio>

namespace isp::cli {
namespace {

std::string adviceForPort(int number)
{
    switch (number) {
    case commNoSuchPort:
        return "Plug the adapter in, or name another port: velmora-isp2-cli list shows the ports there are.";
    case commNoPermission: return "Join the dialout group (sudo usermod -aG dialout $USER), then log out and in again.";
    case commPortHeld: return systemWords().heldAdvice;
    case commSettingsRejected:
        return "Use an adapter whose driver can send mark and space parity (FTDI, CP2102, CH340, PL2303).";
    case commDeviceGone: return "Check the cable and the adapter, plug it in again and run again.";
    case commTransmitStalled: return "Unplug the adapter, plug it in again and run again.";
    default: return "Check the adapter and run again.";
    }
}

} // namespace

std::string countOf(int count, const std::string& noun)
{
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string describeDuration(Clock::Duration duration)
{
    const double seconds = std::chrono::duration<double>(duration).count();
    char text[32];
    if (seconds < 1.0)
        std::snprintf(text, sizeof text, "%.0f ms", seconds * 1000.0);
    else
        std::snprintf(text, sizeof text, "%.3g s", seconds);
    return text;
}

Failure openingFailed(const CommResult& failure, const std::string& device, const std::string& port)
{
    if (failure.number() == commNoPermission) {
        if (const auto access = deviceAccessOf(device))
            return noPermission(port, *access);
    }
    return {
        exitStatusForOpening(failure), clause(failure.text()), adviceForPort(failure.number()), failure.number(), 0};
}

Failure lineFailed(const CommResult& failure)
{
    return {exitStatusForLineFailure(failure), "The upload stopped: " + clause(failure.text()),
        adviceForPort(failure.number()), failure.number(), 0};
}

Failure pagesMissing(const BoardSummary& summary, Clock::Duration silence)
{
    const int missing = pagesIn(summary.neverSent);
    std::string message = "The device has been silent for " + describeDuration(silence) + " with "
        + countOf(missing, "page") + " of " + std::to_string(PageCount)
        + " never sent: " + describePageRanges(summary.neverSent);
    return {ExitStatus::PagesMissing, std::move(message),
        "Start the device's boot loader again (reset it) and run again; the image is not complete on the device.", 0,
        summary.board};
}

Failure noFirstRequest(Clock::Duration limit, int requestsIgnored)
{
    std::string message = "The device did not ask for a page within " + describeDuration(limit);
    std::string advice = "Start the device's boot loader (reset it) after the port is open, or give it more time "
                         "with --first-request-timeout.";
    if (requestsIgnored > 0) {
        message += " (" + countOf(requestsIgnored, "request") + " beyond the page limits "
            + (requestsIgnored == 1 ? "was" : "were") + " ignored)";
        advice = "Something talks on this port, but not this device's boot loader: check the port and the device.";
    }
    return {ExitStatus::NoFirstRequest, std::move(message), std::move(advice), 0, 0};
}

Failure interrupted(const std::string& whatWasDone, ExitStatus status)
{
    const char* how = status == ExitStatus::Terminated ? "Interrupted (terminated): "
        : status == ExitStatus::HungUp                 ? "Interrupted (hung up: the terminal was closed): "
                                                       : "Interrupted: ";
    return {status, how + whatWasDone, {}, 0, 0};
}

Failure outputLost(const std::string& output, const std::string& whatWasDone)
{
    return {ExitStatus::OutputLost,
        "The record of the upload is lost: the program reading " + output + " has ended, so no further board is taken; "
            + whatWasDone,
        "Keep the program that reads the output running (a jq or tee that failed ends it), then run again.", 0, 0};
}

} // namespace isp::cli
