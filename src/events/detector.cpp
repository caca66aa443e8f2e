#include "events/detector.h"

#include <cmath>

#include "config/rates.h"
#include "text/date_time.h"
#include "text/number_text.h"

namespace velkantor::events {

void Detector::ResetDetector(int ch, const config::ChannelSettings& settings) {
    auto& d = channel(ch);
    double rate = config::nominal_rate(settings.sps_index);
    d.dc_average = 0;
    d.dc_previous = 0;
    d.sta_length = settings.sta_seconds * rate;
    d.lta_length = settings.lta_seconds * rate;
    double warmup = text::round_half_even(5 * rate);
    d.dc_warmup = std::isfinite(warmup) && warmup < 1e9 ? static_cast<int32_t>(warmup) : 0;
    d.lta_warmup = std::isfinite(d.lta_length) && d.lta_length > 0 ? std::ceil(d.lta_length) : 0;
}

void Detector::statistics(int ch, int32_t raw_sample, const config::ChannelSettings& settings) {
    auto& d = channel(ch);
    // With the offset taken automatically, the DC warm-up's inputs are zeros that no board
    // sent: the averages and the LTA warm-up begin after it.
    const bool dc_warming = settings.auto_offset != 0 && d.dc_warmup > 0;
    // DC level: during the warm-up it follows the signal, then a time constant of five LTAs.
    if (d.dc_warmup > 0) {
        d.dc_average = raw_sample;
        d.dc_previous = d.dc_average;
        d.dc_warmup -= 1;
    } else {
        double span = 5 * d.lta_length;
        if (span != 0 && std::isfinite(span)) {
            d.dc_average = d.dc_previous + (raw_sample - d.dc_previous) / span;
            d.dc_previous = d.dc_average;
        }
    }
    d.trigger_input =
        settings.auto_offset != 0 ? raw_sample - d.dc_average : raw_sample + settings.dc_offset;
    double input = d.trigger_input;
    double magnitude = std::fabs(input);

    if (magnitude > d.half_wave_peak) {
        d.half_wave_peak = magnitude;
        if (input >= 0) {
            d.positive_peak = input;
        } else {
            d.negative_peak = input;
        }
    }
    if (d.previous_input * input < 0) {
        d.last_half_wave_peak = d.half_wave_peak;
        d.half_wave_peak = 0;
        if (d.last_half_wave_peak > d.max_half_wave_peak)
            d.max_half_wave_peak = d.last_half_wave_peak;
        d.peak_to_peak = std::fabs(d.negative_peak) + d.positive_peak;
        if (input >= 0) {
            d.positive_peak = 0;
        } else {
            d.negative_peak = 0;
        }
    }
    d.previous_input = input;

    // A length of zero (a rate or window of 0) would divide by zero: the average then
    // simply follows the signal.
    auto follow = [magnitude](double previous, double length) {
        return length != 0 && std::isfinite(length) ? previous + (magnitude - previous) / length
                                                    : magnitude;
    };
    if (!dc_warming) {
        d.lta_value = follow(d.lta_value, d.lta_length);
        d.sta_value = follow(d.sta_value, d.sta_length);
        if (d.lta_warmup > 0) d.lta_warmup -= 1;
    }

    if (d.lta_value != 0) {
        if (d.event_state != 0 && settings.freeze_lta != 0 && d.frozen_lta != 0) {
            d.sl_ratio = d.sta_value / d.frozen_lta;
            d.lta_frozen_display = true;
        } else {
            d.sl_ratio = d.sta_value / d.lta_value;
            d.frozen_lta = d.lta_value;
            d.lta_frozen_display = false;
        }
        if (d.sl_ratio > d.max_ratio) d.max_ratio = d.sl_ratio;
    }
}

bool Detector::scheduled_now(int ch, const config::Settings& settings, double now_epoch) const {
    const double second = std::floor(now_epoch);
    for (const auto& recording : settings.schedule) {
        if (recording.channel == ch + 1 && recording.start_epoch == second) return true;
    }
    return false;
}

void Detector::decide(int ch, int32_t sample_value, config::Settings& settings, double now_epoch,
                      EventSink& sink) {
    auto c = static_cast<size_t>(ch);
    auto& d = channels_[c];
    auto& s = settings.channels[c];
    auto triggered = [&](int k) {
        const auto& other = settings.channels[static_cast<size_t>(k)];
        channels_[static_cast<size_t>(k)].trigger_countdown =
            static_cast<int16_t>(std::min<int>(other.trigger_window, 32766) + 1);
    };
    double magnitude = std::fabs(static_cast<double>(sample_value));

    if (d.event_state == 0) {
        if (s.trigger_mode == 0) {
            if (magnitude > s.start_amplitude) {
                d.amplitude_count += 1;
                if (d.amplitude_count > s.start_samples || d.amplitude_count > kCountCap) {
                    triggered(ch);
                }
            } else {
                d.amplitude_count = 0;
            }
        } else if (s.trigger_mode == 1) {
            if (d.lta_warmup <= 0 && d.sl_ratio > s.start_ratio) triggered(ch);
        } else if (trigger_armed && scheduled_now(ch, settings, now_epoch)) {
            triggered(ch);
        }
        if (d.manual_request == 1) {
            d.manual_request = 0;
            triggered(ch);
        }
        if (!trigger_armed) d.trigger_countdown = 0;

        bool start_gate = false;
        if (d.trigger_countdown > 0) {
            start_gate = true;
            if (s.extend_trigger != 0) {
                for (int k = 0; k < config::kChannels; ++k) {
                    if (channels_[static_cast<size_t>(k)].event_state == 0) triggered(k);
                }
            } else {
                for (int k = 0; k < config::kChannels; ++k) {
                    if (k == ch || (s.and_channels & (1 << k)) == 0) continue;
                    if (channels_[static_cast<size_t>(k)].trigger_countdown == 0)
                        start_gate = false;
                }
            }
        }
        if (s.record_enabled > 0 && start_gate) {
            d.event_state = 1;
            d.below_stop_count = 0;
            d.samples_written = 0;
            d.stop_caption = true;
            double start = std::floor(now_epoch) - 60 * s.pre_event_minutes + 1;
            sink.event_started(ch,
                               std::isfinite(start) ? std::floor(start) : std::floor(now_epoch));
        }
        return;
    }

    sink.event_sample(ch, sample_value);
    bool stop_now = false;
    bool below = s.trigger_mode == 0 ? magnitude < s.stop_amplitude : d.sl_ratio < s.stop_ratio;
    if (below) {
        d.below_stop_count += 1;
        if (d.below_stop_count > s.post_event_samples || d.below_stop_count > kCountCap) {
            stop_now = true;
        }
    } else {
        d.below_stop_count = 0;
    }
    if (d.manual_request == 2) {
        d.manual_request = 0;
        s.record_enabled = 0;
        stop_now = true;
    }
    if (d.samples_written > s.max_event_samples) stop_now = true;
    if (stop_now) {
        d.event_state = 0;
        d.amplitude_count = 0;
        sink.event_stopped(ch);
        d.max_ratio = 0;
        d.max_half_wave_peak = 0;
        d.stop_caption = false;
    }
    d.manual_request = 0;
}

void Detector::TriggerSecondTick() {
    for (auto& d : channels_) {
        if (d.trigger_countdown > 0) d.trigger_countdown -= 1;
    }
}

void Detector::RequestManual(int ch, const config::ChannelSettings& settings) {
    auto& d = channel(ch);
    if (settings.record_enabled < 1) return;
    if (!d.stop_caption) {
        if (d.event_state == 0) {
            d.manual_request = 1;
            d.stop_caption = true;
        }
    } else if (d.event_state != 0) {
        d.manual_request = 2;
    }
}

void Detector::run_ended(int ch) {
    auto& d = channel(ch);
    d.event_state = 0;
    d.manual_request = 0;
    d.stop_caption = false;
}

void Detector::refresh_captions() {
    for (auto& d : channels_) d.stop_caption = d.event_state != 0;
}

bool Detector::any_recording() const {
    for (const auto& d : channels_) {
        if (d.event_state != 0) return true;
    }
    return false;
}

}  // namespace velkantor::events
