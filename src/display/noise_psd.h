#pragma once

#include <complex>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "config/settings.h"

// The power spectral density of a channel's ground acceleration, as noise studies draw it:
// an hour of samples cut into pieces of 2^n samples that overlap by 75 %, each demeaned,
// detrended, tapered (a cosine over 10 % at each end), transformed and scaled for the taper;
// the pieces' powers averaged, the instrument's response removed, and the result smoothed
// over full-octave bands centred every eighth of an octave. Levels are in dB relative to
// 1 (m/s^2)^2/Hz, or 1 count^2/Hz for a channel without a calibration.
namespace velkantor::display {

// What a channel's counts measure.
enum class GroundMotion { counts, displacement, velocity, acceleration };

// How counts follow ground motion: a flat gain (counts per m, m/s or m/s^2) times, when they
// are known, the sensor's poles and zeros (rad/s), normalised to 1 at `normalization_hz`.
// Without poles and zeros the response is taken as flat over the whole band.
struct GroundResponse {
    GroundMotion motion = GroundMotion::counts;
    double counts_per_unit = 1;
    std::vector<std::complex<double>> poles;
    std::vector<std::complex<double>> zeros;
    double normalization_hz = 1;
    std::string uncalibrated_reason;  // why a channel is in counts, "" when calibrated

    bool calibrated() const { return motion != GroundMotion::counts; }
};

// The response from a channel's calibration settings: sensor type and unit, sensor
// sensitivity (volts per unit of motion), amplifier gain, A/D bits and input range (volts
// peak to peak, so 2^bits / range counts per volt). A sensor type "unknown", a unit "?" or a
// figure that is not a positive number leave the channel in counts, with the reason.
GroundResponse ChannelGroundResponse(const config::ChannelSettings& channel);

// The poles of a velocity sensor of natural period `period_s` and damping `damping` (a
// fraction of critical), with its two zeros at the origin: the usual geophone response,
// flat in velocity above its natural frequency.
GroundResponse WithVelocitySensorPoles(GroundResponse response, double period_s, double damping);

// |H(f)| of the poles and zeros, 1 at the normalisation frequency; 1 when there are none.
double ResponseMagnitude(const GroundResponse& response, double frequency_hz);

// The factor that turns a power density of counts at `frequency_hz` into one of ground
// acceleration: (2 pi f)^2 per differentiation from the sensor's motion, divided by the
// squared gain of counts per unit and |H(f)|^2. 1 for a channel in counts; 0 at 0 Hz for a
// velocity or displacement sensor (nothing of acceleration is measured there).
double AccelerationPowerFactor(const GroundResponse& response, double frequency_hz);

// The smoothed bands: centre periods 2^(k/8) s, each band a full octave from fc/sqrt 2 to
// fc sqrt 2.
double BandPeriod(int k);

// A spectrum on the band grid: level_db[i] belongs to band first_band + i.
struct PsdCurve {
    int first_band = 0;
    std::vector<double> level_db;
    int pieces = 0;  // pieces averaged

    int last_band() const { return first_band + static_cast<int>(level_db.size()) - 1; }
    bool empty() const { return level_db.empty(); }
    // The level of band k, none outside the curve.
    std::optional<double> level(int band) const;
};

// The number of samples of one piece at `rate`: the largest power of two that is at most a
// quarter of an hour's samples (at least 64, at most 131072); 0 for a rate too low for that.
int PsdPieceLength(double rate);

// Sums the power of tapered, overlapping pieces and turns them into the smoothed curve.
class PsdAverage {
public:
    PsdAverage(int piece_length, double rate);

    int piece_length() const { return piece_length_; }
    double rate() const { return rate_; }
    int pieces() const { return pieces_; }

    // Adds one piece of exactly piece_length() samples.
    void add_piece(std::span<const double> samples);
    // The pieces' mean power, the response removed, smoothed over the bands that lie whole
    // between the Nyquist frequency and a fifth of the piece's frequency spacing's inverse
    // (the longest period that several pieces still resolve). Empty without a piece.
    PsdCurve curve(const GroundResponse& response) const;

private:
    int piece_length_;
    double rate_;
    std::vector<double> taper_;
    double taper_power_ = 1;  // mean square of the taper
    std::vector<double> power_;
    int pieces_ = 0;
};

// The PSD of a stretch of samples all at once: pieces of PsdPieceLength(rate) samples every
// quarter piece. Empty when the stretch is shorter than one piece.
PsdCurve StretchPsd(std::span<const double> samples, double rate, const GroundResponse& response);

// One hour of one channel.
struct PsdHour {
    int64_t start_us = 0;  // the hour's first microsecond
    PsdCurve curve;
};

// Builds a channel's hourly PSDs from its samples as they come. Hours are whole clock hours
// of the sample times; a gap or a change of rate starts the pieces again, and an hour is
// given out when the first sample of a later hour arrives, if at least half the pieces an
// hour holds were complete in it.
class HourlyPsd {
public:
    // `values` are consecutive samples at `rate`, the first at `first_us`. Returns the hour
    // this call closed, if any.
    std::optional<PsdHour> add(int64_t first_us, double rate, std::span<const int32_t> values,
                               const GroundResponse& response);

private:
    std::optional<PsdHour> close_hour(const GroundResponse& response);

    std::optional<PsdAverage> average_;
    int64_t hour_ = INT64_MIN;  // the current hour's number since the epoch
    int64_t next_us_ = 0;       // where the next sample is expected
    std::vector<double> piece_;
};

}  // namespace velkantor::display
