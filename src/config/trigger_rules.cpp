#include "config/trigger_rules.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "config/rates.h"
#include "config/settings_file.h"
#include "text/number_text.h"

namespace velkantor::config {

namespace {

constexpr std::string_view kCalibrationPicture = "00.000.000.000.000";
constexpr std::string_view kNotComputable = "n/a";
constexpr std::array<std::string_view, 6> kShortUnits = {"?", "m", "cm", "mm", "um", "nm"};

double number(std::string_view text) {
    return text::leading_number(text).value_or(0);
}

template <size_t N>
std::string joined(const std::array<std::string, N>& texts) {
    std::string list;
    for (size_t i = 0; i < N; ++i) {
        if (i > 0) list += ';';
        list += texts[i];
    }
    return list;
}

void clean(std::string& text, NumberRange range) {
    text = text::ClampNumberText(text, range.lo, range.hi);
}

int option_index(int value, int options) {
    return value >= 0 && value < options ? value : -1;
}

}  // namespace

std::string BoxNumber(double value) {
    std::string digits = text::shortest_real(value);
    return digits.front() == '-' ? digits : " " + digits;
}

std::string PictureText(double value, std::string_view pattern) {
    if (!std::isfinite(value)) return {};
    size_t point = pattern.find('.');
    std::string_view whole = pattern.substr(0, point);
    std::string_view fraction =
        point == std::string_view::npos ? std::string_view{} : pattern.substr(point + 1);
    size_t min_whole = 0;
    for (char c : whole) min_whole += c == '0' ? 1 : 0;
    int max_places = 0;
    int min_places = 0;
    for (char c : fraction) {
        if (c != '0' && c != '#') continue;
        ++max_places;
        if (c == '0') min_places = max_places;
    }

    int length = std::snprintf(nullptr, 0, "%.*f", max_places, std::fabs(value));
    if (length <= 0) return {};
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    std::snprintf(buffer.data(), buffer.size(), "%.*f", max_places, std::fabs(value));
    std::string rounded(buffer.data(), static_cast<size_t>(length));

    size_t dot = rounded.find('.');
    std::string integer = rounded.substr(0, dot);
    std::string places = dot == std::string::npos ? std::string{} : rounded.substr(dot + 1);
    bool nonzero = rounded.find_first_of("123456789") != std::string::npos;

    size_t first = integer.find_first_not_of('0');
    integer = first == std::string::npos ? std::string{} : integer.substr(first);
    if (integer.size() < min_whole) integer.insert(0, min_whole - integer.size(), '0');
    while (places.size() > static_cast<size_t>(min_places) && places.back() == '0') {
        places.pop_back();
    }

    std::string out = value < 0 && nonzero ? "-" : "";
    out += integer;
    if (!places.empty()) out += "." + places;
    return out;
}

TriggerForm LoadTriggerForm(const ChannelSettings& channel) {
    TriggerForm form;
    // The detector treats every mode other than 0 and 1 as scheduled; the options say so.
    form.trigger_mode =
        channel.trigger_mode == 0 || channel.trigger_mode == 1 ? channel.trigger_mode : 2;
    form.start = {BoxNumber(channel.start_amplitude),   BoxNumber(channel.start_samples),
                  BoxNumber(channel.pre_event_minutes), BoxNumber(channel.sta_seconds),
                  BoxNumber(channel.lta_seconds),       BoxNumber(channel.start_ratio)};
    form.stop = {BoxNumber(channel.stop_amplitude), BoxNumber(channel.post_event_minutes),
                 BoxNumber(channel.stop_ratio), BoxNumber(channel.max_event_minutes)};
    form.trigger_window = BoxNumber(channel.trigger_window);
    form.freeze_lta = channel.freeze_lta != 0;
    form.period_extender = option_index(channel.period_extender, 4);
    form.mag_corr = channel.mag_corr;
    form.drum_scale = BoxNumber(channel.drum_scale);
    form.filter_delay = BoxNumber(channel.filter_delay);
    form.sensor_type = option_index(channel.sensor_type, static_cast<int>(kSensorTypeTexts.size()));
    form.sensor_sensitivity = BoxNumber(channel.sensor_sensitivity);
    form.amplifier_gain = BoxNumber(channel.amplifier_gain);
    form.ad_bits = BoxNumber(channel.ad_bits);
    form.ad_range = BoxNumber(channel.ad_range);
    return form;
}

void CleanTriggerForm(TriggerForm& form) {
    for (auto& box : form.start) clean(box, kThresholdRange);
    for (auto& box : form.stop) clean(box, kThresholdRange);
    for (auto& box : form.mag_corr) clean(box, kMagnitudeCorrectionRange);
    clean(form.trigger_window, kTriggerWindowRange);
    clean(form.drum_scale, kCalibrationRange);
    clean(form.filter_delay, kFilterDelayRange);
    clean(form.sensor_sensitivity, kCalibrationRange);
    clean(form.amplifier_gain, kCalibrationRange);
    clean(form.ad_bits, kAdBitsRange);
    clean(form.ad_range, kCalibrationRange);
}

ApplyResult ApplyTriggerForm(ChannelSettings& channel, TriggerForm& form) {
    CleanTriggerForm(form);
    ApplyResult result;
    if (form.trigger_mode >= 0 && form.trigger_mode <= 2) {
        channel.trigger_mode = static_cast<int16_t>(form.trigger_mode);
    }

    // The ranges keep every amplitude well inside 32 bits.
    channel.start_amplitude = static_cast<int32_t>(text::round_half_even(number(form.start[0])));
    channel.start_samples = number(form.start[1]);
    channel.pre_event_minutes = number(form.start[2]);
    const double rate = nominal_rate(channel.sps_index);
    if (rate > 0 && rate * channel.pre_event_minutes * 60 > kPreEventCapacity) {
        channel.pre_event_minutes = kPreEventCapacity / (rate * 60);
        form.start[2] = text::shortest_real(channel.pre_event_minutes);
        result.pre_event_limited = true;
    }
    channel.sta_seconds = number(form.start[3]);
    channel.lta_seconds = number(form.start[4]);
    channel.start_ratio = number(form.start[5]);
    channel.start_params = joined(form.start);

    channel.stop_amplitude = static_cast<int32_t>(text::round_half_even(number(form.stop[0])));
    channel.post_event_minutes = std::fabs(number(form.stop[1]));
    channel.stop_ratio = number(form.stop[2]);
    const double needed = channel.pre_event_minutes + channel.post_event_minutes;
    if (needed > number(form.stop[3])) {
        form.stop[3] = text::ClampNumberText(text::shortest_real(needed), kThresholdRange.lo,
                                             kThresholdRange.hi);
        result.max_length_raised = true;
    }
    channel.max_event_minutes = number(form.stop[3]);
    channel.stop_params = joined(form.stop);

    UpdateDerivedCounts(channel);
    // The pre-event ring counts whole samples per second: below 1 SPS it holds nothing.
    channel.pre_event_samples = text::round_half_even(rate) * channel.pre_event_minutes * 60;

    channel.magnitude_correction = joined(form.mag_corr);
    channel.mag_corr = form.mag_corr;

    channel.drum_scale = number(form.drum_scale);
    if (form.sensor_type >= 0 && form.sensor_type < static_cast<int>(kSensorTypeTexts.size())) {
        channel.sensor_type = static_cast<int16_t>(form.sensor_type);
    }
    channel.sensor_sensitivity = number(form.sensor_sensitivity);
    channel.amplifier_gain = number(form.amplifier_gain);
    channel.ad_bits = number(form.ad_bits);
    channel.ad_range = number(form.ad_range);
    channel.filter_delay = number(form.filter_delay);

    channel.trigger_window =
        static_cast<int16_t>(text::round_half_even(number(form.trigger_window)));
    channel.freeze_lta = form.freeze_lta ? 1 : 0;
    if (form.period_extender >= 0 && form.period_extender <= 3) {
        channel.period_extender = static_cast<int16_t>(form.period_extender);
    }
    channel.resolution = ComputeCalibration(channel).resolution_value;
    return result;
}

void FillTriggerDefaults(TriggerForm& form, bool teleseismic) {
    if (teleseismic) {
        form.start = {"1500", "3", "30", "30", "300", "5"};
        form.stop = {"800", "5", "3", "120"};
    } else {
        form.start = {"1000", "3", "1", "30", "300", "5"};
        form.stop = {"20000", "1", "3", "10"};
    }
    form.period_extender = 0;
    form.mag_corr = {"0.001", "0.001", "0.001", "0.001", "0.001"};
    form.drum_scale = "2";
    form.filter_delay = "0";
}

CalibrationTexts ComputeCalibration(const ChannelSettings& channel) {
    CalibrationTexts texts;
    const double counts = std::pow(2.0, channel.ad_bits);
    const bool counts_known = std::isfinite(counts) && counts != 0;
    auto picture = [](double value) {
        std::string shown = PictureText(value, kCalibrationPicture);
        return shown.empty() ? std::string(kNotComputable) : shown;
    };

    texts.ad_sens = std::string(kNotComputable);
    if (counts_known && channel.ad_range != 0) {
        double sens = counts / channel.ad_range;
        if (std::isfinite(sens)) texts.ad_sens = text::shortest_real(sens);
    }

    const double volts_per_unit = channel.sensor_sensitivity * channel.amplifier_gain;
    if (volts_per_unit == 0 || !std::isfinite(volts_per_unit)) {
        texts.data_output = texts.full_range = texts.resolution = std::string(kNotComputable);
        return texts;
    }
    texts.data_output = picture(1 / volts_per_unit);
    // The later labels work from the number the data output label shows, as read back.
    const double shown = number(texts.data_output);
    texts.full_range = "+/-" + picture(std::fabs(shown * channel.ad_range / 2));
    texts.resolution =
        counts_known ? picture(shown * channel.ad_range / counts) : std::string(kNotComputable);
    texts.resolution_value = number(texts.resolution);
    return texts;
}

UnitTexts ComputeUnitTexts(int sensor_type, int measure_unit) {
    const int unit = option_index(measure_unit, static_cast<int>(kShortUnits.size()));
    const std::string u(kShortUnits[static_cast<size_t>(unit < 0 ? 0 : unit)]);
    switch (sensor_type) {
        case 1:
            return {"V/ " + u + "/s", u + "/s / V", u + "/s"};
        case 2:
            return {"V/ " + u, u + "/V", u};
        case 3:
            return {"V/ " + u + "/ss", u + "/ss / V", u + "/ss"};
        default:
            return {"counts", "counts", "V"};
    }
}

std::array<int, 3> AndChannelNumbers(int ch) {
    std::array<int, 3> numbers{};
    size_t next = 0;
    for (int k = 0; k < kChannels && next < numbers.size(); ++k) {
        if (k != ch) numbers[next++] = k + 1;
    }
    return numbers;
}

int16_t WithAndChannel(int16_t and_channels, int number, bool ticked) {
    if (number < 1 || number > kChannels) return and_channels;
    const int bit = 1 << (number - 1);
    return static_cast<int16_t>(ticked ? (and_channels | bit) : (and_channels & ~bit));
}

std::string TriggerWindowUnit(std::string_view win_trig_text) {
    return number(win_trig_text) == 1 ? "Second" : "Seconds";
}

}  // namespace velkantor::config
