#include "tests/support/VirtualBootLoader.h"

#include <numeric>

namespace isp::test {
namespace {

constexpr Clock::Duration ByteTime = std::chrono::nanoseconds(11 * 1'000'000'000LL / 38400);
constexpr Clock::Duration MinimumGap = std::chrono::milliseconds(20);

std::string hex(int value)
{
    static const char digits[] = "0123456789ABCDEF";
    return {digits[(value >> 4) & 0xF], digits[value & 0xF]};
}

} // namespace

VirtualBootLoader::VirtualBootLoader(Transport transport, Options options)
    : transport_(std::move(transport)), options_(std::move(options))
{
    order_ = options_.pageOrder;
    if (order_.empty()) {
        order_.resize(PageCount);
        std::iota(order_.begin(), order_.end(), 0);
    }
    if (!options_.split)
        options_.split = defaultSplit;
}

std::pair<int, int> VirtualBootLoader::defaultSplit(int page)
{
    const int c2 = page > 112 ? 112 : page;
    return {c2, page - c2};
}

void VirtualBootLoader::start()
{
    requestNext();
}

void VirtualBootLoader::requestNext()
{
    if (next_ >= order_.size()) {
        awaiting_ = false;
        phase_ = Phase::Idle;
        return;
    }
    page_ = order_[next_];
    retriesOfPage_ = 0;
    requestBeforeArrived_.reset();
    sendRequest();
}

void VirtualBootLoader::sendRequest()
{
    const auto [c2, c3] = options_.split(page_);
    const Bytes request{options_.c0, options_.c1, static_cast<std::uint8_t>(c2), static_cast<std::uint8_t>(c3)};
    awaiting_ = true;
    phase_ = Phase::Header;
    received_.clear();
    transport_.send(request);
    requestArrived_ = transport_.arrivalOf(request.size());

    // A boot loader that hears nothing asks again.
    const std::uint64_t serial = ++requestSerial_;
    transport_.after(options_.retryAfter + std::chrono::milliseconds(40), [this, serial] {
        if (serial != requestSerial_ || !awaiting_)
            return;
        if (retriesOfPage_ >= options_.maxRetries) {
            violation("page " + std::to_string(page_) + " was never answered");
            awaiting_ = false;
            phase_ = Phase::Idle;
            return;
        }
        ++retries_;
        ++retriesOfPage_;
        requestBeforeArrived_ = requestArrived_;
        sendRequest();
    });
}

void VirtualBootLoader::violation(std::string text)
{
    if (violations_.size() < 50)
        violations_.push_back(std::move(text));
}

void VirtualBootLoader::onByte(std::uint8_t value, std::optional<bool> parityBit, Clock::TimePoint finishedAt)
{
    lastByteAt_ = finishedAt;
    if (options_.tolerateOtherPages && parityBit && !*parityBit
        && (phase_ == Phase::Frame || phase_ == Phase::Discard)) {
        // A space-parity byte always starts a header: resynchronise on it.
        phase_ = Phase::Header;
        received_.clear();
    }
    switch (phase_) {
    case Phase::Idle:
        if (!options_.tolerateOtherPages)
            violation("byte " + hex(value) + " that no request asked for");
        return;
    case Phase::Discard:
        if (++discarded_ == PageSize + 1) {
            phase_ = Phase::Header;
            received_.clear();
            ++requestSerial_;
            transport_.after(options_.programmingTime, [this] { sendRequest(); });
        }
        return;
    case Phase::Header:
        if (received_.empty()) {
            const Duration gap = finishedAt - ByteTime - requestArrived_;
            gaps_.push_back(gap);
            const bool forTheRequestBefore = options_.answerMayFollowTheRequestBefore && requestBeforeArrived_
                && finishedAt - ByteTime - *requestBeforeArrived_ >= MinimumGap;
            if (gap < MinimumGap && !options_.tolerateOtherPages && !forTheRequestBefore)
                violation("page " + std::to_string(page_) + " answered after only "
                    + std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(gap).count()) + " us");
        }
        if (parityBit && *parityBit)
            violation("header byte " + hex(value) + " of page " + std::to_string(page_) + " has mark parity");
        received_.push_back(value);
        if (received_.size() == 3) {
            const bool forThisPage = received_[0] == 0 && received_[1] == 0 && received_[2] == page_;
            if (!forThisPage && options_.tolerateOtherPages) {
                ++answersDropped_;
                gaps_.pop_back();
                discarded_ = 0;
                phase_ = Phase::Discard;
                return;
            }
            if (!forThisPage)
                violation("header " + hex(received_[0]) + ' ' + hex(received_[1]) + ' ' + hex(received_[2])
                    + " for page " + std::to_string(page_));
            received_.clear();
            phase_ = Phase::Frame;
        }
        return;
    case Phase::Frame:
        if (parityBit && !*parityBit)
            violation("frame byte " + hex(value) + " of page " + std::to_string(page_) + " has space parity");
        received_.push_back(value);
        if (received_.size() == PageSize + 1)
            pageComplete();
        return;
    }
}

void VirtualBootLoader::pageComplete()
{
    int sum = 0;
    for (std::size_t i = 0; i < PageSize; ++i)
        sum += received_[i];
    if ((sum & 0xFF) != received_[PageSize])
        violation("checksum " + hex(received_[PageSize]) + " of page " + std::to_string(page_) + " should be "
            + hex(sum & 0xFF));
    std::copy(received_.begin(), received_.begin() + PageSize,
        flash_.begin() + static_cast<std::ptrdiff_t>(page_) * PageSize);
    ++pagesWritten_;
    timings_.push_back({page_, requestArrived_, lastByteAt_});
    received_.clear();
    phase_ = Phase::Idle;
    awaiting_ = false;
    ++requestSerial_;
    ++next_;
    transport_.after(options_.programmingTime, [this] { requestNext(); });
}

} // namespace isp::test
