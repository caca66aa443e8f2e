#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "config/settings.h"

namespace velkantor::events {

// What happens on the file side when the detector decides (the event files, the alarm).
class EventSink {
public:
    virtual ~EventSink() = default;
    // An event starts; `start_epoch` is its start time in whole seconds of the acquisition
    // clock. The sink writes the header and the pre-event samples.
    virtual void event_started(int /*ch*/, double /*start_epoch*/) {}
    // A sample while recording: the alarm test and the sample line.
    virtual void event_sample(int /*ch*/, int32_t /*value*/) {}
    // The event ends by its stop criterion, a manual stop or its maximum length.
    virtual void event_stopped(int /*ch*/) {}
};

// Per-channel detector state.
struct ChannelDetector {
    int16_t event_state = 0;
    int16_t trigger_countdown = 0;
    int16_t manual_request = 0;
    double amplitude_count = 0;
    double below_stop_count = 0;
    double samples_written = 0;
    double dc_average = 0;
    double dc_previous = 0;
    int32_t dc_warmup = 0;
    double trigger_input = 0;
    double previous_input = 0;
    double sta_value = 0;
    double lta_value = 0;
    double sta_length = 1;
    double lta_length = 1;
    double frozen_lta = 0;
    // Samples the LTA still needs after the start/restart block before the STA/LTA method may
    // start an event: both averages restart from where they were (zero at the first START)
    // and grow at their own speeds, so until the LTA has seen one LTA length of signal the
    // ratio is about their lengths' ratio, not a sign of an event.
    double lta_warmup = 0;
    double sl_ratio = 0;
    double max_ratio = 0;
    double half_wave_peak = 0;
    double last_half_wave_peak = 0;
    double max_half_wave_peak = 0;
    double positive_peak = 0;
    double negative_peak = 0;
    double peak_to_peak = 0;
    bool lta_frozen_display = false;  // the frozen-LTA display is red while frozen
    // The `man_record` button reads "STOP" while this is set, "REC" otherwise.
    bool stop_caption = false;
};

// The per-channel trigger: DC level, STA/LTA, half-wave peaks, the start decision with
// its coincidence rules and the stop decision.
class Detector {
public:
    static constexpr double kCountCap = 1000000;

    // Start/restart block: lengths from the channel's nominal rate, DC warm-up of 5 s, LTA
    // warm-up of one LTA length.
    void ResetDetector(int ch, const config::ChannelSettings& settings);
    // DC average, detector input, peaks, averages and ratio for one raw sample.
    void statistics(int ch, int32_t raw_sample, const config::ChannelSettings& settings);
    // The start decision of an idle channel or the record decision of a recording one.
    // `now_epoch` is the acquisition clock's current whole second.
    void decide(int ch, int32_t sample_value, config::Settings& settings, double now_epoch,
                EventSink& sink);
    // Once per second of the acquisition clock.
    void TriggerSecondTick();
    // The REC/STOP button of a channel, only while acquisition runs.
    void RequestManual(int ch, const config::ChannelSettings& settings);
    // Acquisition ended: recording channels are closed by the caller; states return to idle.
    void run_ended(int ch);
    // The timer's view of the REC/STOP buttons: "STOP" exactly while the channel records.
    void refresh_captions();

    ChannelDetector& channel(int ch) { return channels_[static_cast<size_t>(ch)]; }
    const ChannelDetector& channel(int ch) const { return channels_[static_cast<size_t>(ch)]; }
    bool any_recording() const;

    bool trigger_armed = false;

private:
    bool scheduled_now(int ch, const config::Settings& settings, double now_epoch) const;

    std::array<ChannelDetector, config::kChannels> channels_{};
};

}  // namespace velkantor::events
