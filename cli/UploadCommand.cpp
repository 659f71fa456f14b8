#include "cli/UploadCommand.h"

#include "cli/HumanReport.h"
#include "cli/ImageInput.h"
#include "cli/Interrupts.h"
#include "cli/JsonReport.h"
#include "cli/PortChoice.h"
#include "cli/TraceComponent.h"
#include "cli/Utf8Path.h"
#include "serial/CommControl.h"
#include "serial/Platform.h"
#include "transfer/LoopTimer.h"

#include <filesystem>
#include <fstream>
#include <memory>

namespace isp::cli {
namespace {

Clock::Duration seconds(double value)
{
    return std::chrono::duration_cast<Clock::Duration>(std::chrono::duration<double>(value));
}

// The reporters the options ask for, as one.
class Reporters {
public:
    Reporters(const UploadOptions& options, Console& console, const RunFacts& facts, MainLoop& loop)
        : human_(console.out, console.err, facts, {options.quiet, console.errIsTerminal, options.json, options.loop})
    {
        fanOut_.add(human_);
        if (options.json) {
            lines_ = std::make_unique<JsonLines>(console.out, loop.clock(), loop.clock().now());
            json_ = std::make_unique<JsonReport>(*lines_, facts);
            fanOut_.add(*json_);
        }
    }

    UploadEvents& events() { return fanOut_; }
    void warning(const std::string& text)
    {
        human_.warning(text);
        if (json_)
            json_->warning(text);
    }

private:
    HumanReport human_;
    std::unique_ptr<JsonLines> lines_;
    std::unique_ptr<JsonReport> json_;
    UploadEventsFanOut fanOut_;
};

// Where --trace writes: a file, stderr, or nowhere.
class TraceTarget {
public:
    // False if the file cannot be written.
    bool open(const std::string& name, std::ostream& err)
    {
        if (name.empty())
            return true;
        if (name == "-") {
            stream_ = &err;
            return true;
        }
        file_.open(pathFromUtf8(name), std::ios::out | std::ios::binary | std::ios::trunc);
        stream_ = &file_;
        return file_.is_open();
    }
    std::ostream* stream() const { return stream_; }

private:
    std::ofstream file_;
    std::ostream* stream_ = nullptr;
};

} // namespace

UploadSettings uploadSettingsFrom(const UploadOptions& options)
{
    UploadSettings settings;
    settings.rules.idle = seconds(options.idleTimeout);
    settings.rules.stall = seconds(options.stallTimeout);
    if (options.firstRequestTimeout)
        settings.rules.firstRequest = seconds(*options.firstRequestTimeout);
    settings.rules.loop = options.loop;
    return settings;
}

ExitStatus runUpload(const UploadOptions& options, Console& console)
{
    const std::unique_ptr<MainLoop> loop = platform::makeMainLoop();
    // What PORT names is told before the image is read: with the two
    // arguments swapped, the image is the port and the port a file.
    const PortChoice port = choosePort(options.port, options.image, thisPortSystem());
    RunFacts facts;
    facts.port = port.port ? port.port->facts() : PortFacts{options.port, {}, {}, options.port};
    Reporters reporters(options, console, facts, *loop);
    if (!port.port) {
        reporters.events().failed(port.refusal);
        return port.refusal.status;
    }

    ImageChoice image = readImageInput(options.image);
    if (!image.image) {
        reporters.events().failed(image.refusal);
        return image.refusal.status;
    }
    facts.image = image.image->facts;
    for (const std::string& warning : image.image->warnings)
        reporters.warning(warning);

    TraceTarget trace;
    if (!trace.open(options.trace, console.err)) {
        reporters.events().failed({ExitStatus::Failure, "Cannot write the trace to " + options.trace,
            "Name a file in a folder you may write to, or - for stderr.", 0, 0});
        return ExitStatus::Failure;
    }

    CommControl control(platform::makeSerialLine(*loop), *port.port, *loop);
    std::unique_ptr<TraceComponent> tracing;
    if (trace.stream())
        tracing = std::make_unique<TraceComponent>(control, *trace.stream(), loop->clock(), facts.port.description);
    SerialComponent& MSComm1 = tracing ? static_cast<SerialComponent&>(*tracing) : control;
    LoopTimer Timer1(*loop);

    UploadRun upload(*loop, MSComm1, Timer1, reporters.events(), uploadSettingsFrom(options));
    const InterruptWatch interrupts(*loop, [&upload] { upload.interrupt(); });
    upload.start(1, image.image->bytes);
    while (!upload.finished())
        loop->runOnce(std::chrono::seconds(1));
    return upload.exitStatus();
}

} // namespace isp::cli
