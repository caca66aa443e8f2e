#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "alerts/alert_messages.h"
#include "alerts/alert_queue.h"
#include "alerts/alert_settings.h"
#include "runtime/station_observer.h"

namespace velkantor::alerts {

// A sender of alerts (MQTT, webhooks). Called on the engine's thread: it queues and returns.
class AlertOutput {
public:
    virtual ~AlertOutput() = default;
    virtual void send(const Alert& alert) = 0;
    // The station's state, kept by the far side (retained) where it can.
    virtual void state(const std::string& json) { (void)json; }
    // Alerts it dropped so far (full queue, given up after retries).
    virtual uint64_t dropped() const { return 0; }
};

// Turns what the station tells its observer into the alert messages, and keeps the state
// message: sent at every change and at least once a minute.
class AlertCenter : public runtime::StationObserver {
public:
    // What the center reads of the station when it makes a message.
    struct Source {
        std::function<Moment()> moment;
        std::function<std::string(int ch)> seed;  // "" when the codes are not valid
        std::function<bool()> running;
    };
    static constexpr double kStateEverySeconds = 60;

    AlertCenter(const AlertSettings& settings, Source source);

    void add_output(AlertOutput* output) { outputs_.push_back(output); }

    void event_started(int ch, const std::string& file_name, const std::string& start_text,
                       bool scheduled) override;
    void event_ended(int ch, const runtime::EventSummary& event, double duration_seconds,
                     bool at_stop) override;
    void alarm_exceeded(int ch, int32_t value, int32_t threshold) override;
    void board_lost() override;
    void board_back(double seconds) override;
    void disk_space_checked(uint64_t free_bytes) override;

    // The second's work: the state message when it changed or a minute has passed
    // (`monotonic` seconds).
    void second(double monotonic);

    StateFacts state_facts() const;
    std::string state_message() const { return state_json(source_.moment(), state_facts()); }

private:
    void send(Topic topic, std::string json);
    ChannelFacts channel(int ch) const;

    AlertSettings settings_;
    Source source_;
    std::vector<AlertOutput*> outputs_;
    std::array<bool, 4> recording_{};
    bool board_ok_ = true;
    bool disk_low_ = false;
    std::string last_event_;
    // The last state sent without its time, and when.
    std::string last_state_;
    double last_state_at_ = -1;
};

}  // namespace velkantor::alerts
