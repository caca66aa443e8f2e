#include "alerts/alert_center.h"

#include <cmath>

namespace velkantor::alerts {

AlertCenter::AlertCenter(const AlertSettings& settings, Source source)
    : settings_(settings), source_(std::move(source)) {}

ChannelFacts AlertCenter::channel(int ch) const {
    return {ch + 1, source_.seed ? source_.seed(ch) : std::string()};
}

void AlertCenter::send(Topic topic, std::string json) {
    Alert alert{topic, std::move(json)};
    for (auto* output : outputs_) output->send(alert);
}

void AlertCenter::event_started(int ch, const std::string& file_name, const std::string& start_text,
                                bool scheduled) {
    if (ch >= 0 && ch < 4) recording_[static_cast<size_t>(ch)] = true;
    send(Topic::event,
         event_start_json(source_.moment(), {channel(ch), file_name, start_text, scheduled}));
}

void AlertCenter::event_ended(int ch, const runtime::EventSummary& event, double duration_seconds,
                              bool at_stop) {
    if (ch >= 0 && ch < 4) recording_[static_cast<size_t>(ch)] = false;
    last_event_ = event.file_name;
    send(Topic::event,
         event_end_json(source_.moment(),
                        {channel(ch), event.file_name, event.start_text, duration_seconds,
                         event.max_half_wave_peak, event.max_ratio, event.lines, at_stop}));
}

void AlertCenter::alarm_exceeded(int ch, int32_t value, int32_t threshold) {
    send(Topic::alarm, alarm_json(source_.moment(), {channel(ch), value, threshold}));
}

void AlertCenter::board_lost() {
    board_ok_ = false;
    send(Topic::health, health_json(source_.moment(), {"board_lost", "", 0}));
}

void AlertCenter::board_back(double seconds) {
    board_ok_ = true;
    send(Topic::health, health_json(source_.moment(), {"board_back", "seconds", seconds}));
}

void AlertCenter::disk_space_checked(uint64_t free_bytes) {
    const double mb = static_cast<double>(free_bytes) / 1e6;
    const double low = settings_.disk_low_mb;
    if (!disk_low_ && mb < low) {
        disk_low_ = true;
        send(Topic::health, health_json(source_.moment(), {"disk_low", "free_mb", std::floor(mb)}));
    } else if (disk_low_ && mb > low * 1.1 + 1) {
        // Told again only after the space came back by a margin, not at every wobble.
        disk_low_ = false;
    }
}

StateFacts AlertCenter::state_facts() const {
    StateFacts s;
    s.running = source_.running && source_.running();
    s.board_ok = board_ok_;
    for (int ch = 0; ch < 4; ++ch) {
        if (recording_[static_cast<size_t>(ch)]) s.recording.push_back(ch + 1);
    }
    s.last_event = last_event_;
    for (const auto* output : outputs_) s.alerts_dropped += output->dropped();
    return s;
}

void AlertCenter::second(double monotonic) {
    StateFacts facts = state_facts();
    Moment moment = source_.moment();
    // The state without the clock: a change is a change of what it says, not of the time.
    Moment timeless = moment;
    timeless.board_epoch = 0;
    std::string key = state_json(timeless, facts);
    if (key == last_state_ && last_state_at_ >= 0 &&
        monotonic - last_state_at_ < kStateEverySeconds) {
        return;
    }
    last_state_ = key;
    last_state_at_ = monotonic;
    std::string json = state_json(moment, facts);
    for (auto* output : outputs_) output->state(json);
}

}  // namespace velkantor::alerts
