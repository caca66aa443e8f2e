#pragma once

#include <cstdint>
#include <string>

#include "config/settings.h"
#include "datalog/review_page.h"
#include "platform/file_system.h"
#include "text/date_time.h"

// The review window's rules that are not drawing: where the files are, where the next and
// previous pages begin, which drum image belongs to a day, which settings an extract uses.
namespace velkantor::datalog {

// The folder whose files the review reads. `datalog_folder` normally names a station's
// program folder (the default, and what "Set Standard VELKANTOR path?" puts back), whose
// files lie in its "datalog" subfolder; an operator may also point it straight at a folder
// of datalog files. The subfolder is used when it exists.
std::string ReviewDatalogFolder(const platform::FileSystem& fs, const std::string& datalog_folder);

// Where the next page begins: where the page on screen ends, with its date, whatever the
// page's length (a slow chart speed makes pages of several days).
text::DateTime NextPageStart(const ReviewPage& page);
// Where the previous page begins: as many whole seconds before the page on screen as the
// page lasts from its shown begin to its shown end, across midnight too.
text::DateTime PreviousPageStart(const ReviewPage& page);

// The drum image of `day` for channel `ch` (0..3), without extension: today's is the drum
// being drawn ("drum_" + channel number), an earlier day's the archived one
// ("drum_" + YYMMDD + "_" + channel number).
std::string ReviewDrumBase(const std::string& drums_folder, const text::DateTime& day,
                           const text::DateTime& today, int ch);

// The settings an extract writes with: the station's own for what decided how the datalog
// was written and what the event file is called (rates, sample width, format, extension),
// and those of the chosen configuration file for the station and sensor lines of the header.
config::Settings ExtractSettings(const config::Settings& live, const config::Settings& chosen);

}  // namespace velkantor::datalog
