#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <vector>

#include "app/station_displays.h"
#include "config/settings_file.h"
#include "datalog/datalog_reader.h"
#include "display/displays.h"
#include "platform/real/qt_picture_codec.h"
#include "support/station_rig.h"
#include "text/number_text.h"

namespace velkantor::testing {
namespace {

// Hours of board time the soak runs: VELKANTOR_SOAK_HOURS, 27 by default (a whole day with
// every kind of fault, the midnight before it and the board lost over the one after it, well
// under a minute); the week is 168.
double soak_hours() {
    const char* text = std::getenv("VELKANTOR_SOAK_HOURS");
    return text ? std::atof(text) : 27;
}

constexpr int kRate = 100;
constexpr int kChannels = 4;

// What the board sent in each second of each channel: enough to find a lost, extra or
// changed sample without keeping every sample of a week.
struct SecondSums {
    int64_t sum = 0;
    int32_t count = 0;
};

// A stretch of PC time in which samples may be lost, as a real station would lose them.
struct FaultWindow {
    double from;
    double to;
    const char* what;
};

// Whether `second` falls in one of the windows.
bool in_any(const std::vector<FaultWindow>& windows, double second) {
    return std::any_of(windows.begin(), windows.end(),
                       [&](const FaultWindow& f) { return second >= f.from && second < f.to; });
}

double at(double t0, int day, int hour, int minute = 0, int second = 0) {
    return t0 + day * 86400.0 + hour * 3600.0 + minute * 60.0 + second;
}

// The operator presses STOP at `stop_at` and START again at `start_at`.
bool stop_and_start_again(StationRig& rig, double stop_at, double start_at) {
    rig.host.run_until(stop_at);
    rig.stop();
    rig.host.wait(start_at - rig.clock.epoch_seconds());
    return rig.station.start();
}

// The station at 4 x 100 samples per second with datalog, STA/LTA triggers in coincidence,
// drums and spectra, on a board with faults on a daily schedule, for days of board time.
TEST(Soak, StationKeepsEverySampleThroughDaysOfFaults) {
    const double hours = soak_hours();
    if (hours <= 0) GTEST_SKIP() << "VELKANTOR_SOAK_HOURS is 0";
    const text::DateTime start{2026, 3, 1, 22, 0, 0, 0};
    StationRig rig(start);
    rig.load();
    auto& settings = rig.station.settings();
    auto& general = settings.general;
    general.ad_type = config::kZeda18;
    general.drum_format = 1;  // GIF: exact
    general.drum_update = 5;  // hourly
    for (int c = 0; c < kChannels; ++c) {
        auto& ch = settings.channels[static_cast<size_t>(c)];
        ch.sps_index = 15;
        ch.datalog_enabled = 1;
        ch.record_enabled = 1;
        ch.trigger_mode = 1;
        ch.start_params = "2000,2,0.5,1,30,4";
        ch.stop_params = "1800,0.5,2,3";
        // Channels 1 and 2 start only together.
        if (c < 2) ch.and_channels = static_cast<int16_t>(1 << (1 - c));
        ch.trigger_window = 5;
        ch.drum_enabled = 1;
        ch.fft_enabled = 1;
        ch.fft_points = 1024;
        ch.fft_display_mode = c % 2 ? 1 : 2;
        ch.jtf_base = -120;
        ch.fft_scope_max = 100;
        ch.fft_scope_min = -40;
        ch.fft_save_mode = 4;
        ch.fft_save_updating = 1;
        config::DecodeStartParams(ch);
        config::DecodeStopParams(ch);
        config::UpdateDerivedCounts(ch);
    }
    platform::QtPictureCodec codec;
    display::DisplayView no_windows;
    display::Displays displays(app::display_source(rig.station), codec, no_windows);

    const double t0 = rig.clock.epoch_seconds();
    const int days = static_cast<int>(std::ceil((hours + 22) / 24.0)) + 1;
    sim::BoardOptions options;
    options.noise_amplitude = 200;
    options.clock.sync_every_seconds = 60;
    std::vector<FaultWindow> faults;
    std::vector<double> quakes;
    auto board_time = [](double epoch) { return text::from_epoch_seconds(epoch); };
    for (int d = 0; d < days; ++d) {
        // Days start at the first midnight; the run begins two hours before it.
        double day = at(t0, d, 2);
        options.faults.garbage.push_back(
            {board_time(day + 3 * 3600), board_time(day + 4 * 3600), 0.01, 0.0});
        faults.push_back({day + 3 * 3600 - 5, day + 4 * 3600 + 60, "garbage"});
        options.clock.bad_times.push_back(
            {board_time(day + 5.5 * 3600), sim::BadTime::Field::hours});
        faults.push_back({day + 5.5 * 3600 - 5, day + 5.5 * 3600 + 5, "bad time"});
        options.clock.receiver_lost.push_back(
            {board_time(day + 14 * 3600), board_time(day + 16 * 3600)});
        for (int h = 1; h < 24; h += 3) {
            double q = day + h * 3600 + 20 * 60;
            options.quakes.push_back({board_time(q), 30, 20000});
            quakes.push_back(q);
        }
        for (int h : {1, 7, 13, 19})
            faults.push_back({day + h * 3600 - 2, day + h * 3600 + 150, "unplug"});
    }
    // Once, in the first day, so that the default length meets every kind of fault.
    const double jump = at(t0, 0, 12);
    options.clock.jumps.push_back({board_time(jump), 5});
    faults.push_back({jump - 10, jump + 15, "clock jump"});
    const double full_from = at(t0, 0, 13, 30);
    faults.push_back({full_from - 2, full_from + 600 + 5, "disk full"});
    // STOP half a minute before the first midnight, START half a minute after it.
    const double stopped_from = at(t0, 0, 1, 59, 30);
    const double stopped_to = at(t0, 0, 2, 0, 30);
    faults.push_back({stopped_from - 5, stopped_to + 30, "stopped over midnight"});
    // The board lost over the second midnight for 80 s, with an event open when it goes: the
    // event ends at the restart, the day's drums are archived, the new day begins.
    const double lost_midnight = at(t0, 1, 2);
    const bool lose_over_midnight = lost_midnight + 300 < t0 + hours * 3600;
    if (lose_over_midnight) {
        options.quakes.push_back({board_time(lost_midnight - 70), 60, 20000});
        quakes.push_back(lost_midnight - 70);
        faults.push_back({lost_midnight - 42, lost_midnight + 150, "lost over midnight"});
    }

    // Laid out before the run, so that the heap watched below does not grow with it.
    const auto seconds = static_cast<size_t>(hours * 3600) + 3600;
    std::vector<SecondSums> sent(kChannels * seconds);
    auto sent_at = [&](int ch, double second) -> SecondSums* {
        double offset = std::floor(second + 1e-6) - t0;
        if (offset < 0 || offset >= static_cast<double>(seconds)) return nullptr;
        return &sent[static_cast<size_t>(ch) * seconds + static_cast<size_t>(offset)];
    };
    auto& board = rig.attach_board(options);
    board.sample_listener = [&](int ch, double when, int32_t value) {
        if (auto* s = sent_at(ch, when)) {
            s->sum += value;
            s->count += 1;
        }
    };

    // Unplug 40 s at 01:00, 07:00, 13:00 and 19:00; the disk full for 10 minutes once.
    rig.host.on_tick = [&](double now) {
        double of_day = std::fmod(now - t0 + 22 * 3600.0, 86400.0);
        for (int h : {1, 7, 13, 19}) {
            if (of_day >= h * 3600 && of_day < h * 3600 + 1) rig.line->set_connected(false);
            if (of_day >= h * 3600 + 40 && of_day < h * 3600 + 41) rig.line->set_connected(true);
        }
        rig.fs.set_full(now >= full_from && now < full_from + 600);
        if (lose_over_midnight) {
            if (now >= lost_midnight - 40 && now < lost_midnight - 39)
                rig.line->set_connected(false);
            if (now >= lost_midnight + 40 && now < lost_midnight + 41)
                rig.line->set_connected(true);
        }
    };

    auto in_use = [] { return static_cast<double>(mallinfo2().uordblks); };
    auto files_bytes = [&] { return static_cast<double>(rig.fs.bytes_held()); };
    ASSERT_TRUE(rig.station.start());
    double memory_day1 = 0;
    double end = t0 + hours * 3600;
    for (double t = t0; t < end;) {
        t = std::min(t + 3600, end);
        if (stopped_from > t - 3600 && stopped_from <= t && stopped_to < end) {
            ASSERT_TRUE(stop_and_start_again(rig, stopped_from, stopped_to));
        }
        rig.host.run_until(t);
        if (memory_day1 == 0 && t - t0 >= 26 * 3600 - 1) memory_day1 = in_use() - files_bytes();
    }
    double memory_end = in_use() - files_bytes();
    rig.stop();

    // Every sample outside the fault windows is in the datalog at its second, with its value.
    auto in_fault = [&](double second) { return in_any(faults, second); };
    datalog::DatalogReader reader(rig.fs, std::string(kStation) + "/datalog", 4);
    long compared = 0, lost = 0, changed = 0;
    struct Stretch {
        int ch;
        double from, to;
        int found, sent;
    };
    std::vector<Stretch> stretches;
    for (int ch = 0; ch < kChannels; ++ch) {
        for (double hour = t0; hour < end; hour += 3600) {
            auto run = reader.read(ch, hour, 3600 * kRate, kRate);
            for (int s = 0; s < 3600; ++s) {
                double second = hour + s;
                const SecondSums* board_sent = sent_at(ch, second);
                // The board sends nothing before the handshake or while unplugged.
                if (!board_sent || board_sent->count == 0 || in_fault(second) || second < t0 + 60 ||
                    second > end - 5) {
                    continue;
                }
                int64_t sum = 0;
                int count = 0;
                for (int k = 0; k < kRate; ++k) {
                    size_t i = static_cast<size_t>(s * kRate + k);
                    if (i >= run.values.size() ||
                        run.sources[i] == datalog::SampleSource::missing ||
                        run.sources[i] == datalog::SampleSource::past_end) {
                        continue;
                    }
                    sum += run.values[i];
                    ++count;
                }
                ++compared;
                bool wrong = false;
                if (count != board_sent->count) {
                    ++lost;
                    wrong = true;
                } else if (sum != board_sent->sum) {
                    ++changed;
                    wrong = true;
                }
                if (wrong) {
                    // Consecutive wrong seconds of a channel make one stretch.
                    if (!stretches.empty() && stretches.back().ch == ch &&
                        stretches.back().to == second) {
                        stretches.back().to = second + 1;
                    } else {
                        stretches.push_back({ch, second, second + 1, count, board_sent->count});
                    }
                }
            }
        }
    }

    // Every quake made an event file on each channel, finished with its count.
    std::vector<std::string> event_names;
    for (const auto& name : rig.fs.list_directory(std::string(kStation) + "/events")) {
        if (name.find('.') != std::string::npos) event_names.push_back(name);
    }
    int unfinished = 0;
    std::set<int64_t> event_starts;
    for (const auto& name : event_names) {
        auto lines = split_lines(rig.fs.contents(std::string(kStation) + "/events/" + name));
        if (lines.size() < 29) {
            ++unfinished;
            continue;
        }
        auto count = text::leading_number(lines[2].substr(19)).value_or(-1);
        if (count != static_cast<double>(lines.size() - 29)) ++unfinished;
        if (auto t = text::parse_datetime(lines[1].substr(12, 19))) {
            event_starts.insert(static_cast<int64_t>(text::to_epoch_seconds(*t)));
        }
    }
    int quakes_due = 0, quakes_missed = 0;
    for (double q : quakes) {
        if (q < t0 + 120 || q > end - 120 || in_fault(q)) continue;
        ++quakes_due;
        bool found = false;
        for (int64_t s : event_starts) found |= s >= q - 40 && s <= q + 5;
        quakes_missed += !found;
    }

    // An archived drum for every midnight passed; nothing half-written; logs within limits.
    int midnights = 0, archives_missing = 0;
    for (double m = at(t0, 0, 2); m < end - 60; m += 86400) {
        ++midnights;
        auto day = text::from_epoch_seconds(m - 86400);
        char name[64];
        for (int ch = 1; ch <= kChannels; ++ch) {
            std::snprintf(name, sizeof name, "/drums/drum_%02d%02d%02d_%d.GIF", day.year % 100,
                          day.month, day.day, ch);
            archives_missing += rig.fs.exists(std::string(kStation) + name) ? 0 : 1;
        }
    }
    // A garbled time on the line must not name a file: every datalog file begins within the run.
    int misnamed = 0;
    for (std::string name : rig.fs.list_directory(std::string(kStation) + "/datalog")) {
        // The note of a file's filled samples is named after the file.
        if (name.ends_with(datalog::kFilledSuffix)) name.resize(name.size() - 4);
        auto file = datalog::ParseDatalogName(name);
        if (!file || file->start_epoch < t0 || file->start_epoch > end + 5) {
            if (misnamed++ < 3) std::printf("  misnamed datalog file: %s\n", name.c_str());
        }
    }
    int temporaries = 0;
    for (const char* dir : {"", "/datalog", "/events", "/drums"}) {
        for (const auto& name : rig.fs.list_directory(std::string(kStation) + dir)) {
            temporaries += name.size() > 4 && name.substr(name.size() - 4) == ".tmp";
        }
    }
    auto event_log = rig.fs.file_size(std::string(kStation) + "/evtfile.dat").value_or(0);
    auto time_log = rig.fs.file_size(std::string(kStation) + "/timefile.txt").value_or(0);

    std::printf("\n  soak: %.0f hours of board time, 4 x %d samples per second\n", hours, kRate);
    std::printf("  %-44s %12ld\n", "seconds compared outside fault windows", compared);
    std::printf("  %-44s %12ld\n", "seconds with samples lost or extra", lost);
    std::printf("  %-44s %12ld\n", "seconds with a changed value", changed);
    std::printf("  %-44s %12zu\n", "event files", event_names.size());
    std::printf("  %-44s %12d\n", "event files unfinished (count != lines)", unfinished);
    std::printf("  %-44s %9d of %d\n", "quakes without an event", quakes_missed, quakes_due);
    std::printf("  %-44s %9d of %d\n", "drum archives missing", archives_missing, midnights * 4);
    std::printf("  %-44s %12d\n", "half-written files (.tmp)", temporaries);
    std::printf("  %-44s %12d\n", "datalog files named outside the run", misnamed);
    std::printf("  %-44s %12llu\n", "event log bytes (limit 64000 + a line)",
                static_cast<unsigned long long>(event_log));
    std::printf("  %-44s %12llu\n", "time log bytes", static_cast<unsigned long long>(time_log));
    if (memory_day1 > 0) {
        std::printf("  %-44s %9.1f MB\n", "heap besides files, after the first day",
                    memory_day1 / 1e6);
        std::printf("  %-44s %9.1f MB\n", "heap besides files, at the end", memory_end / 1e6);
    }
    std::string first_loss;
    for (size_t i = 0; i < stretches.size() && i < 8; ++i) {
        const auto& w = stretches[i];
        std::printf("  wrong: channel %d from %s for %.0f s (first second: %d of %d samples)\n",
                    w.ch + 1, text::format_datetime(text::from_epoch_seconds(w.from)).c_str(),
                    w.to - w.from, w.found, w.sent);
        if (first_loss.empty())
            first_loss = text::format_datetime(text::from_epoch_seconds(w.from));
    }

    EXPECT_GT(compared, static_cast<long>(hours * 3600 * 3));
    EXPECT_EQ(lost, 0) << first_loss;
    EXPECT_EQ(changed, 0);
    EXPECT_EQ(unfinished, 0);
    EXPECT_EQ(quakes_missed, 0);
    EXPECT_EQ(archives_missing, 0);
    EXPECT_EQ(temporaries, 0);
    EXPECT_EQ(misnamed, 0);
    EXPECT_LE(event_log, 64000u + 200u);
    EXPECT_LE(time_log, 64000u + 200u);
    if (memory_day1 > 0) {
        EXPECT_LT(memory_end - memory_day1, 20e6);
    }
}

// What the chain hands to the datalog, per channel.
struct DatalogCounter : runtime::SampleConsumers {
    std::array<long, kChannels> appended{};
    void datalog_append(int ch, int32_t) override { ++appended[static_cast<size_t>(ch & 3)]; }
};

// An instrument whose seconds are the PC's (the DATAQ, 120 and 60 samples per second) while
// the PC clock is set back an hour every day (summer time ending, as often as the soak
// allows) and the station is stopped over the first midnight: every sample handed to the
// datalog is in it, none in another sample's file, no file over its length.
TEST(Soak, PcPacedInstrumentKeepsEverySampleWhenThePcClockGoesBack) {
    const double hours = soak_hours();
    if (hours <= 0) GTEST_SKIP() << "VELKANTOR_SOAK_HOURS is 0";
    StationRig rig({2026, 10, 24, 22, 0, 0, 0});
    rig.load();
    DatalogCounter counter;
    rig.station.set_consumers(&counter);
    auto& settings = rig.station.settings();
    settings.general.ad_type = config::kDataqDi194rs;
    const std::array<int, kChannels> sps{16, 13, 0, 0};  // 120, 60, off, off
    for (size_t c = 0; c < kChannels; ++c) {
        settings.channels[c].sps_index = static_cast<int16_t>(sps[c]);
        settings.channels[c].datalog_enabled = sps[c] != 0 ? 1 : 0;
    }
    sim::BoardOptions options;
    options.model = "DATAQ";
    rig.attach_board(options);

    const double t0 = rig.clock.epoch_seconds();
    const double end = t0 + hours * 3600;
    const double stopped_from = at(t0, 0, 1, 59, 30);
    const double stopped_to = at(t0, 0, 2, 0, 30);
    std::vector<double> steps;
    for (double step = at(t0, 0, 5); step < end - 60; step += 86400) steps.push_back(step);
    int starts = 1;

    std::string folder = std::string(kStation) + "/datalog";
    auto samples_of = [&](const std::string& name) {
        return rig.fs.file_size(folder + "/" + name).value_or(0) / 2;
    };
    std::map<std::string, uint64_t> before_first_step;
    ASSERT_TRUE(rig.station.start());
    for (double t = t0; t < end;) {
        double next = std::min(t + 3600, end);
        for (double step : steps) {
            if (step > t && step <= next) {
                rig.host.run_until(step);
                if (before_first_step.empty()) {
                    for (const auto& name : rig.fs.list_directory(folder)) {
                        before_first_step[name] = samples_of(name);
                    }
                }
                rig.clock.step_pc_clock(-3600);
            }
        }
        if (stopped_from > t && stopped_from <= next && stopped_to < end) {
            ASSERT_TRUE(stop_and_start_again(rig, stopped_from, stopped_to));
            ++starts;
        }
        rig.host.run_until(next);
        t = next;
    }
    rig.stop();

    std::array<uint64_t, kChannels> logged{};
    uint64_t longest = 0;
    int repeated_files = 0, first_pass_changed = 0;
    for (const auto& name : rig.fs.list_directory(folder)) {
        if (name.size() < 25) continue;
        int ch = name[24] - '0';
        if (ch < 0 || ch >= kChannels) continue;
        uint64_t samples = samples_of(name);
        logged[static_cast<size_t>(ch)] += samples;
        double rate = ch == 0 ? 120 : 60;
        longest = std::max(longest, static_cast<uint64_t>(static_cast<double>(samples) / rate));
        repeated_files += name.size() > 25;
        auto first = before_first_step.find(name);
        // The file open at the step may take the rest of its second, nothing more.
        if (first != before_first_step.end() &&
            static_cast<double>(samples - first->second) > rate) {
            ++first_pass_changed;
        }
    }
    std::printf(
        "\n  soak: %.0f hours, DATAQ at 120 + 60 samples per second, PC clock set back "
        "%zu times, %d STARTs\n",
        hours, steps.size(), starts);
    long lost = 0;
    for (size_t c = 0; c < 2; ++c) {
        long missing = counter.appended[c] - static_cast<long>(logged[c]);
        std::printf("  channel %zu: %ld samples to the datalog, %llu in its files\n", c + 1,
                    counter.appended[c], static_cast<unsigned long long>(logged[c]));
        double rate = c == 0 ? 120 : 60;
        // A part of a second has no known place at each START and at each step back.
        if (static_cast<double>(missing) > rate * static_cast<double>(starts + steps.size())) {
            lost += missing;
        }
    }
    std::printf("  %-44s %12d\n", "files of seconds that came again", repeated_files);
    std::printf("  %-44s %12d\n", "first-pass files written after the step", first_pass_changed);
    std::printf("  %-44s %12llu\n", "longest file (seconds)",
                static_cast<unsigned long long>(longest));

    EXPECT_EQ(lost, 0);
    EXPECT_GE(repeated_files, steps.empty() ? 0 : 1);
    EXPECT_EQ(first_pass_changed, 0);
    EXPECT_LE(longest, 15u * 60u + 1u);
}

// What an instrument sent in one PC second: its sum and count, and its first and last two
// samples, so that a second read a sample or two early or late can be told from a wrong one.
struct SentSecond {
    int64_t sum = 0;
    int32_t count = 0;
    std::array<int32_t, 2> head{};
    std::array<int32_t, 2> tail{};
};

// An instrument paced by the PC clock (INFILTEC at 50 readings a second, exactly) read as
// the real hosts read it, in batches of 40 to 50 ms, that falls silent for 70 s four times
// a day (a USB hiccup) and comes back: outside those silences every second of the datalog
// holds the samples sent in that PC second, none lost, none cut, none moved by more than the
// one at its boundary; each silence ends with one "data back".
TEST(Soak, PcPacedInstrumentInBatchesKeepsEverySampleThroughSilences) {
    const double hours = soak_hours();
    if (hours <= 0) GTEST_SKIP() << "VELKANTOR_SOAK_HOURS is 0";
    constexpr int kReadings = 50;
    StationRig rig({2026, 3, 1, 22, 0, 0, 0});
    rig.load();
    auto& settings = rig.station.settings();
    settings.general.ad_type = config::kInfiltec;
    settings.channels[0].sps_index = 12;  // 50
    settings.channels[0].datalog_enabled = 1;
    for (size_t c = 1; c < kChannels; ++c) settings.channels[c].sps_index = 0;
    rig.host.set_batches(0.040, 0.050);
    const double t0 = rig.clock.epoch_seconds();
    const double end = t0 + hours * 3600;

    sim::BoardOptions options;
    options.model = "INFILTEC";
    options.reading_rate = kReadings;
    // The readings fall a third of the way into their 20 ms, as one instrument's would.
    options.board_start = text::from_epoch_seconds(t0 - 1.0 / (3 * kReadings));
    const auto seconds = static_cast<size_t>(hours * 3600) + 60;
    std::vector<SentSecond> sent(seconds);
    auto& board = rig.attach_board(options);
    board.sample_listener = [&](int, double when, int32_t value) {
        // The instrument tells its own clock's time: the PC's less the phase above.
        const double pc = when + 1.0 / (3 * kReadings);
        const double offset = std::floor(pc + 1e-9) - t0;
        if (offset < 0 || offset >= static_cast<double>(seconds)) return;
        SentSecond& s = sent[static_cast<size_t>(offset)];
        if (s.count < 2) s.head[static_cast<size_t>(s.count)] = value;
        s.tail = {s.tail[1], value};
        s.sum += value;
        s.count += 1;
    };

    // Silent for 70 s at 01:00, 07:00, 13:00 and 19:00 (the station restarts it from 30 s on).
    std::vector<FaultWindow> faults;
    int silences = 0;
    rig.host.on_tick = [&](double now) {
        const double of_day = std::fmod(now - t0 + 22 * 3600.0, 86400.0);
        for (int h : {1, 7, 13, 19}) {
            if (of_day >= h * 3600 && of_day < h * 3600 + 1) {
                rig.line->set_connected(false);
                faults.push_back({now - 2, now + 70 + 10, "silent"});
                ++silences;
            }
            if (of_day >= h * 3600 + 70 && of_day < h * 3600 + 71) rig.line->set_connected(true);
        }
    };
    ASSERT_TRUE(rig.station.start());
    for (double t = t0; t < end;) {
        t = std::min(t + 3600, end);
        rig.host.run_until(t);
    }
    rig.stop();

    auto in_fault = [&](double second) { return in_any(faults, second); };
    datalog::DatalogReader reader(rig.fs, std::string(kStation) + "/datalog", 2);
    // A second of the datalog holds the samples sent in its PC second, or those of a window
    // `shift` samples later (positive) or earlier: where each unit's second is only estimated
    // from the bytes waiting, the sample at a boundary may go either way.
    auto shifted_sum = [&](size_t offset, int shift) {
        const SentSecond& here = sent[offset];
        int64_t sum = here.sum;
        for (int k = 0; k < std::abs(shift); ++k) {
            const auto i = static_cast<size_t>(k);
            if (shift > 0) sum += sent[offset + 1].head[i] - here.head[i];
            if (shift < 0) sum += sent[offset - 1].tail[1 - i] - here.tail[1 - i];
        }
        return sum;
    };
    long compared = 0, lost = 0;  // lost: seconds not holding their count
    std::map<int, long> shifts;   // seconds by how far they were shifted (99: none matched)
    std::string first_wrong;
    for (double hour = t0; hour < end; hour += 3600) {
        auto run = reader.read(0, hour, 3600 * kReadings, kReadings);
        for (int s = 0; s < 3600; ++s) {
            const double second = hour + s;
            const auto offset = static_cast<size_t>(second - t0);
            if (offset == 0 || offset + 1 >= seconds || in_fault(second) || second < t0 + 10 ||
                second > end - 5) {
                continue;
            }
            const SentSecond& here = sent[offset];
            int64_t sum = 0;
            int count = 0;
            for (int k = 0; k < kReadings; ++k) {
                const auto i = static_cast<size_t>(s * kReadings + k);
                if (i >= run.values.size() || run.sources[i] == datalog::SampleSource::missing ||
                    run.sources[i] == datalog::SampleSource::past_end) {
                    continue;
                }
                sum += run.values[i];
                ++count;
            }
            ++compared;
            int shift = 99;
            for (int k : {0, 1, -1, 2, -2}) {
                if (shifted_sum(offset, k) == sum) {
                    shift = k;
                    break;
                }
            }
            if (count != here.count) ++lost;
            ++shifts[count != here.count ? 99 : shift];
            if ((count != here.count || std::abs(shift) > 1) && first_wrong.empty()) {
                first_wrong = text::format_datetime(text::from_epoch_seconds(second)) + ": " +
                              std::to_string(count) + " of " + std::to_string(here.count) +
                              ", shifted " + std::to_string(shift);
            }
        }
    }
    auto log = rig.event_log_messages();
    const auto backs = std::count_if(log.begin(), log.end(), [](const std::string& m) {
        return m.starts_with("A/D card data back after 0:01:");
    });
    const auto& over_rate = rig.station.datalog().over_rate();

    std::printf("\n  soak: %.0f hours, INFILTEC at %d readings a second in batches, %d silences\n",
                hours, kReadings, silences);
    std::printf("  %-44s %12ld\n", "seconds compared outside the silences", compared);
    std::printf("  %-44s %12ld\n", "seconds with samples lost or extra", lost);
    uint64_t in_files = 0;
    for (const auto& f : reader.files(0)) in_files += f.samples;
    std::printf("  %-44s %12.0f\n", "samples taken by the station", rig.station.run().data_frames);
    std::printf("  %-44s %12llu\n", "samples in the datalog (filled included)",
                static_cast<unsigned long long>(in_files));
    std::printf("  %-44s %12ld\n", "samples filled", rig.station.datalog().filled()[0]);
    for (const auto& [shift, n] : shifts) {
        const std::string what = shift == 99
                                     ? "seconds not matching what was sent"
                                     : "seconds shifted by " + std::to_string(shift) + " samples";
        std::printf("  %-44s %12ld\n", what.c_str(), n);
    }
    std::printf("  %-44s %12ld\n", "samples cut over the rate", over_rate[0]);
    std::printf("  %-44s %9ld of %d\n", "silences told back", static_cast<long>(backs), silences);

    EXPECT_GT(compared, static_cast<long>(hours * 3600 * 0.9));
    EXPECT_EQ(over_rate[0], 0);
    // Only the part of a second around each return has no known place.
    EXPECT_LE(rig.station.run().data_frames - static_cast<double>(in_files),
              static_cast<double>(kReadings * silences));
    // Each second holds what was sent in it, give or take the sample at its boundary; a file
    // begun at a return may be placed a sample further (its first second's boundary was
    // estimated from one batch), and then end one second short of its span.
    EXPECT_LE(shifts[99], silences) << first_wrong;
    EXPECT_LE(shifts[2] + shifts[-2], 15 * 60 * silences) << first_wrong;
    EXPECT_EQ(backs, silences);
}

}  // namespace
}  // namespace velkantor::testing
