#pragma once

namespace velkantor::timekeeping {

// The once-per-second work of other subsystems, handed off by the board clock at fixed
// points of each board time frame. Every method does nothing by default; the subsystem that
// owns a step overrides it.
class SecondListener {
public:
    virtual ~SecondListener() = default;

    // After the midnight date fix (skipped while charting is off): the charts' time marks.
    virtual void draw_time_marks() {}
    // After the sample-count diagnostics: the drum's board time of day and the measured-rate
    // display (channel-0 samples of the second that ended).
    virtual void board_time_of_day(double /*second_of_day*/) {}
    virtual void show_measured_rate(double /*samples_per_second*/) {}
    // The trigger's arming and window countdown, the event files' and the datalog's flush
    // belong to the station's own subsystems: the station runs them once the board clock
    // has accepted the second.
};

}  // namespace velkantor::timekeeping
