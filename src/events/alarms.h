#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>

#include "config/settings.h"
#include "events/event_file.h"
#include "platform/devices.h"
#include "platform/file_system.h"

namespace velkantor::events {

// The alarm outputs: the sound (a file or the speaker's tone), bit 1 of the parallel port,
// and the command files that an outside program turns into an SMS or an e-mail. The
// recording step raises the alarm; the one-second timer drives the outputs.
class Alarms {
public:
    static constexpr double kToneHertz = 1566;  // the speaker's divisor 762

    // What the alarms use of the station.
    struct Environment {
        platform::FileSystem& fs;
        const config::Settings& settings;
        // The station's devices (the parallel port, the sound); set after construction.
        const platform::Devices& devices;
        std::string folder;
        // Input line 2 of the board is low (active) while the run acquires.
        std::function<bool()> line2_active;
        std::function<void(std::string_view)> log;
    };

    explicit Alarms(Environment environment) : env_(std::move(environment)) {}

    // A sample of a channel that records an event: beyond the channel's threshold it raises
    // the alarm for the next tick.
    void alarm_request(int ch, int32_t sample_value);
    // An event closed normally (not at STOP).
    void event_closed() { event_recorded = 1; }

    // Once per timer tick: the sound on alternate ticks and the port's alarm bit.
    void AlarmTick();

    // The data register of LPT1..3 (`port_index` 0: no port, reads give 0, writes nothing).
    // A port that is missing or fails does nothing and is named once in the event log.
    int16_t LptRead(int16_t port_index);
    void LptWrite(int16_t port_index, int16_t value);

    void AlarmSound();
    void SpeakerOff();

    // Appends the event's line to "sendsms.txt" and/or "sendmail.txt" as the settings ask;
    // false when a file could not be written.
    bool WriteCommandFiles(const runtime::EventSummary& event);

    int16_t alarm_pending = 0;
    int16_t alarm_toggle = 0;
    int16_t event_recorded = 0;

private:
    void port_failed(int16_t port_index, const std::string& error);

    Environment env_;
    std::set<int> reported_ports_;
};

// The line of each command file.
std::string sms_line(const runtime::EventSummary& event);
std::string mail_line(const runtime::EventSummary& event);

}  // namespace velkantor::events
