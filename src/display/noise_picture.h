#pragma once

#include <span>
#include <string>
#include <vector>

#include "display/noise_psd.h"
#include "platform/canvas.h"

// The daily probabilistic picture of a channel's noise: for every band, how often the day's
// hours were at each level (1 dB steps), the most frequent level, and the two reference
// noise models.
namespace velkantor::display {

inline constexpr int kNoisePictureWidth = 800;
inline constexpr int kNoisePictureHeight = 560;

// How often each level occurred per band, over a set of hours.
struct NoiseHistogram {
    int first_band = 0;
    int bands = 0;
    int low_db = 0;  // the lowest 1 dB step
    int steps = 0;
    std::vector<int> counts;  // bands x steps, band-major
    std::vector<int> hours;   // hours with a level in each band

    int count(int band, int step) const {
        return counts[static_cast<size_t>((band - first_band) * steps + step)];
    }
    // The step with the most hours in a band, -1 when none.
    int mode(int band) const;
};

// The levels binned between low_db and high_db (a level outside counts in the nearest step).
NoiseHistogram MakeNoiseHistogram(std::span<const PsdHour> hours, int low_db, int high_db);

// The level range drawn: -200 .. -50 dB for ground acceleration (the reference models' span
// with room around it); for counts, the hours' own range in 10 dB steps.
std::pair<int, int> NoiseLevelRange(std::span<const PsdHour> hours, bool calibrated);

// Draws the picture of the hours on a canvas of kNoisePictureWidth x kNoisePictureHeight.
// `title` heads it; the reference models are drawn for a calibrated channel only (they mean
// nothing against counts).
void DrawNoisePicture(platform::Canvas& canvas, std::span<const PsdHour> hours, bool calibrated,
                      const std::string& title);

}  // namespace velkantor::display
