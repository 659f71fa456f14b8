#pragma once

#include "cli/Arguments.h"
#include "cli/Console.h"
#include "cli/ExitStatus.h"

// `info IMAGE` and `convert IN OUT.bin`: what an upload would send, looked at
// or written out, without a port.
namespace isp::cli {

ExitStatus runInfo(const InfoOptions& options, Console& console);
ExitStatus runConvert(const ConvertOptions& options, Console& console);

} // namespace isp::cli
