#include "display/fft_display.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

#include "display/fourier.h"
#include "display/image_export.h"
#include "display/noise_models.h"
#include "text/date_time.h"
#include "text/number_text.h"

namespace velkantor::display {

namespace {

constexpr platform::Color kBlack = platform::kChartColors[0];
constexpr platform::Color kGridGreen = platform::kChartColors[2];
constexpr platform::Color kSpectrumYellow = platform::kChartColors[14];
constexpr platform::Color kModelWhite = platform::kChartColors[15];

constexpr double kSilentBinLevel = -180;
constexpr int kMinutesPerDay = 1440;
constexpr int kCursorAhead = 10;  // minutes between the newest column and the cursor
// The cursor reaches 200 Hz at least, and the whole picture on faster channels, so that it
// blanks every old column ahead of the current minute.
constexpr double kCursorHeightHz = 200;

std::string number_text(double value) {
    return text::shortest_real(value);
}

bool drawable(const SpectrumFrame& frame) {
    return frame.points >= 2 && std::isfinite(frame.rate) && frame.rate > 0 &&
           std::isfinite(frame.nyq) && frame.nyq > 0 &&
           frame.levels.size() >= static_cast<size_t>(frame.points / 2 + 1);
}

// The scope axis's denominator |ln df| + ln nyq: the frame can be placed only when it is a
// positive number (it is 0 for a two-point block of a slow channel, where df = nyq).
double axis_span(double spacing, double nyq) {
    return std::fabs(std::log(spacing)) + std::log(nyq);
}

// fft_save_mode 1..4; "Never" (0) never saves, other values take the longest period.
int save_period(int16_t mode) {
    switch (mode) {
        case 0:
            return 0;
        case 1:
            return 1;
        case 2:
            return 2;
        case 3:
            return 10;
        default:
            return 100;
    }
}

std::optional<std::string> file_stamp(const BoardTime& now) {
    if (!now.known) return std::nullopt;
    auto t = text::parse_datetime(now.date + " " + text::zero_padded(now.hour, 2) + ":" +
                                  text::zero_padded(now.minute, 2) + ":" +
                                  text::zero_padded(now.second, 2));
    if (!t) return std::nullopt;
    return text::format_file_stamp(*t);
}

void add_failure(std::string& failures, const std::string& failure) {
    if (failure.empty()) return;
    if (!failures.empty()) failures += "; ";
    failures += failure;
}

}  // namespace

double SpectrumFrame::spacing() const {
    return rate / points;
}

double SpectrumFrame::bin_frequency(int bin) const {
    return FrequencyOfIndex(points, bin) * rate;
}

double BinLevel(double re, double im, int points) {
    const double n = points;
    const double power = (re * re + im * im) / (n * n);
    if (power == 0 || !std::isfinite(power)) return kSilentBinLevel;
    return 10 * std::log10(power);
}

double SpectrumNyquist(double rate) {
    if (!std::isfinite(rate) || rate <= 0) return 0;
    const double whole = text::round_half_even(rate / 2);
    return whole > 0 ? whole : rate / 2;
}

LevelRange ScopeLevelRange(int16_t scope_max, int16_t scope_min) {
    double top = scope_max;
    const double bottom = scope_min;
    if (std::fabs(bottom - top) < 10) top = scope_max + 100.0;
    return {top, bottom};
}

double ScopeX(double frequency, double spacing, double nyq) {
    return nyq * (std::fabs(std::log(spacing)) + std::log(frequency)) / axis_span(spacing, nyq);
}

platform::Color JtfColour(double level_db, int16_t jtf_base) {
    const double steps =
        std::floor((std::fabs(static_cast<double>(jtf_base)) - std::fabs(level_db)) * 1280 / 180);
    // Clamped while still a double: a level far outside the scale must not overflow the int.
    const int c = static_cast<int>(std::clamp(steps, 0.0, 1279.0));
    const auto u = [](int value) { return static_cast<uint8_t>(value); };
    if (c < 256) return {0, 0, u(c)};
    if (c < 512) return {0, u(c - 256), 255};
    if (c < 768) return {0, 255, u(255 - (c - 512))};
    if (c < 1024) return {u(c - 768), 255, 0};
    return {255, u(255 - (c - 1024)), 0};
}

std::string SpacingText(double value) {
    if (!std::isfinite(value) || std::fabs(value) >= 1e15) return number_text(value);
    const auto hundredths = static_cast<int64_t>(std::round(std::fabs(value) * 100));
    const int64_t whole = hundredths / 100;
    std::string fraction = text::zero_padded(hundredths % 100, 2);
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    std::string digits = (whole == 0 ? std::string() : std::to_string(whole)) + "." + fraction;
    return value < 0 && hundredths != 0 ? "-" + digits : digits;
}

std::string OneDecimalText(double value) {
    if (!std::isfinite(value) || std::fabs(value) >= 1e15) return number_text(value);
    const double tenths = std::round(value * 10);
    const auto magnitude = static_cast<int64_t>(std::fabs(tenths));
    std::string digits = std::to_string(magnitude / 10) + "." + std::to_string(magnitude % 10);
    return tenths < 0 ? "-" + digits : digits;
}

// --- SpectrumWindow ---------------------------------------------------------------------

SpectrumWindow::SpectrumWindow(int ch, platform::PictureCodec& codec)
    : ch_(ch),
      caption_("FFT Channel " + std::to_string(ch + 1)),
      picture_(codec.make_canvas(kSpectrumPictureWidth, kSpectrumPictureHeight)) {}

void SpectrumWindow::set_scale(double left, double top, double right, double bottom) {
    scale_ = {left, top, right, bottom};
    picture_->set_scale(left, top, right, bottom);
}

bool SpectrumWindow::draw_scope(const SpectrumFrame& frame, int16_t scope_max, int16_t scope_min,
                                bool noise_models) {
    if (!drawable(frame)) return false;
    const double nyq = frame.nyq;
    const double df = frame.spacing();
    const double span = axis_span(df, nyq);
    if (!std::isfinite(span) || span <= 0) return false;
    const auto x = [&](double f) { return ScopeX(f, df, nyq); };

    const LevelRange range = ScopeLevelRange(scope_max, scope_min);
    labels_ = {};
    labels_.spacing = SpacingText(df);
    labels_.nyq = number_text(nyq);
    labels_.top = number_text(range.top);
    labels_.bottom = number_text(range.bottom);
    labels_.frequency_unit = "Hz";
    labels_.other_unit = "dB";
    mode_ = SpectrumMode::scope;

    picture_->clear(kBlack);
    set_scale(0, range.top, nyq, range.bottom);

    // Vertical lines at 2..10 times each decade from 0.001 Hz up to nyq; the decade starts
    // make the readout's table.
    grid_freq_.clear();
    grid_x_.clear();
    double decade = 0.001;
    for (;;) {
        grid_freq_.push_back(decade);
        grid_x_.push_back(x(decade));
        bool reached_nyq = false;
        for (int times = 2; times <= 10; ++times) {
            const double f = times * decade;
            if (!(f < nyq)) {
                reached_nyq = true;
                break;
            }
            picture_->line(x(f), range.top, x(f), range.bottom, kGridGreen,
                           platform::LineStyle::dotted);
        }
        if (reached_nyq) break;
        decade *= 10;
    }
    grid_freq_.push_back(2 * nyq);
    grid_x_.push_back(x(2 * nyq));

    // Eleven level lines, counted rather than stepped so that the top one is never lost to
    // rounding.
    for (int k = 0; k <= 10; ++k) {
        const double y = range.bottom + k * (range.top - range.bottom) / 10;
        picture_->line(0, y, nyq, y, kGridGreen, platform::LineStyle::dotted);
    }

    const int last_bin = frame.points / 2;
    double px = x(frame.bin_frequency(1));
    double py = frame.levels[1];
    picture_->point(px, py, kSpectrumYellow);
    for (int i = 2; i <= last_bin; ++i) {
        const double nx = x(frame.bin_frequency(i));
        const double ny = frame.levels[static_cast<size_t>(i)];
        picture_->line(px, py, nx, ny, kSpectrumYellow);
        px = nx;
        py = ny;
    }

    if (noise_models) {
        for (const auto* model : {&LowNoiseModelPoints(), &HighNoiseModelPoints()}) {
            for (size_t i = 1; i < model->size(); ++i) {
                const auto& a = (*model)[i - 1];
                const auto& b = (*model)[i];
                picture_->line(x(std::pow(10.0, a.log10_frequency)), a.level_db,
                               x(std::pow(10.0, b.log10_frequency)), b.level_db, kModelWhite);
            }
        }
    }
    return true;
}

bool SpectrumWindow::draw_jtf(const SpectrumFrame& frame, int16_t jtf_base, int minute_of_day) {
    if (!drawable(frame) || minute_of_day < 0 || minute_of_day >= kMinutesPerDay) return false;
    const double nyq = frame.nyq;

    labels_ = {};
    labels_.minute_start = "0";
    labels_.minute_middle = "720";
    labels_.minute_end = "1440";
    labels_.nyq = number_text(nyq);
    labels_.spacing = SpacingText(frame.spacing());
    labels_.frequency_unit = "Hz";
    labels_.other_unit = "min.";
    mode_ = SpectrumMode::jtf;

    set_scale(0, nyq, kMinutesPerDay, 0);
    const double m = minute_of_day;
    const int last_bin = frame.points / 2;
    for (int i = 1; i <= last_bin; ++i) {
        picture_->box(m, frame.bin_frequency(i - 1), m + 1, frame.bin_frequency(i),
                      JtfColour(frame.levels[static_cast<size_t>(i)], jtf_base));
    }
    // The cursor wraps to the start of the picture in the day's last minutes, so that it
    // still blanks the old columns the next day writes first.
    const double cursor_top = std::max(kCursorHeightHz, nyq);
    for (int ahead : {kCursorAhead, kCursorAhead + 1}) {
        const double cx = (minute_of_day + ahead) % kMinutesPerDay;
        picture_->line(cx, 0, cx, cursor_top, kBlack);
    }
    return true;
}

SpectrumReadout SpectrumWindow::readout(double x_user, double y_user) const {
    if (mode_ == SpectrumMode::jtf) return {"Freq:" + OneDecimalText(y_user), {}};
    if (mode_ != SpectrumMode::scope || grid_x_.size() < 2) return {};
    // The decade starts lie on the logarithmic axis, so between two of them the frequency
    // grows geometrically with x; outside the table the nearest interval is extended.
    size_t k = 0;
    while (k + 2 < grid_x_.size() && x_user > grid_x_[k + 1]) ++k;
    const double x0 = grid_x_[k];
    const double x1 = grid_x_[k + 1];
    const double f0 = grid_freq_[k];
    const double f1 = grid_freq_[k + 1];
    const double f = x1 > x0 ? f0 * std::pow(f1 / f0, (x_user - x0) / (x1 - x0)) : f0;
    return {"Freq:" + OneDecimalText(f), "Level:" + OneDecimalText(y_user)};
}

// --- Spectra ----------------------------------------------------------------------------

Spectra::Spectra(SpectraEnvironment env) : env_(std::move(env)) {}

Spectra::~Spectra() = default;

SpectrumWindow* Spectra::window(int ch) {
    if (ch < 0 || ch >= config::kChannels) return nullptr;
    return channels_[static_cast<size_t>(ch)].window.get();
}

void Spectra::run_started() {
    for (auto& channel : channels_) {
        channel.count = 0;
        channel.previous = 0;
    }
}

std::string Spectra::FeedSpectrum(int ch, int32_t sample, config::Settings& settings,
                                  double configured_rate, const BoardTime& now) {
    if (ch < 0 || ch >= config::kChannels) return {};
    auto& channel = channels_[static_cast<size_t>(ch)];
    if (!channel.window || !env_.view.spectrum_window_open(ch)) {
        channel.window = std::make_unique<SpectrumWindow>(ch, env_.codec);
        env_.view.spectrum_created(ch, *channel.window);
    }

    auto& cs = settings.channels[static_cast<size_t>(ch)];
    if (cs.fft_points == 0) cs.fft_points = 256;
    const int n = cs.fft_points;
    // A channel without a rate has no frequency axis: nothing could be drawn.
    if (!std::isfinite(configured_rate) || configured_rate <= 0) return {};
    const double nyq = SpectrumNyquist(configured_rate);

    const double v = sample * cs.resolution;
    double fed = v;
    if (cs.sensor_type == 1) {
        // (v - previous) / (2 / nyq), multiplied out so that no division is left.
        fed = (v - channel.previous) * nyq / 2;
        channel.previous = v;
    }

    // A changed block length starts a new block. Only a length the transform accepts gets a
    // buffer; any other still counts N + 1 samples to its frame, which then reports the error.
    if (n != channel.block_points) {
        channel.block_points = n;
        channel.count = 0;
        channel.input.assign(IsPowerOfTwo(n) ? static_cast<size_t>(n) + 1 : 0, 0.0);
    }
    if (static_cast<size_t>(channel.count) < channel.input.size()) {
        channel.input[static_cast<size_t>(channel.count)] = fed;
    }
    ++channel.count;
    if (channel.count <= n) return {};
    channel.count = 0;
    return process_frame(ch, channel, settings, configured_rate, nyq, now);
}

std::string Spectra::process_frame(int ch, Channel& channel, const config::Settings& settings,
                                   double rate, double nyq, const BoardTime& now) {
    const int n = channel.block_points;
    if (IsPowerOfTwo(n)) {
        const auto size = static_cast<size_t>(n);
        zeros_.assign(size, 0.0);
        re_.resize(size);
        im_.resize(size);
    }
    std::string error =
        Fourier(n, channel.input.data(), zeros_.data(), re_.data(), im_.data(), false);
    if (!error.empty()) {
        SpectrumWindow& window = *channel.window;
        if (!window.fourier_error_shown()) {
            env_.op.message("Error!", error, platform::MessageIcon::critical);
            window.set_fourier_error_shown();
        }
        return {};
    }

    frame_.points = n;
    frame_.rate = rate;
    frame_.nyq = nyq;
    frame_.levels.resize(static_cast<size_t>(n / 2 + 1));
    for (size_t i = 0; i < frame_.levels.size(); ++i)
        frame_.levels[i] = BinLevel(re_[i], im_[i], n);

    const auto& cs = settings.channels[static_cast<size_t>(ch)];
    bool drawn = false;
    if (cs.fft_display_mode == 1) {
        drawn = channel.window->draw_scope(frame_, cs.fft_scope_max, cs.fft_scope_min,
                                           show_noise_models);
    } else if (cs.fft_display_mode == 2 && now.known) {
        drawn = channel.window->draw_jtf(frame_, cs.jtf_base, now.minute_of_day());
    }
    if (!drawn) return {};
    return save_step(ch, channel, settings, now);
}

std::string Spectra::write_spec_bmp(const platform::Canvas& picture) {
    const std::string path = platform::join_path(env_.drums_folder, "spec.bmp");
    const std::string bytes = env_.codec.encode(picture, platform::ImageFormat::bmp, 100);
    if (bytes.empty()) return "cannot encode " + path;
    auto written = env_.fs.replace_file(path, bytes);
    if (!written) return "cannot write " + path + ": " + written.error;
    return {};
}

std::string Spectra::save_step(int ch, Channel& channel, const config::Settings& settings,
                               const BoardTime& now) {
    const auto& cs = settings.channels[static_cast<size_t>(ch)];
    const int period = save_period(cs.fft_save_mode);
    if (period == 0) {
        channel.frames = 0;
        return {};
    }
    if (++channel.frames <= period) return {};
    channel.frames = 0;

    const platform::Canvas& picture = channel.window->picture();
    const int16_t format = settings.general.drum_format;
    const std::string base =
        platform::join_path(env_.drums_folder, "SPEC_" + std::to_string(ch + 1));
    std::string failures;
    add_failure(failures, write_spec_bmp(picture));
    if (cs.fft_save_updating != 0) {
        add_failure(failures, ExportDrumImage(env_.fs, env_.codec, picture, base, format));
    }
    if (cs.fft_save_incrementing != 0) {
        // Without a board time the name would not say when the picture was taken.
        if (auto stamp = file_stamp(now)) {
            add_failure(failures,
                        ExportDrumImage(env_.fs, env_.codec, picture, base + "_" + *stamp, format));
        }
    }
    return failures;
}

std::string Spectra::cmd_save_spectra(int ch, const config::Settings& settings) {
    SpectrumWindow* w = window(ch);
    if (!w) return "no spectrum window for channel " + std::to_string(ch + 1);
    std::string failures;
    const std::string written = write_spec_bmp(w->picture());
    add_failure(failures, written);
    add_failure(failures, ExportDrumImage(env_.fs, env_.codec, w->picture(),
                                          platform::join_path(env_.drums_folder,
                                                              "SPEC_" + std::to_string(ch + 1)),
                                          settings.general.drum_format));
    if (written.empty()) {
        auto removed = env_.fs.remove(platform::join_path(env_.drums_folder, "spec.bmp"));
        if (!removed) add_failure(failures, "cannot delete spec.bmp: " + removed.error);
    }
    return failures;
}

}  // namespace velkantor::display
