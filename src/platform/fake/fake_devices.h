#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/date_formats.h"
#include "platform/disk_space.h"
#include "platform/parallel_port.h"
#include "platform/pc_clock.h"
#include "platform/sound.h"

namespace velkantor::platform {

// Data registers of LPT1..LPT3 in memory, with every write recorded (stamped by `clock` when
// given). A missing port fails every operation.
class FakeParallelPort : public ParallelPort {
public:
    struct Write {
        int lpt;
        uint8_t value;
        double epoch_seconds;  // 0 without a clock
    };

    explicit FakeParallelPort(const Clock* clock = nullptr) : clock_(clock) {}

    ParallelResult read_data(int lpt) override;
    ParallelResult write_data(int lpt, uint8_t value) override;

    uint8_t& reg(int lpt) { return registers_.at(static_cast<size_t>(lpt)); }
    bool missing = false;
    int failed_operations = 0;
    std::vector<Write> writes;

private:
    const Clock* clock_;
    std::array<uint8_t, 4> registers_{};
};

// Records what would have sounded: "play <path>", "tone 1566", "off".
class FakeSound : public Sound {
public:
    void play_file(const std::string& path) override { events.push_back("play " + path); }
    void tone_on(double hertz) override {
        events.push_back("tone " + std::to_string(static_cast<int>(hertz + 0.5)));
    }
    void tone_off() override { events.push_back("off"); }
    std::vector<std::string> events;
};

class FakeDiskSpace : public DiskSpace {
public:
    std::optional<uint64_t> free_bytes(const std::string& path) const override {
        asked.push_back(path);
        return free;
    }
    std::optional<uint64_t> free;
    mutable std::vector<std::string> asked;
};

// Records the times the station would have set; never touches the machine's clock.
class FakePcClock : public PcClockSetter {
public:
    PcClockResult set_local_time(const text::DateTime& local) override {
        ++attempts;
        if (!refusal) set_to.push_back(local);
        return refusal ? *refusal : PcClockResult{};
    }
    std::optional<PcClockResult> refusal;
    int attempts = 0;
    std::vector<text::DateTime> set_to;
};

// A platform with other short forms, given as patterns: "DD/MM/YYYY", "M/D/YY", "YYYY-MM-DD"
// for dates (YYYY, YY, MM, M, DD, D) and "H.MM.SS", "HH:MM:SS" for times (HH, H, MM, SS).
class PatternDateFormats : public DateFormats {
public:
    PatternDateFormats(std::string date_pattern, std::string time_pattern)
        : date_(std::move(date_pattern)), time_(std::move(time_pattern)) {}
    std::string short_date(const text::DateTime& t) const override;
    std::string short_time(const text::DateTime& t) const override;

private:
    std::string date_;
    std::string time_;
};

}  // namespace velkantor::platform
