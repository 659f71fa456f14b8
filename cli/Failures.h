#pragma once

#include "cli/UploadEvents.h"
#include "serial/CommError.h"

#include <string>

// Every failure the upload reports, with what to do about it. The port's
// failures quote the core's own sentence (which names the port, the program
// holding it, the dialout group) and add the step that helps.
namespace isp::cli {

// Opening the port, before any page; `device` is what was opened and `port`
// how messages name it, for saying who may open it.
Failure openingFailed(const CommResult& failure, const std::string& device, const std::string& port);
// The port failed under a running upload.
Failure lineFailed(const CommResult& failure);
// The device fell silent before every page was sent.
Failure pagesMissing(const BoardSummary& summary, Clock::Duration silence);
// No request came within the time allowed for the first one.
Failure noFirstRequest(Clock::Duration limit, int requestsIgnored);
// Ctrl-C, SIGTERM or SIGHUP, as `status` says. `whatWasDone` tells where the
// upload stood.
Failure interrupted(const std::string& whatWasDone, ExitStatus status = ExitStatus::Interrupted);
// The reader of `output` (stdout, the JSON lines) went away.
Failure outputLost(const std::string& output, const std::string& whatWasDone);

// "1 page", "3 pages": a count with its noun.
std::string countOf(int count, const std::string& noun);

// "1.5 s", "300 ms": a duration as a message says it.
std::string describeDuration(Clock::Duration duration);

} // namespace isp::cli
