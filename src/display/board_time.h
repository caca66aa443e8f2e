#pragma once

#include <string>

namespace velkantor::display {

// The board time of the latest decoded time frame, as the displays use it.
struct BoardTime {
    bool known = false;  // false until the first time frame of the run
    int hour = 0;
    int minute = 0;
    int second = 0;
    std::string date;  // "YYYY/MM/DD"

    int minute_of_day() const { return hour * 60 + minute; }
    double second_of_day() const { return hour * 3600.0 + minute * 60.0 + second; }
};

}  // namespace velkantor::display
