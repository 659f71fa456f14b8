#pragma once

#include "cli/Arguments.h"
#include "cli/Console.h"
#include "cli/ExitStatus.h"
#include "cli/UploadRun.h"

// `upload PORT IMAGE`: the run on this system's serial line, real time
// and the reporters the options ask for, until the board is done, the
// upload fails or the user interrupts it.
namespace isp::cli {

ExitStatus runUpload(const UploadOptions& options, Console& console);

// The run's rules as the options set them.
UploadSettings uploadSettingsFrom(const UploadOptions& options);

} // namespace isp::cli
