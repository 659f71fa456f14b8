#include "cli/TraceComponent.h"

#include "image/HexText.h"
#include "serial/LineSettings.h"

#include <chrono>
#include <cstdio>

namespace isp::cli {
namespace {

// Each byte after a blank: " 50 47 00 07".
void writeHex(std::ostream& out, std::span<const std::uint8_t> bytes)
{
    if (!bytes.empty())
        out << ' ' << lowerHex(bytes, " ");
}

} // namespace

std::string parityName(const std::string& settings)
{
    const auto parsed = LineSettings::parse(settings);
    if (!parsed)
        return "unknown";
    switch (parsed->parity) {
    case Parity::None: return "none";
    case Parity::Even: return "even";
    case Parity::Odd: return "odd";
    case Parity::Mark: return "mark";
    case Parity::Space: return "space";
    }
    return "unknown";
}

std::string utcTimestampNow()
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto day = floor<days>(now);
    const year_month_day date(day);
    const auto micros = duration_cast<microseconds>(now - day).count();
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02lld:%02lld:%02lld.%06lldZ", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
        static_cast<long long>(micros / 3'600'000'000LL), static_cast<long long>(micros / 60'000'000LL % 60),
        static_cast<long long>(micros / 1'000'000LL % 60), static_cast<long long>(micros % 1'000'000LL));
    return text;
}

TraceComponent::TraceComponent(SerialComponent& inner, std::ostream& out, Clock& clock, const std::string& portName)
    : ForwardingSerialComponent(inner), out_(out), clock_(clock), start_(clock.now())
{
    out_ << "# velmora-isp2-cli trace of " << portName << ", started " << utcTimestampNow() << "\n"
         << "# seconds since the start, direction, parity (tx), bytes in hex\n";
    out_.flush();
    setInputObserver([this](const std::string& characters) {
        if (characters.empty())
            return;
        writeTime();
        out_ << " rx";
        writeHex(out_, {reinterpret_cast<const std::uint8_t*>(characters.data()), characters.size()});
        out_ << '\n';
        out_.flush();
    });
    setOutputObserver([this](std::span<const std::uint8_t> bytes) {
        writeTime();
        out_ << " tx " << parityName(Settings());
        writeHex(out_, bytes);
        out_ << '\n';
        // Flushed after the page is out, not between header and frame: a
        // write to a slow terminal must not delay the frame.
    });
}

void TraceComponent::dropped(std::string_view characters)
{
    writeTime();
    out_ << " rx dropped";
    writeHex(out_, {reinterpret_cast<const std::uint8_t*>(characters.data()), characters.size()});
    out_ << '\n';
    out_.flush();
}

void TraceComponent::writeTime()
{
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(clock_.now() - start_).count();
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%06lld", static_cast<long long>(micros / 1'000'000),
        static_cast<long long>(micros % 1'000'000));
    out_ << text;
}

} // namespace isp::cli
