#pragma once

#include <cstdint>
#include <string_view>

namespace velkantor::runtime {

// The subsystems fed by the main loop, called in the sample chain's fixed order. Each
// method does nothing by default; the subsystem that owns a step overrides it.
class SampleConsumers {
public:
    virtual ~SampleConsumers() = default;

    // The board has started and the run's main loop begins.
    virtual void run_started() {}

    // Per data frame of channel `ch`, in this order.
    virtual void chart_pacing(int /*ch*/) {}
    virtual void datalog_append(int /*ch*/, int32_t /*value*/) {}
    virtual void detector_statistics(int /*ch*/, int32_t /*value*/) {}
    virtual void spectrum(int /*ch*/, int32_t /*value*/) {}
    virtual void trigger_and_record(int /*ch*/, int32_t /*value*/) {}
    virtual void chart_draw(int /*ch*/, int32_t /*value*/) {}
    virtual void drum(int /*ch*/, int32_t /*value*/) {}

    // A board time frame (first byte 0x81), once per board second.
    virtual void board_time_frame(std::string_view /*frame*/) {}
    // A memory-read reply (first byte 0x86).
    virtual void memory_read_reply(std::string_view /*frame*/) {}

    // The exit sequence, per channel: close its event file, save its drum.
    virtual void run_ended(int /*ch*/) {}
    // The board was restarted after an outage: what was derived from its stream before (the
    // drums' pens, the spectrum's block) begins anew with its first new second.
    virtual void board_restarted() {}
};

}  // namespace velkantor::runtime
