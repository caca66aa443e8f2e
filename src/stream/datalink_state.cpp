#include "stream/datalink_state.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "text/strings.h"

namespace velkantor::stream {

namespace {

constexpr const char* kFormatLine = "velkantor datalink state 1";

bool code_ok(const std::string& text, size_t min, size_t max) {
    return text.size() >= min && text.size() <= max &&
           std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); });
}

std::optional<MicroTime> micro_number(std::string_view text) {
    MicroTime value = 0;
    if (text.empty()) return std::nullopt;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

std::optional<StreamId> stream_id_from_text(const std::string& text) {
    std::vector<std::string> parts;
    size_t at = 0;
    for (;;) {
        size_t underscore = text.find('_', at);
        parts.push_back(text.substr(at, underscore - at));
        if (underscore == std::string::npos) break;
        at = underscore + 1;
    }
    if (parts.size() != 4 || !code_ok(parts[0], 1, 2) || !code_ok(parts[1], 1, 5) ||
        !code_ok(parts[2], 0, 2) || !code_ok(parts[3], 3, 3)) {
        return std::nullopt;
    }
    return StreamId{parts[0], parts[1], parts[2], parts[3]};
}

void DeliveryState::live_acknowledged(const std::string& stream, MicroTime start, bool follows) {
    auto& spans = streams_[stream];
    if (spans.empty()) {
        // A stream new to the state: what the archive holds of it since `since` is owed.
        if (since_ > 0 && since_ <= start) spans.push_back({since_ - 1, since_ - 1});
        spans.push_back({start, start});
    } else if (start <= spans.back().last) {
        // Older than what is acknowledged (the clock stepped back): it needs no place, the
        // backfill never looks inside a span.
        return;
    } else if (follows) {
        spans.back().last = start;
    } else {
        spans.push_back({start, start});
    }
    if (spans.size() > kMaxSpans) {
        spans[0].last = spans[1].last;
        spans.erase(spans.begin() + 1);
        ++given_up_;
    }
}

void DeliveryState::late_acknowledged(const std::string& stream, MicroTime start) {
    auto found = streams_.find(stream);
    if (found == streams_.end()) return;
    auto& spans = found->second;
    auto after = std::upper_bound(spans.begin(), spans.end(), start,
                                  [](MicroTime t, const DeliveredSpan& s) { return t < s.first; });
    if (after == spans.begin()) return;
    // The backfill never sends a record of a span, so the next span stays apart until the
    // gap is closed.
    auto span = std::prev(after);
    span->last = std::max(span->last, start);
}

void DeliveryState::gap_closed(const DeliveryGap& gap) {
    auto found = streams_.find(gap.stream);
    if (found == streams_.end()) return;
    auto& spans = found->second;
    for (size_t i = 0; i + 1 < spans.size(); ++i) {
        if (spans[i + 1].first == gap.before && spans[i].last >= gap.after) {
            spans[i].last = spans[i + 1].last;
            spans.erase(spans.begin() + static_cast<std::ptrdiff_t>(i) + 1);
            return;
        }
    }
}

std::optional<DeliveryGap> DeliveryState::oldest_gap() const {
    std::optional<DeliveryGap> oldest;
    for (const auto& [stream, spans] : streams_) {
        if (spans.size() < 2) continue;
        if (!oldest || spans[0].last < oldest->after) {
            oldest = DeliveryGap{stream, spans[0].last, spans[1].first};
        }
    }
    return oldest;
}

std::string DeliveryState::format() const {
    std::string out = std::string(kFormatLine) + "\nserver " + server_ + "\nsince " +
                      std::to_string(since_) + "\n";
    for (const auto& [stream, spans] : streams_) {
        for (const auto& span : spans) {
            out +=
                stream + " " + std::to_string(span.first) + " " + std::to_string(span.last) + "\n";
        }
    }
    return out;
}

std::optional<DeliveryState> DeliveryState::parse(const std::string& text, std::string& error) {
    auto lines = text::split(text, '\n');
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    size_t line_number = 0;
    auto fail = [&](const std::string& why) -> std::optional<DeliveryState> {
        error = "line " + std::to_string(line_number) + ": " + why;
        return std::nullopt;
    };
    if (lines.size() < 3) {
        error = "it is shorter than its three first lines";
        return std::nullopt;
    }
    line_number = 1;
    if (lines[0] != kFormatLine) return fail("not \"" + std::string(kFormatLine) + "\"");
    line_number = 2;
    if (lines[1].rfind("server ", 0) != 0) return fail("not \"server HOST:PORT\"");
    line_number = 3;
    auto since = lines[2].rfind("since ", 0) == 0 ? micro_number(lines[2].substr(6)) : std::nullopt;
    if (!since || *since < 0) return fail("not \"since MICROSECONDS\"");
    DeliveryState state(lines[1].substr(7), *since);
    for (size_t i = 3; i < lines.size(); ++i) {
        line_number = i + 1;
        auto parts = text::split(lines[i], ' ');
        if (parts.size() != 3) return fail("not \"STREAM FIRST LAST\"");
        if (!stream_id_from_text(parts[0])) return fail("\"" + parts[0] + "\" is not a stream");
        auto first = micro_number(parts[1]);
        auto last = micro_number(parts[2]);
        if (!first || !last || *first > *last) return fail("not two times, the first no later");
        auto& spans = state.streams_[parts[0]];
        if (!spans.empty() && spans.back().last >= *first) {
            return fail("the span is not after the one before it");
        }
        if (spans.size() >= kMaxSpans) return fail("more spans than a stream keeps");
        spans.push_back({*first, *last});
    }
    return state;
}

void RateBound::refill(MicroTime now) {
    if (last_ && now > *last_) {
        tokens_ = std::min(burst_, tokens_ + static_cast<double>(now - *last_) * rate_ / 1e6);
    }
    if (!last_ || now > *last_) last_ = now;
}

bool RateBound::take(MicroTime now) {
    refill(now);
    if (tokens_ < 1) return false;
    tokens_ -= 1;
    return true;
}

MicroTime RateBound::next_token(MicroTime now) {
    refill(now);
    if (tokens_ >= 1 || rate_ <= 0) return now;
    return now + static_cast<MicroTime>(std::ceil((1 - tokens_) / rate_ * 1e6));
}

}  // namespace velkantor::stream
