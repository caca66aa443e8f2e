#include "display/offline_drum.h"

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
    for (const auto& file : reader.files(ch)) {
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
    // An hour at a time: a day at 200 samples per second is 17 million samples.
    auto per_hour = static_cast<size_t>(std::llround(result.rate * 3600));
    for (int hour = 0; hour < 24; ++hour) {
        auto run = reader.read(ch, begin + hour * 3600.0, per_hour, result.rate);
        int row = geometry.row_of(hour);
        double centre = geometry.row_centre(row);
        for (size_t i = 0; i < run.values.size(); ++i) {
            auto source = run.sources[i];
            if (source == datalog::SampleSource::missing ||
                source == datalog::SampleSource::past_end) {
                pen.flush(picture);
                pen.restart();
                continue;
            }
            auto second = static_cast<int>(std::floor(static_cast<double>(i) / result.rate));
            double x = geometry.x_of(hour, second / 60, second % 60);
            double y = drum_y(geometry, row, run.values[i], channel.drum_scale, general.ad_type);
            pen.plot(picture, x, y, centre, kDrumTrace);
            result.samples += 1;
        }
    }
    pen.flush(picture);
    return result;
}

}  // namespace velkantor::display
