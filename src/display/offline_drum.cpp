#include "display/offline_drum.h"

#include <algorithm>
#include <cmath>

#include "display/drum.h"
#include "text/date_time.h"

namespace velkantor::display {

OfflineDrumResult DrawDrumFromDatalog(platform::Canvas& picture,
                                      const datalog::DatalogReader& reader, int ch,
                                      const std::string& date, const config::Settings& settings) {
    OfflineDrumResult result;
    auto day = text::parse_datetime(date + " 00:00:00");
    if (!day) {
        result.error = "the date must be YYYY/MM/DD";
        return result;
    }
    double begin = text::to_epoch_seconds(*day);
    double end = begin + 86400;
    // Listed once: the day is read an hour at a time from this listing.
    const auto files = reader.files(ch);
    for (const auto& file : files) {
        double file_end = file.start_epoch + static_cast<double>(file.samples) / file.rate;
        if (file.rate > 0 && file.start_epoch < end && file_end > begin) {
            result.rate = file.rate;
            break;
        }
    }
    if (result.rate <= 0) {
        result.error = "no datalog of channel " + std::to_string(ch + 1) + " on " + date;
        return result;
    }

    const auto& general = settings.general;
    const auto& channel = settings.channels[static_cast<size_t>(ch & 3)];
    DrumGeometry geometry = DrumGeometry::of(general.drum_hours_per_row);
    DrawNewDrum(picture, geometry, drum_header(date, settings, ch));
    DrumPen pen;
    double scale = drum_units_per_count(channel.drum_scale, general.ad_type);
    // An hour at a time: a day at 200 samples per second is 17 million samples.
    auto per_hour = static_cast<size_t>(std::llround(result.rate * 3600));
    for (int hour = 0; hour < 24; ++hour) {
        auto run = reader.read(files, begin + hour * 3600.0, per_hour, result.rate);
        double centre = geometry.row_centre(geometry.row_of(hour));
        // The samples of each whole second share one x; a gap in the files cuts the trace.
        auto first_of = [&](int second) {
            return std::min(run.values.size(),
                            static_cast<size_t>(std::ceil(second * result.rate - 1e-9)));
        };
        for (int second = 0; second < 3600; ++second) {
            size_t i = first_of(second), last = first_of(second + 1);
            while (i < last) {
                size_t run_end = i;
                while (run_end < last && run.sources[run_end] != datalog::SampleSource::missing &&
                       run.sources[run_end] != datalog::SampleSource::past_end) {
                    ++run_end;
                }
                if (run_end > i) {
                    pen.plot_second(picture, geometry.x_of(hour, second / 60, second % 60),
                                    run.values.data() + i, run_end - i, centre, scale, kDrumTrace);
                    result.samples += run_end - i;
                }
                if (run_end < last) {
                    pen.flush(picture);
                    pen.restart();
                    ++run_end;
                }
                i = run_end;
            }
        }
    }
    pen.flush(picture);
    return result;
}

}  // namespace velkantor::display
