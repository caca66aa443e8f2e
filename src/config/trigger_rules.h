#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "config/settings.h"

// The rules of the trigger and channel settings window (`trigpanel`) that need no window:
// the texts its boxes show, what Apply stores, the calibration labels and the defaults.
namespace velkantor::config {

// The ranges the boxes are clamped into when they are left or ENTER is pressed.
struct NumberRange {
    double lo;
    double hi;
};
inline constexpr NumberRange kThresholdRange{0, 8300000};
inline constexpr NumberRange kMagnitudeCorrectionRange{-1000, 1000};
// `trigger_window` is a 16-bit setting; a negative coincidence window means nothing.
inline constexpr NumberRange kTriggerWindowRange{0, 32767};
// Calibration and drum boxes: a negative sensitivity, gain or range is no calibration, and
// more than 32 A/D bits would be no A/D converter this logger reads.
inline constexpr NumberRange kCalibrationRange{0, 8300000};
inline constexpr NumberRange kAdBitsRange{0, 32};
inline constexpr NumberRange kFilterDelayRange{-8300000, 8300000};

// The pre-event ring holds this many samples per channel.
inline constexpr double kPreEventCapacity = 180000;

inline constexpr std::string_view kPreEventLimitTitle = "Error.";
inline constexpr std::string_view kPreEventLimitMessage =
    "Pre-event time exceeded buffer capacity for the selected SPS.\r\n"
    "Please reduce SPS or pre-event time.";
inline constexpr std::string_view kUnsupportedFormatMessage =
    "This format is not currently supported. Change to PSN TEXT";
inline constexpr std::string_view kDefaultsQuestion = "Setup values for teleseismic events?";

// The list texts of the window.
inline constexpr std::array<std::string_view, 4> kSensorTypeTexts = {
    "Unknow", "Velocity", "Displacement", "Acceleration"};
inline constexpr std::array<std::string_view, 6> kMeasureUnitTexts = {
    "?", "meters", "centimeters", "millimeters", "micrometers", "nanometers"};
inline constexpr std::array<std::string_view, 4> kEventFormatTexts = {"PSN TEXT", "SAC", "SEISAN",
                                                                      "ASCII"};

// A number as the boxes show it when they are filled: plain decimal with a blank in place of
// the sign of a non-negative number (" 2000", "-5").
std::string BoxNumber(double value);

// Number pictures: "0" a digit always written, "#" one written only when significant, the
// first "." the decimal point; the value is rounded to the places shown. Further dots in the
// fraction only group its digits on the original display; they are not written, so that the
// text still reads back as the number. A value that is not finite gives an empty text.
std::string PictureText(double value, std::string_view pattern);

// Everything the window's boxes and options hold, as texts and indexes.
struct TriggerForm {
    int trigger_mode = 0;  // selected `trigmode` option, -1 when none
    std::array<std::string, 6> start;
    std::array<std::string, 4> stop;
    std::string trigger_window;
    bool freeze_lta = false;
    int period_extender = 0;  // selected `extender` option, -1 when none
    std::array<std::string, 5> mag_corr;
    std::string drum_scale;
    std::string filter_delay;
    int sensor_type = 0;  // list index, -1 when none
    std::string sensor_sensitivity;
    std::string amplifier_gain;
    std::string ad_bits;
    std::string ad_range;
};

// The form filled from a channel's settings. Options and list indexes outside their lists
// are -1 (nothing selected).
TriggerForm LoadTriggerForm(const ChannelSettings& channel);

// Every box's text cleaned into its range (`ClampNumberText`).
void CleanTriggerForm(TriggerForm& form);

struct ApplyResult {
    bool pre_event_limited = false;  // step 3 cut the pre-event time (its message is due)
    bool max_length_raised = false;  // step 6 raised the maximum length
};

// Apply: the (cleaned) form into the channel. The form is updated where Apply corrects it
// (pre-event time, maximum length). The compound texts are written after the corrections,
// so that what is saved decodes to what Apply stored.
ApplyResult ApplyTriggerForm(ChannelSettings& channel, TriggerForm& form);

// "Default settings": the boxes for teleseismic (Yes) or local (No) events.
void FillTriggerDefaults(TriggerForm& form, bool teleseismic);

// The calibration labels of a channel; `resolution` is what the resolution label's text
// reads back as. A label whose value cannot be computed (a sensitivity, gain or range of 0)
// reads "n/a", and the resolution then reads back as 0.
struct CalibrationTexts {
    std::string ad_sens;      // `lbl_ad_sens`
    std::string data_output;  // `lbl_data_output`
    std::string full_range;   // `lbl_full_range`
    std::string resolution;   // `lbl_resolution`
    double resolution_value = 0;
};
CalibrationTexts ComputeCalibration(const ChannelSettings& channel);

// The unit labels for a sensor type and a measurement unit (indexes out of their lists read
// as "Unknow" and "?").
struct UnitTexts {
    std::string sensor;      // `lbl_sensor`
    std::string data_type;   // `lbl_data_type`
    std::string range_type;  // `lbl_resolution_type` and `lbl_full_range_type`
};
UnitTexts ComputeUnitTexts(int sensor_type, int measure_unit);

// The channel numbers (1..4) captioning the three `and_channel` boxes of channel ch (0..3):
// the other channels in increasing order.
std::array<int, 3> AndChannelNumbers(int ch);
// `and_channels` with the bit of channel `number` (1..4) set or cleared.
int16_t WithAndChannel(int16_t and_channels, int number, bool ticked);

// `Label35`: "Second" for a window of 1, "Seconds" otherwise.
std::string TriggerWindowUnit(std::string_view win_trig_text);

}  // namespace velkantor::config
