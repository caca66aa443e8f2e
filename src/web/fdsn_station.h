#pragma once

#include <array>
#include <complex>
#include <optional>
#include <string>
#include <vector>

#include "config/network_ini.h"
#include "config/settings.h"
#include "stream/miniseed_record.h"
#include "web/fdsn_query.h"

// What the station says about its instruments: the StationXML and text answers of the
// station service, built from the settings (calibration, axis, coordinates) and the
// `[sensor.N]` sections of network.ini.
namespace velkantor::web::fdsn {

// A sensor's transfer function, Laplace variable in rad/s, from ground motion in the
// channel's unit to volts (before the gain).
struct SensorModel {
    std::vector<std::complex<double>> poles, zeros;
    std::optional<double> normalization_frequency;  // Hz; chosen from the poles when not given
    std::string description;
    // Built from a natural period and damping: it describes a velocity sensor only.
    bool velocity_only = false;
};

// `[sensor.1]` .. `[sensor.4]` of network.ini: `natural_period` (s) and `damping` (of
// critical) of a velocity sensor, or its `poles` and `zeros` ("-4.44+4.44j, -4.44-4.44j",
// rad/s), an optional `normalization_frequency` (Hz) and `description`. A bad value is one
// line of `problems`, and its channel is described without poles and zeros.
std::array<std::optional<SensorModel>, config::kChannels> read_sensor_sections(
    const config::IniFile& ini, std::vector<std::string>& problems);

// The poles and zeros of a velocity sensor (a moving coil) of natural period `period`
// seconds and `damping` of critical: two zeros at 0 and two poles.
SensorModel velocity_sensor(double period, double damping);

// |H(2 pi i f)| of the poles and zeros alone.
double transfer_magnitude(const SensorModel& model, double frequency);

enum class GroundUnit { none, displacement, velocity, acceleration };

// One stage of a response, from its input to its output units.
struct Stage {
    std::string input, output;  // SEED unit names: "m/s", "V", "counts"
    std::string description;
    double gain = 1;
    double frequency = 1;                    // Hz, where `gain` holds
    std::optional<SensorModel> poles_zeros;  // with its normalization factor below
    double normalization_factor = 1;
    bool digitizer = false;  // an A/D stage: coefficients and decimation at `rate`
    double rate = 0;
};

struct ChannelResponse {
    GroundUnit unit = GroundUnit::none;
    double sensitivity = 0;  // counts per input unit at `frequency`
    double frequency = 1;
    std::string input;  // "m/s", "m", "m/s**2", or "V" for an unknown sensor
    std::vector<Stage> stages;
    std::string note;  // why the response stops short of the ground, when it does
};

// A channel of the station as the station service describes it.
struct ChannelInfo {
    stream::StreamId id;
    double rate = 0;
    std::optional<double> azimuth, dip;  // from the axis; none for an axis not N, E or Z
    MicroTime epoch = 0;                 // when its settings last changed
    ChannelResponse response;
    std::string sensor;  // description
};

struct StationInfo {
    std::string network, station;
    std::string site;  // the station's location name
    std::string description;
    double latitude = 0, longitude = 0, elevation = 0;
    bool coordinates_read = true;
    MicroTime created = 0;  // when this description was made
    std::string software;   // "VELKANTOR 2.28"
    std::vector<ChannelInfo> channels;
};

// "46.05N 13.24E", "46.05 -13.24", "46.05S,13.24W": latitude and longitude in degrees.
std::optional<std::pair<double, double>> parse_coordinates(std::string_view text);

// The response of a channel from its calibration: sensor (type, sensitivity in volts per
// measured unit, the unit), amplifier gain, A/D bits and range, and the sensor's model when
// network.ini gives one. The overall sensitivity is stated at the sensor's normalization
// frequency (1 Hz unless its corner calls for higher), the stages' gains multiply to it.
ChannelResponse channel_response(const config::ChannelSettings& channel, double rate,
                                 const std::optional<SensorModel>& sensor);

// What describes a channel to a client (codes, rate, orientation, every stage of its
// response): when it changes, the channel begins a new epoch.
std::string channel_fingerprint(const ChannelInfo& channel);

// The channels' epochs kept across runs (a small text file of the station): per channel
// number, the fingerprint of its description and when that description began.
struct EpochEntry {
    int channel = 0;
    std::string fingerprint;
    MicroTime start = 0;
};
std::vector<EpochEntry> parse_epochs(std::string_view text);
std::string epochs_text(const std::vector<EpochEntry>& epochs);
// When the channel's description `fingerprint` began: the kept start while it is the same,
// else `changed_at` (and the entry is replaced: `changed` is set).
MicroTime epoch_start(std::vector<EpochEntry>& epochs, int channel, const std::string& fingerprint,
                      MicroTime changed_at, bool& changed);

// The StationXML (1.2) and text answers for a query at its level; none when it selects
// nothing.
std::optional<std::string> station_xml(const StationInfo& station, const Query& query);
std::optional<std::string> station_text(const StationInfo& station, const Query& query);

}  // namespace velkantor::web::fdsn
