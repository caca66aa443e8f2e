#pragma once

namespace velkantor::timekeeping {

// Who set the board's clock last in this run, which decides the zone its time is in.
enum class BoardTimeSource {
    // The PC (an instrument whose seconds are the PC's, a board set from the PC at start, by
    // the PC-to-board synchronisation or after a bad time, or a board whose receiver has not
    // spoken yet in this run): the PC's zone.
    pc,
    // The board's time receiver synchronised it: DCF77's CET/CEST or GPS's UTC, plus the
    // time-zone correction the board adds.
    receiver,
};

struct UtcOffsetInputs {
    BoardTimeSource source = BoardTimeSource::pc;
    int sync_source = 1;        // non-zero: DCF77, 0: GPS
    int gmt_offset = 0;         // the time-zone correction, whole hours, as stored
    bool dcf_daylight = false;  // the time frame's 0x40 bit: DCF77 sends summer time
    int pc_offset = 0;          // the PC's zone for that second, seconds
};

// Board time minus UTC, in seconds, for one board second.
//   PC:    the PC's zone (summer time included).
//   DCF77: CET (UTC+1) or CEST (UTC+2) by the daylight bit, plus the correction (the time
//          window shows the correction plus one: the zone the operator lives in, in winter).
//   GPS:   UTC plus the correction.
int board_utc_offset(const UtcOffsetInputs& in);

}  // namespace velkantor::timekeeping
