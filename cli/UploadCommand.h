#pragma once

#include "cli/Arguments.h"
#include "cli/Console.h"
#include "cli/ExitStatus.h"
#include "cli/UploadSession.h"

// `upload PORT IMAGE`: the session on this system's serial line, real time
// and the reporters the options ask for, until the board is done, the
// upload fails or the user interrupts it.
namespace isp::cli {

ExitStatus runUpload(const UploadOptions& options, Console& console);

// The session's rules as the options set them.
SessionSettings sessionSettingsFrom(const UploadOptions& options);

} // namespace isp::cli
