#include "events/alarms.h"

#include <cmath>
#include <cstdlib>

#include "text/number_text.h"

namespace velkantor::events {

namespace {

std::string command_line(const runtime::EventSummary& event, const char* ratio_label) {
    return event.start_text + " L:" + WholePicture(event.lines, 8) + ratio_label +
           OneDecimalPicture(event.max_ratio) +
           " Max Amplit.:" + WholePicture(event.max_half_wave_peak, 6);
}

}  // namespace

std::string sms_line(const runtime::EventSummary& event) {
    return command_line(event, " Max SLTA:");
}
std::string mail_line(const runtime::EventSummary& event) {
    return command_line(event, " Max SLTA: ");
}

void Alarms::alarm_request(int ch, int32_t sample_value) {
    if (ch < 0 || ch >= config::kChannels) return;
    const auto& channel = env_.settings.channels[static_cast<size_t>(ch)];
    if (channel.alarm_enabled > 0 && std::llabs(static_cast<long long>(sample_value)) >
                                         static_cast<long long>(channel.alarm_threshold)) {
        alarm_pending = 1;
    }
}

void Alarms::AlarmTick() {
    const auto& general = env_.settings.general;
    bool bit_request = false;
    if (alarm_toggle == 1) SpeakerOff();
    if (alarm_pending > 0) {
        if (alarm_toggle == 0) {
            AlarmSound();
            alarm_toggle = 1;
        } else {
            alarm_toggle = 0;
        }
        alarm_pending = 0;
        if (general.hw_alarm == 1) bit_request = true;
    }
    if (general.hw_alarm == 1) {
        if (general.alarm_on_l2 == 1 && env_.line2_active()) {
            bit_request = true;
        }
        if (general.alarm_on_events == 1 && event_recorded == 1) bit_request = true;
    }
    int16_t port = general.lpt_port;
    if (bit_request) {
        LptWrite(port, static_cast<int16_t>(LptRead(port) | 2));
    } else {
        LptWrite(port, static_cast<int16_t>(LptRead(port) & 0xFD));
    }
}

void Alarms::port_failed(int16_t port_index, const std::string& error) {
    if (!reported_ports_.insert(port_index).second) return;
    env_.log("LPT" + std::to_string(port_index) +
             " not available, alarm and watchdog bits not written: " + error);
}

int16_t Alarms::LptRead(int16_t port_index) {
    platform::ParallelPort* port = env_.devices.parallel_port;
    if (port_index <= 0) return 0;
    if (!port) {
        port_failed(port_index, "no parallel port driver");
        return 0;
    }
    auto result = port->read_data(port_index);
    if (!result) {
        port_failed(port_index, result.error);
        return 0;
    }
    return result.value;
}

void Alarms::LptWrite(int16_t port_index, int16_t value) {
    platform::ParallelPort* port = env_.devices.parallel_port;
    if (port_index <= 0) return;
    if (!port) {
        port_failed(port_index, "no parallel port driver");
        return;
    }
    auto result = port->write_data(port_index, static_cast<uint8_t>(value & 0xFF));
    if (!result) port_failed(port_index, result.error);
}

void Alarms::AlarmSound() {
    platform::Sound* sound = env_.devices.sound;
    if (!sound) return;
    if (env_.settings.general.alarm_wav != 0) {
        sound->play_file(platform::join_path(env_.folder, "alarm.wav"));
    } else {
        sound->tone_on(kToneHertz);
    }
}

void Alarms::SpeakerOff() {
    platform::Sound* sound = env_.devices.sound;
    // A sound file ends by itself.
    if (!sound || env_.settings.general.alarm_wav != 0) return;
    sound->tone_off();
}

bool Alarms::WriteCommandFiles(const runtime::EventSummary& event) {
    const auto& general = env_.settings.general;
    bool written = true;
    if (general.send_sms != 0) {
        written &= static_cast<bool>(platform::append_records(
            env_.fs, platform::join_path(env_.folder, "sendsms.txt"), sms_line(event) + "\r\n"));
    }
    if (general.send_mail != 0) {
        written &= static_cast<bool>(platform::append_records(
            env_.fs, platform::join_path(env_.folder, "sendmail.txt"), mail_line(event) + "\r\n"));
    }
    return written;
}

}  // namespace velkantor::events
