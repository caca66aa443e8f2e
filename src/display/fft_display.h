#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/settings.h"
#include "display/board_time.h"
#include "display/display_view.h"
#include "platform/canvas.h"
#include "platform/file_system.h"
#include "platform/operator.h"
#include "platform/picture_codec.h"

// The spectrum display: the power spectrum of consecutive blocks of a channel's samples,
// drawn over a logarithmic frequency axis (scope) or as one column per minute of a
// day-long time-frequency picture (JTF), and saved as images in the drums folder.
namespace velkantor::display {

// JTF gives one pixel column to each minute of the day.
inline constexpr int kSpectrumPictureWidth = 1440;
inline constexpr int kSpectrumPictureHeight = 480;

// `fft_display_mode` 1 and 2; `none` until a frame has been drawn.
enum class SpectrumMode { none, scope, jtf };

// The texts of the window's labels, as the last frame drawn left them.
struct SpectrumLabels {
    std::string spacing;                                  // bin spacing in Hz, "#.##"
    std::string nyq;                                      // the highest frequency shown, Hz
    std::string top;                                      // scope: the level at the top edge, dB
    std::string bottom;                                   // scope: the level at the bottom edge, dB
    std::string minute_start, minute_middle, minute_end;  // JTF: "0", "720", "1440"
    std::string frequency_unit;                           // "Hz"
    std::string other_unit;  // scope "dB" (levels), JTF "min." (time of day)
};

// What the labels `freq` and `level` show for a pointer over the picture.
struct SpectrumReadout {
    std::string freq;   // "Freq:" and the frequency, "0.0"
    std::string level;  // scope: "Level:" and the level, "0.0"; JTF: empty
};

// One processed block of N samples.
struct SpectrumFrame {
    int points = 0;              // N
    double rate = 0;             // samples per second
    double nyq = 0;              // the highest frequency shown, Hz
    std::vector<double> levels;  // dB of bins 0 .. N / 2

    double spacing() const;               // rate / N
    double bin_frequency(int bin) const;  // Hz
};

// The level of a transform output: 10 log10((re^2 + im^2) / N^2) dB; -180 dB for a bin with
// no power, and for one whose power is not a finite number (an absurd resolution setting),
// so that no NaN or infinity reaches the picture.
double BinLevel(double re, double im, int points);

// The channel's rate / 2 rounded to a whole number (halves to even). Below 2 samples per
// second that whole number is 0, which would leave the picture no width; the exact half of
// the rate is used then.
double SpectrumNyquist(double rate);

// The scope's levels: `fft_scope_max` and `fft_scope_min`, with a range under 10 dB
// widened by putting the top 100 dB above `fft_scope_max`.
struct LevelRange {
    double top;
    double bottom;
};
LevelRange ScopeLevelRange(int16_t scope_max, int16_t scope_min);

// The logarithmic frequency axis: df maps to 0 and nyq to nyq when df < 1 Hz.
double ScopeX(double frequency, double spacing, double nyq);

// The JTF colour of a level: (|jtf_base| - |level|) x 1280 / 180 steps up a ramp of
// black-blue, blue-cyan, cyan-green, green-yellow, yellow-red (256 steps each).
platform::Color JtfColour(double level_db, int16_t jtf_base);

// Number pictures of the labels and the readout.
std::string SpacingText(double value);     // "#.##": ".08", "7.81", "2."
std::string OneDecimalText(double value);  // "0.0": "0.1", "-87.3"

// The core side of a channel's spectrum window (`fft`). The desktop's window shows
// `picture()` and the labels and passes the pointer position to `readout`.
class SpectrumWindow {
public:
    // The picture is made by `codec`, kSpectrumPictureWidth x kSpectrumPictureHeight.
    SpectrumWindow(int ch, platform::PictureCodec& codec);

    int channel() const { return ch_; }                      // 0..3
    const std::string& caption() const { return caption_; }  // "FFT Channel " + (ch + 1)
    platform::Canvas& picture() { return *picture_; }        // `Picture1`
    const platform::Canvas& picture() const { return *picture_; }
    const SpectrumLabels& labels() const { return labels_; }
    SpectrumMode mode() const { return mode_; }

    // The user scale last given to the picture: left, top, right and bottom edges.
    struct Scale {
        double left = 0;
        double top = 0;
        double right = 0;
        double bottom = 0;
    };
    const Scale& scale() const { return scale_; }

    // Scope mode: the decade starts from 0.001 Hz below nyq and their x, ended by 2 x nyq.
    const std::vector<double>& grid_freq() const { return grid_freq_; }
    const std::vector<double>& grid_x() const { return grid_x_; }

    // The labels' texts for a pointer at (x, y) in the picture's user scale, in the mode of
    // the last frame drawn. Empty texts before the first frame.
    SpectrumReadout readout(double x_user, double y_user) const;

    // Clears the picture and draws the frame over the logarithmic frequency axis: the grid,
    // the spectrum and, with `noise_models`, the low and high noise models. False, with
    // nothing drawn, when the frame cannot be placed on the axis.
    bool draw_scope(const SpectrumFrame& frame, int16_t scope_max, int16_t scope_min,
                    bool noise_models);
    // Adds the frame as the column of `minute_of_day` (0..1439) and moves the cursor ahead
    // of it. False, with nothing drawn, for a minute outside the day or a frame that cannot
    // be placed.
    bool draw_jtf(const SpectrumFrame& frame, int16_t jtf_base, int minute_of_day);

    // The transform's error is shown once in the life of a window: it recurs at every frame
    // of a bad block length, and the operator can only answer it by changing the setting.
    bool fourier_error_shown() const { return fourier_error_shown_; }
    void set_fourier_error_shown() { fourier_error_shown_ = true; }

private:
    void set_scale(double left, double top, double right, double bottom);

    int ch_;
    std::string caption_;
    std::unique_ptr<platform::Canvas> picture_;
    SpectrumLabels labels_;
    SpectrumMode mode_ = SpectrumMode::none;
    Scale scale_;
    std::vector<double> grid_freq_;
    std::vector<double> grid_x_;
    bool fourier_error_shown_ = false;
};

struct SpectraEnvironment {
    platform::FileSystem& fs;
    platform::PictureCodec& codec;
    platform::Operator& op;
    DisplayView& view;
    std::string drums_folder;  // the station's "drums" folder, "/"-separated
};

// The spectra of the four channels: their windows, blocks and saved images.
class Spectra {
public:
    explicit Spectra(SpectraEnvironment env);
    ~Spectra();
    Spectra(const Spectra&) = delete;
    Spectra& operator=(const Spectra&) = delete;

    // One conditioned sample of a channel with `fft_enabled`. Opens the channel's window
    // when it has none open (a window the view reports closed is destroyed and replaced),
    // collects the block and, after N + 1 samples, transforms the first N, draws them by
    // `fft_display_mode` and saves the picture as `fft_save_mode` asks. A `fft_points` of 0
    // is stored as 256. Returns why saving failed (empty when nothing failed); drawing goes
    // on regardless. Samples are not collected while `configured_rate` is not positive.
    std::string FeedSpectrum(int ch, int32_t sample, config::Settings& settings,
                             double configured_rate, const BoardTime& now);

    // The window's save button: the picture as "spec.bmp" in the drums folder, exported as
    // "SPEC_" + (ch + 1) in the `drum_format`, then "spec.bmp" deleted. Empty text, or why
    // not.
    std::string cmd_save_spectra(int ch, const config::Settings& settings);

    // The channel's window; nullptr before its first sample or for a channel out of range.
    SpectrumWindow* window(int ch);

    // START: a block half filled by the run before ends there; the new run's first
    // spectrum holds its own samples only.
    void run_started();

    // `show_noise_models`: draw the reference noise models over scope spectra.
    bool show_noise_models = false;

private:
    struct Channel {
        std::unique_ptr<SpectrumWindow> window;
        int block_points = 0;       // the N that `input` was laid out for
        std::vector<double> input;  // `fft_input`: N + 1 values
        int count = 0;              // `fft_count`
        double previous = 0;        // `fft_previous`
        int frames = 0;             // `fft_frames`
    };

    std::string process_frame(int ch, Channel& channel, const config::Settings& settings,
                              double rate, double nyq, const BoardTime& now);
    std::string save_step(int ch, Channel& channel, const config::Settings& settings,
                          const BoardTime& now);
    std::string write_spec_bmp(const platform::Canvas& picture);

    SpectraEnvironment env_;
    std::array<Channel, config::kChannels> channels_;
    // Shared by the channels: the transform's outputs and its all-zero imaginary input.
    std::vector<double> re_;
    std::vector<double> im_;
    std::vector<double> zeros_;
    SpectrumFrame frame_;
};

}  // namespace velkantor::display
