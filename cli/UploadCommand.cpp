#include "cli/UploadCommand.h"

#include "cli/HumanReport.h"
#include "cli/ImageInput.h"
#include "cli/Interrupts.h"
#include "cli/JsonReport.h"
#include "cli/OutputFile.h"
#include "cli/PortChoice.h"
#include "cli/TraceComponent.h"
#include "serial/CommControl.h"
#include "serial/Platform.h"
#include "transfer/LoopTimer.h"

#include <fstream>
#include <memory>
#include <optional>

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

private:
    HumanReport human_;
    std::unique_ptr<JsonLines> lines_;
    std::unique_ptr<JsonReport> json_;
    UploadEventsFanOut fanOut_;
};

// Where --trace writes: a file, stderr, or nowhere.
class TraceTarget {
public:
    // The system's reason if the file cannot be written.
    std::optional<std::string> open(const std::string& name, std::ostream& err)
    {
        if (name.empty())
            return std::nullopt;
        if (name == "-") {
            stream_ = &err;
            return std::nullopt;
        }
        stream_ = &file_;
        return openForWriting(file_, name);
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
    settings.outputName = options.json ? "the JSON lines on stdout" : "stdout";
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
    for (const std::string& warning : facts.image.warnings)
        reporters.events().warning(warning);

    TraceTarget trace;
    if (const auto reason = trace.open(options.trace, console.err)) {
        reporters.events().failed({ExitStatus::Failure, "Cannot write the trace to " + options.trace + ": " + *reason,
            "Name a file in a folder you may write to, or - for stderr.", 0, 0});
        return ExitStatus::Failure;
    }

    CommControl control(platform::makeSerialLine(*loop), *port.port, *loop);
    std::unique_ptr<TraceComponent> tracing;
    if (trace.stream())
        tracing = std::make_unique<TraceComponent>(control, *trace.stream(), loop->clock(), facts.port.description);
    SerialComponent& MSComm1 = tracing ? static_cast<SerialComponent&>(*tracing) : control;
    LoopTimer Timer1(*loop);

    UploadSettings settings = uploadSettingsFrom(options);
    // A port that went away is looked for by its name, a link followed
    // anew; the reports then name the device it is now.
    settings.lookForPort = [&port = *port.port, &facts] {
        port.refresh();
        facts.port = port.facts();
        return port.present();
    };
    settings.outputLost = [&console] { return !console.out; };
    UploadRun upload(*loop, MSComm1, Timer1, reporters.events(), std::move(settings));
    control.setOnDropped([&](std::string_view characters) {
        if (tracing)
            tracing->dropped(characters);
        upload.strayCharacters(static_cast<int>(characters.size()));
    });
    const InterruptWatch interrupts(*loop, [&upload](ExitStatus status) { upload.interrupt(status); });
    upload.start(1, image.image->bytes);
    while (!upload.finished())
        loop->runOnce(std::chrono::seconds(1));
    return upload.exitStatus();
}

} // namespace isp::cli
