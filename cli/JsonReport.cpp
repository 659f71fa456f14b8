#include "cli/JsonReport.h"

#include "image/HexText.h"
#include "image/ImageLayout.h"

#include <cmath>
#include <cstdio>

namespace isp::cli {
namespace {

// Seconds to the microsecond, as every time in the JSON lines is given.
double jsonSeconds(Clock::Duration duration)
{
    return std::round(std::chrono::duration<double>(duration).count() * 1e6) / 1e6;
}

} // namespace

using Json = nlohmann::ordered_json;

void JsonLines::write(const char* event, const Json& fields)
{
    // Bytes beyond ASCII in a message (a file name) are passed on; a byte
    // that is not UTF-8 becomes U+FFFD rather than breaking the line.
    const auto dump = [](const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); };
    // Times in fixed notation, to the microsecond: the library would write
    // the shortest form, 9e-06 for an early event, which some readers of
    // the lines take badly. Written by hand, field by field; no nested
    // object holds a time.
    const auto fixed = [](double seconds) {
        char text[32];
        std::snprintf(text, sizeof text, "%.6f", seconds);
        return std::string(text);
    };
    std::string line = "{\"schema\":" + std::to_string(JsonSchemaVersion) + ",\"event\":" + dump(event)
        + ",\"time\":" + fixed(jsonSeconds(clock_.now() - start_));
    for (const auto& [key, value] : fields.items())
        line += "," + dump(key) + ":" + (value.is_number_float() ? fixed(value.get<double>()) : dump(value));
    out_ << line << "}\n";
    out_.flush();
}

Json jsonOfPageRanges(const std::vector<PageRange>& ranges)
{
    Json list = Json::array();
    for (const PageRange& range : ranges)
        list.push_back(Json::array({range.first, range.last}));
    return list;
}

Json jsonOfImage(const ImageFacts& image)
{
    return {{"file", image.file}, {"format", image.format}, {"size", ImageSize}, {"crc32", image.crc32},
        {"sha256", image.sha256}, {"erased_pages", image.erasedPages}, {"warnings", image.warnings}};
}

Json jsonOfFailure(const Failure& failure)
{
    Json fields;
    fields["board"] = failure.board > 0 ? Json(failure.board) : Json(nullptr);
    fields["status"] = exitStatusName(failure.status);
    fields["exit_status"] = toInt(failure.status);
    fields["message"] = failure.message;
    fields["advice"] = failure.advice;
    fields["comm_error"] = failure.commError != 0 ? Json(failure.commError) : Json(nullptr);
    return fields;
}

std::string hexOf(const std::string& characters)
{
    return lowerHex({reinterpret_cast<const std::uint8_t*>(characters.data()), characters.size()}, " ");
}

void JsonReport::waiting(const Waiting& waiting)
{
    // A reminder adds nothing a program does not know.
    if (waiting.reminder)
        return;
    lines_.write("waiting",
        {{"board", waiting.board}, {"port", facts_.port.argument}, {"device", facts_.port.device},
            {"com", facts_.port.com ? Json(*facts_.port.com) : Json(nullptr)},
            {"awaiting", waiting.portAwaited ? "port" : "board"}});
}

void JsonReport::boardStarted(int board, int firstPage)
{
    lines_.write("board_started", {{"board", board}, {"page", firstPage}});
}

void JsonReport::pageSent(const PageSent& sent)
{
    Json fields{{"board", sent.board}, {"page", sent.page}, {"pages_sent", sent.pagesSent}};
    if (sent.afterEnd)
        fields["after_end"] = true;
    lines_.write(sent.resent ? "page_resent" : "page_sent", fields);
}

void JsonReport::requestIgnored(int board, const std::string& request)
{
    lines_.write("request_ignored", {{"board", board}, {"request", hexOf(request)}});
}

void JsonReport::boardDone(const BoardSummary& summary)
{
    lines_.write("done",
        {{"board", summary.board}, {"pages_sent", summary.pagesSent}, {"seconds", jsonSeconds(summary.duration)},
            {"port_went_away", summary.portWentAway}});
}

void JsonReport::failed(const Failure& failure)
{
    lines_.write("error", jsonOfFailure(failure));
}

void JsonReport::summary(const BoardSummary& summary)
{
    Json fields;
    fields["board"] = summary.board;
    fields["result"] = exitStatusName(summary.result);
    fields["exit_status"] = toInt(summary.result);
    fields["pages_sent"] = summary.pagesSent;
    fields["answers"] = summary.answers;
    fields["requests"] = summary.requests;
    fields["requests_ignored"] = summary.requestsIgnored;
    fields["stray_characters"] = summary.strayCharacters;
    fields["resent"] = jsonOfPageRanges(summary.resent);
    fields["asked_again"] = jsonOfPageRanges(summary.askedAgain);
    fields["never_asked"] = jsonOfPageRanges(summary.neverAsked);
    fields["never_sent"] = jsonOfPageRanges(summary.neverSent);
    fields["seconds"] = jsonSeconds(summary.duration);
    fields["port_went_away"] = summary.portWentAway;
    fields["port"] = facts_.port.argument;
    fields["device"] = facts_.port.device;
    fields["image"] = jsonOfImage(facts_.image);
    lines_.write("summary", fields);
}

void JsonReport::warning(const std::string& text)
{
    lines_.write("warning", {{"message", text}});
}

} // namespace isp::cli
