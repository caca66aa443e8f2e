#include "display/noise_psd.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "display/fourier.h"

namespace velkantor::display {

namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;
constexpr int64_t kHourUs = 3'600'000'000;
// The share of a piece that the cosine taper takes at each end.
constexpr double kTaperShare = 0.1;
// The longest period of a curve, as a share of the piece's length: the bands beyond it hold
// too few of the transform's lines for a steady average.
constexpr double kLongestPeriodShare = 0.2;
// Beyond about 200 samples per second the pieces stay at this length (shorter than a quarter
// hour, so the curves end at shorter periods): each channel keeps a piece, its taper and its
// power, and at the fastest rates quarter-hour pieces would hold megabytes of them.
constexpr int kLongestPiece = 1 << 17;

bool positive(double value) {
    return std::isfinite(value) && value > 0;
}

GroundResponse in_counts(std::string reason) {
    GroundResponse response;
    response.uncalibrated_reason = std::move(reason);
    return response;
}

std::complex<double> transfer(const GroundResponse& response, double frequency_hz) {
    const std::complex<double> s(0, kTwoPi * frequency_hz);
    std::complex<double> h(1, 0);
    for (const auto& zero : response.zeros) h *= s - zero;
    for (const auto& pole : response.poles) h /= s - pole;
    return h;
}

int64_t floor_div(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

GroundResponse ChannelGroundResponse(const config::ChannelSettings& channel) {
    GroundMotion motion;
    switch (channel.sensor_type) {
        case 1:
            motion = GroundMotion::velocity;
            break;
        case 2:
            motion = GroundMotion::displacement;
            break;
        case 3:
            motion = GroundMotion::acceleration;
            break;
        default:
            return in_counts("the sensor type is unknown");
    }
    // Metres per unit of `measure_unit` 1..5: m, cm, mm, um, nm.
    static constexpr std::array<double, 5> kMetres = {1, 1e-2, 1e-3, 1e-6, 1e-9};
    if (channel.measure_unit < 1 || channel.measure_unit > 5) {
        return in_counts("the sensor's unit is not set");
    }
    const double metres = kMetres[static_cast<size_t>(channel.measure_unit - 1)];
    if (!positive(channel.sensor_sensitivity) || !positive(channel.amplifier_gain) ||
        !positive(channel.ad_range) || !positive(channel.ad_bits) || channel.ad_bits > 32) {
        return in_counts("the sensor sensitivity, amplifier gain or A/D figures are not set");
    }
    GroundResponse response;
    response.motion = motion;
    // Volts per unit, times the amplifier, times counts per volt; per metre-based unit.
    const double counts_per_volt = std::exp2(channel.ad_bits) / channel.ad_range;
    response.counts_per_unit =
        channel.sensor_sensitivity * channel.amplifier_gain * counts_per_volt / metres;
    return response;
}

GroundResponse WithVelocitySensorPoles(GroundResponse response, double period_s, double damping) {
    if (!positive(period_s) || !positive(damping)) return response;
    const double w0 = kTwoPi / period_s;
    response.zeros = {0.0, 0.0};
    if (damping < 1) {
        const double im = w0 * std::sqrt(1 - damping * damping);
        response.poles = {{-damping * w0, im}, {-damping * w0, -im}};
    } else {
        const double root = std::sqrt(damping * damping - 1);
        response.poles = {{-w0 * (damping - root), 0}, {-w0 * (damping + root), 0}};
    }
    // Well above the natural frequency the sensor is flat: its sensitivity is quoted there.
    response.normalization_hz = 10 / period_s;
    return response;
}

double ResponseMagnitude(const GroundResponse& response, double frequency_hz) {
    if (response.poles.empty() && response.zeros.empty()) return 1;
    const double norm = std::abs(transfer(response, response.normalization_hz));
    if (!positive(norm)) return 1;
    return std::abs(transfer(response, frequency_hz)) / norm;
}

double AccelerationPowerFactor(const GroundResponse& response, double frequency_hz) {
    if (!response.calibrated()) return 1;
    const double w2 = std::pow(kTwoPi * frequency_hz, 2);
    double factor = 1 / (response.counts_per_unit * response.counts_per_unit);
    if (response.motion == GroundMotion::velocity) factor *= w2;
    if (response.motion == GroundMotion::displacement) factor *= w2 * w2;
    const double h = ResponseMagnitude(response, frequency_hz);
    return h > 0 ? factor / (h * h) : 0;
}

double BandPeriod(int k) {
    return std::exp2(k / 8.0);
}

std::optional<double> PsdCurve::level(int band) const {
    if (band < first_band || band > last_band()) return std::nullopt;
    return level_db[static_cast<size_t>(band - first_band)];
}

int PsdPieceLength(double rate) {
    if (!positive(rate)) return 0;
    const double quarter_hour = rate * 900;
    if (quarter_hour < 64) return 0;
    int length = 64;
    while (length * 2.0 <= quarter_hour && length < kLongestPiece) length *= 2;
    return length;
}

PsdAverage::PsdAverage(int piece_length, double rate)
    : piece_length_(piece_length),
      rate_(rate),
      taper_(static_cast<size_t>(piece_length), 1.0),
      power_(static_cast<size_t>(piece_length / 2 + 1), 0.0) {
    const auto n = static_cast<size_t>(piece_length);
    const auto edge = static_cast<size_t>(std::lround(kTaperShare * piece_length));
    for (size_t i = 0; i < edge; ++i) {
        const double w =
            0.5 *
            (1 - std::cos(std::numbers::pi * static_cast<double>(i) / static_cast<double>(edge)));
        taper_[i] = w;
        taper_[n - 1 - i] = w;
    }
    double sum = 0;
    for (double w : taper_) sum += w * w;
    taper_power_ = n ? sum / static_cast<double>(n) : 1;
}

void PsdAverage::add_piece(std::span<const double> samples) {
    const auto n = static_cast<size_t>(piece_length_);
    if (samples.size() != n || n < 2) return;
    // The least-squares line through the piece, about its middle: removing it takes the mean
    // and the trend together.
    const double middle = (static_cast<double>(n) - 1) / 2;
    double sum = 0, sum_xy = 0, sum_xx = 0;
    for (size_t i = 0; i < n; ++i) {
        const double x = static_cast<double>(i) - middle;
        sum += samples[i];
        sum_xy += x * samples[i];
        sum_xx += x * x;
    }
    const double mean = sum / static_cast<double>(n);
    const double slope = sum_xy / sum_xx;
    // Work space for one transform only: a piece comes every few minutes.
    std::vector<double> real(n), imag(n, 0.0), out_real(n), out_imag(n);
    for (size_t i = 0; i < n; ++i) {
        const double x = static_cast<double>(i) - middle;
        real[i] = (samples[i] - mean - slope * x) * taper_[i];
    }
    if (!Fourier(piece_length_, real.data(), imag.data(), out_real.data(), out_imag.data(), false)
             .empty()) {
        return;
    }
    for (size_t k = 0; k < power_.size(); ++k) {
        power_[k] += out_real[k] * out_real[k] + out_imag[k] * out_imag[k];
    }
    ++pieces_;
}

PsdCurve PsdAverage::curve(const GroundResponse& response) const {
    PsdCurve curve;
    if (pieces_ == 0) return curve;
    const auto n = static_cast<double>(piece_length_);
    const double spacing = rate_ / n;
    // One-sided density: twice the power of a line, per hertz, over the taper's mean square.
    const double scale = 2 / (rate_ * n * taper_power_ * pieces_);
    // Running sums of the acceleration density, so that each band is one subtraction.
    std::vector<double> running(power_.size() + 1, 0.0);
    for (size_t k = 0; k < power_.size(); ++k) {
        const double f = static_cast<double>(k) * spacing;
        const double density =
            k == 0 ? 0 : power_[k] * scale * AccelerationPowerFactor(response, f);
        running[k + 1] = running[k] + density;
    }
    const double nyquist = rate_ / 2;
    const double longest = kLongestPeriodShare * n / rate_;
    const int first =
        static_cast<int>(std::ceil(8 * std::log2(2 * std::numbers::sqrt2 / rate_) - 1e-9));
    const int last = static_cast<int>(std::floor(8 * std::log2(longest) + 1e-9));
    for (int band = first; band <= last; ++band) {
        const double fc = 1 / BandPeriod(band);
        const double low = fc / std::numbers::sqrt2;
        const double high = std::min(fc * std::numbers::sqrt2, nyquist);
        const auto from = static_cast<size_t>(std::ceil(low / spacing));
        const auto to =
            std::min(static_cast<size_t>(std::floor(high / spacing)), power_.size() - 1);
        if (to < from || from == 0) continue;
        const double mean = (running[to + 1] - running[from]) / static_cast<double>(to - from + 1);
        if (curve.level_db.empty()) curve.first_band = band;
        // Far below anything measurable rather than minus infinity.
        curve.level_db.push_back(mean > 0 ? 10 * std::log10(mean) : -400);
    }
    curve.pieces = pieces_;
    return curve;
}

PsdCurve StretchPsd(std::span<const double> samples, double rate, const GroundResponse& response) {
    const int length = PsdPieceLength(rate);
    if (length == 0 || samples.size() < static_cast<size_t>(length)) return {};
    PsdAverage average(length, rate);
    const auto n = static_cast<size_t>(length);
    for (size_t start = 0; start + n <= samples.size(); start += n / 4) {
        average.add_piece(samples.subspan(start, n));
    }
    return average.curve(response);
}

std::optional<PsdHour> HourlyPsd::close_hour(const GroundResponse& response) {
    if (!average_ || hour_ == INT64_MIN) return std::nullopt;
    const int n = average_->piece_length();
    const auto hour_samples = static_cast<int64_t>(average_->rate() * 3600);
    const int64_t fit = hour_samples >= n ? (hour_samples - n) / (n / 4) + 1 : 1;
    if (average_->pieces() * 2 < fit) return std::nullopt;
    return PsdHour{hour_ * kHourUs, average_->curve(response)};
}

std::optional<PsdHour> HourlyPsd::add(int64_t first_us, double rate,
                                      std::span<const int32_t> values,
                                      const GroundResponse& response) {
    const int n = PsdPieceLength(rate);
    if (n == 0 || values.empty()) return std::nullopt;
    std::optional<PsdHour> closed;
    if (average_ && average_->rate() != rate) {
        // A new rate: what this hour gathered at the old one is not comparable.
        average_.reset();
        piece_.clear();
    }
    if (!piece_.empty() && std::llabs(first_us - next_us_) * rate > 500'000) piece_.clear();
    const double step_us = 1e6 / rate;
    for (size_t i = 0; i < values.size(); ++i) {
        const int64_t t = first_us + std::llround(static_cast<double>(i) * step_us);
        const int64_t hour = floor_div(t, kHourUs);
        if (hour != hour_ || !average_) {
            if (hour != hour_) {
                if (auto done = close_hour(response)) closed = std::move(done);
                hour_ = hour;
            }
            average_.emplace(n, rate);
            piece_.clear();
        }
        piece_.push_back(values[i]);
        if (piece_.size() == static_cast<size_t>(n)) {
            average_->add_piece(piece_);
            piece_.erase(piece_.begin(), piece_.begin() + n / 4);
        }
    }
    next_us_ = first_us + std::llround(static_cast<double>(values.size()) * step_us);
    return closed;
}

}  // namespace velkantor::display
