#pragma once

#include <string>

#include "text/date_time.h"

namespace velkantor::platform {

// How the platform writes a date and a time in its short forms, for a given moment. The
// station learns the formats by formatting a known moment, never by setting the clock.
class DateFormats {
public:
    virtual ~DateFormats() = default;
    virtual std::string short_date(const text::DateTime& t) const = 0;
    virtual std::string short_time(const text::DateTime& t) const = 0;
};

// The program writes its dates itself, "YYYY/MM/DD" and "HH:MM:SS", whatever the locale: the
// forms the station's files expect.
class ProgramDateFormats : public DateFormats {
public:
    std::string short_date(const text::DateTime& t) const override { return text::format_date(t); }
    std::string short_time(const text::DateTime& t) const override { return text::format_time(t); }
};

}  // namespace velkantor::platform
