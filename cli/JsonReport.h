#pragma once

#include "cli/RunFacts.h"
#include "cli/UploadEvents.h"
#include "serial/Clock.h"

#include <nlohmann/json.hpp>

#include <ostream>
#include <string>

// The upload as JSON Lines on stdout: one object per event, each on one line
// and flushed at once, so that a program reading the pipe follows the
// upload as it happens. Every object starts with "schema" (the version of
// the fields below, raised only when a field changes meaning or goes away),
// "event" and "time" (seconds since the command started, to the
// microsecond). The README lists the events and their fields.
namespace isp::cli {

inline constexpr int JsonSchemaVersion = 1;

// Writes one object as a line: {"schema":1,"event":...,"time":...,<fields>}.
class JsonLines {
public:
    JsonLines(std::ostream& out, Clock& clock, Clock::TimePoint start) : out_(out), clock_(clock), start_(start) {}
    void write(const char* event, const nlohmann::ordered_json& fields);

private:
    std::ostream& out_;
    Clock& clock_;
    Clock::TimePoint start_;
};

class JsonReport final : public UploadEvents {
public:
    // `facts` must outlive the report; it may be completed after construction.
    JsonReport(JsonLines& lines, const RunFacts& facts) : lines_(lines), facts_(facts) {}

    void waiting(const Waiting& waiting) override;
    void boardStarted(int board, int firstPage) override;
    void pageSent(const PageSent& sent) override;
    void requestIgnored(int board, const std::string& request) override;
    void boardDone(const BoardSummary& summary) override;
    void failed(const Failure& failure) override;
    void summary(const BoardSummary& summary) override;
    void warning(const std::string& text) override;

private:
    JsonLines& lines_;
    const RunFacts& facts_;
};

// Pieces shared with the other commands' JSON.
nlohmann::ordered_json jsonOfPageRanges(const std::vector<PageRange>& ranges);
nlohmann::ordered_json jsonOfImage(const ImageFacts& image);
nlohmann::ordered_json jsonOfFailure(const Failure& failure);
// "50 47 70 00": characters as the hex of their bytes.
std::string hexOf(const std::string& characters);

} // namespace isp::cli
