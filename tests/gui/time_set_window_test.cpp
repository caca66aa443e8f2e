#include "gui/time_set_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/zeda_driver.h"
#include "sim/zeda_board.h"
#include "support/station_rig.h"

namespace velkantor::testing {
namespace {

using text::DateTime;
namespace zeda = acquisition::zeda;

constexpr const char* kNoPermission =
    "The PC clock cannot be set: VELKANTOR was started without --set-pc-clock.";

// The window on a loaded station (PC clock 2026/03/01 12:00:00), not shown until open().
struct TimeSetRig {
    TimeSetRig()
        : window(rig.station, {[this](timekeeping::HousekeepingView* view, bool open) {
                                   EXPECT_EQ(view, &window);
                                   listening.push_back(open);
                               },
                               {}}) {
        rig.load();
    }
    ~TimeSetRig() { rig.station.set_housekeeping_view(nullptr); }

    void open() {
        window.show();
        rig.op.shown.clear();
    }
    template <typename T>
    T* find(const char* name) {
        auto* widget = window.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QString text(const char* name) { return find<QLineEdit>(name)->text(); }
    QString caption(const char* name) { return find<QLabel>(name)->text(); }
    // An entry finished with ENTER.
    void enter(const char* name, const QString& value) {
        auto* edit = find<QLineEdit>(name);
        edit->setText(value);
        QTest::keyClick(edit, Qt::Key_Return);
    }
    void set_fields(const DateTime& t, const QString& gmt = "1") {
        auto two = [](int v) { return QString("%1").arg(v, 2, 10, QChar('0')); };
        find<QLineEdit>("v_day")->setText(two(t.day));
        find<QLineEdit>("v_month")->setText(two(t.month));
        find<QLineEdit>("v_year")->setText(QString::number(t.year));
        find<QLineEdit>("v_hours")->setText(two(t.hour));
        find<QLineEdit>("v_minutes")->setText(two(t.minute));
        find<QLineEdit>("v_seconds")->setText(two(t.second));
        find<QLineEdit>("v_gmt")->setText(gmt);
    }
    void click(const char* name) { QTest::mouseClick(find<QPushButton>(name), Qt::LeftButton); }
    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        for (const auto& shown : rig.op.shown) out.push_back(shown.title + "|" + shown.text);
        return out;
    }
    bool written_ends_with(const std::string& tail) const {
        const std::string& written = rig.port.written();
        return written.size() >= tail.size() &&
               written.compare(written.size() - tail.size(), tail.size(), tail) == 0;
    }
    bool logged(const std::string& message) const {
        auto log = rig.event_log_messages();
        return std::find(log.begin(), log.end(), message) != log.end();
    }

    StationRig rig;
    gui::TimeSetWindow window;
    std::vector<bool> listening;
};

// The three clock commands of a manual set, as the board hears them.
std::string clock_commands(const DateTime& t, int gmt_offset) {
    return zeda::set_time(t.hour, t.minute, t.second) + zeda::set_date(t.year, t.month, t.day) +
           zeda::set_time_zone(gmt_offset);
}

TEST(TimeSetWindow, OpeningLoadsSettingsAndPcClock) {
    TimeSetRig t;
    auto& general = t.rig.station.settings().general;
    general.sync_source = 1;
    general.gmt_offset = 0;
    general.pc_sync = 0;
    general.sync_every = 3;
    general.pc_rtc = 1;
    t.open();
    EXPECT_EQ(t.window.windowTitle(), "TIME SET");
    EXPECT_TRUE(t.find<QRadioButton>("option_sync1")->isChecked());
    EXPECT_EQ(t.text("v_gmt"), "1") << "DCF77 shows the correction one hour up";
    const std::vector<std::pair<const char*, const char*>> fields = {
        {"v_day", "01"},   {"v_month", "03"},   {"v_year", "2026"},
        {"v_hours", "12"}, {"v_minutes", "00"}, {"v_seconds", "00"}};
    for (auto [name, value] : fields) EXPECT_EQ(t.text(name), value) << name;
    EXPECT_EQ(t.caption("realtime"), "2026/03/01 12:00:00");
    EXPECT_EQ(t.caption("lastsync"), "No sync received");
    EXPECT_EQ(t.caption("timestatus"), "Status: Not Locked");
    EXPECT_TRUE(t.find<QCheckBox>("pc_rtc")->isChecked());

    auto* every = t.find<QComboBox>("sync_every");
    EXPECT_EQ(every->currentText(), " 4 hours");
    EXPECT_FALSE(every->isEnabled());
    t.find<QCheckBox>("pc_sync")->click();
    EXPECT_TRUE(every->isEnabled());
    t.find<QCheckBox>("pc_sync")->click();
    EXPECT_FALSE(every->isEnabled());

    EXPECT_EQ(t.listening, std::vector<bool>{true});
    t.click("notimeset");
    EXPECT_FALSE(t.window.isVisible());
    EXPECT_EQ(t.listening, (std::vector<bool>{true, false}));
    EXPECT_EQ(general.pc_sync, 0) << "cancel changes no setting";
}

TEST(TimeSetWindow, BoardTypeAndSettingsLockDecideWhatCanBeChanged) {
    struct Case {
        int16_t ad_type;
        int16_t locked;
        bool clock_boxes;
        bool fields;
    };
    const std::vector<Case> cases = {
        {config::kZeda18, 0, true, true},        {config::kZeda30, 0, true, true},
        {config::kInfiltec, 0, false, true},     {config::kLx1500, 0, false, true},
        {config::kDataqDi194rs, 0, false, true}, {config::kZeda18, 1, false, false},
    };
    TimeSetRig t;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.ad_type) + " locked " + std::to_string(c.locked));
        auto& general = t.rig.station.settings().general;
        general.ad_type = c.ad_type;
        general.settings_locked = c.locked;
        general.pc_sync = 1;
        t.open();
        for (const char* box : {"pc_rtc", "pc_sync", "set_pc_time"}) {
            EXPECT_EQ(t.find<QCheckBox>(box)->isEnabled(), c.clock_boxes) << box;
        }
        EXPECT_EQ(t.find<QComboBox>("sync_every")->isEnabled(), c.clock_boxes);
        EXPECT_EQ(t.find<QLineEdit>("v_year")->isEnabled(), c.fields);
        EXPECT_EQ(t.find<QPushButton>("oktimeset")->isEnabled(), c.fields);
        EXPECT_EQ(t.find<QPushButton>("ok_time")->isEnabled(), c.fields);
        EXPECT_TRUE(t.find<QPushButton>("notimeset")->isEnabled());
        t.window.close();
    }
}

TEST(TimeSetWindow, EachFieldRefusesWhatIsOutOfRange) {
    struct Case {
        const char* field;
        const char* entry;
        const char* message;  // empty: accepted
    };
    const std::vector<Case> cases = {
        {"v_year", "1989", "Check Year Value|Insert a valid Year (1990..2090)"},
        {"v_year", "1990", ""},
        {"v_year", "2090", ""},
        {"v_year", "2091", "Check Year Value|Insert a valid Year (1990..2090)"},
        {"v_day", "32", "Check DAY Value|Insert a valid DAY (01..31)"},
        {"v_day", "x", "Check DAY Value|Insert a valid DAY (01..31)"},
        {"v_month", "0", "Check Month Value|Insert a valid Month (1..12)"},
        {"v_hours", "24", "Check Hour Value|Insert a valid hour (00..23)"},
        {"v_minutes", "60", "Check minute Value|Insert a valid minute (00..59)"},
        {"v_seconds", "", "Check second Value|Insert a valid second (00..59)"},
        {"v_gmt", "-24", "Check GMT Value|Insert a valid GMT correction (-23..+23)"},
        {"v_gmt", "-23", ""},
    };
    TimeSetRig t;
    t.open();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.field) + " '" + c.entry + "'");
        t.rig.op.shown.clear();
        t.enter(c.field, c.entry);
        if (*c.message == '\0') {
            EXPECT_TRUE(t.rig.op.shown.empty());
        } else {
            EXPECT_EQ(t.messages(), std::vector<std::string>{c.message});
            EXPECT_EQ(t.text(c.field), c.entry) << "the operator corrects the entry";
        }
    }
}

TEST(TimeSetWindow, OkStoresTheTimeZoneOfTheFieldForTheSource) {
    struct Case {
        int16_t sync_source;
        int16_t stored;
        const char* shown;
        const char* typed;
        int16_t stored_after;
        const char* label;
    };
    const std::vector<Case> cases = {
        {1, 0, "1", "1", 0, "DCF"},
        {1, 0, "1", "2", 1, "DCF"},
        {0, -5, "-5", "-5", -5, "GPS"},
        {1, 3, "4", "-23", -24, "DCF"},
    };
    TimeSetRig t;
    auto& general = t.rig.station.settings().general;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        general.sync_source = c.sync_source;
        general.gmt_offset = c.stored;
        t.open();
        EXPECT_EQ(t.text("v_gmt"), c.shown);
        t.find<QLineEdit>("v_gmt")->setText(c.typed);
        t.find<QCheckBox>("set_pc_time")->setChecked(true);
        t.find<QCheckBox>("pc_sync")->setChecked(true);
        t.find<QComboBox>("sync_every")->setCurrentIndex(5);
        t.click("ok_time");
        EXPECT_FALSE(t.window.isVisible());
        EXPECT_EQ(general.gmt_offset, c.stored_after);
        EXPECT_EQ(general.set_board_time_at_start, 1);
        EXPECT_EQ(general.pc_sync, 1);
        EXPECT_EQ(general.sync_every, 5);
        EXPECT_EQ(t.rig.station.board_clock().state().sync_source_label, c.label);
        // Opened again, the field shows what was accepted.
        t.open();
        EXPECT_EQ(t.text("v_gmt"), c.typed);
        t.window.close();
    }

    t.open();
    t.find<QLineEdit>("v_gmt")->setText("24");
    t.click("ok_time");
    EXPECT_TRUE(t.window.isVisible()) << "an invalid correction is not accepted";
    EXPECT_EQ(t.messages(),
              std::vector<std::string>{"Check GMT Value|Insert a valid GMT correction (-23..+23)"});
}

// The ZEDA board with the port closed: the version query finds it, then the clock commands.
TEST(TimeSetWindow, SetTimeAsksTheBoardAndSetsItsClock) {
    struct Case {
        int16_t sync_source;
        const char* gmt;
        int gmt_offset;  // stored and sent
        uint8_t zone_byte;
    };
    const std::vector<Case> cases = {{1, "1", 0, 0x00}, {1, "2", 1, 0x01}, {0, "-5", -5, 0xFB}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.gmt);
        TimeSetRig t;
        t.rig.station.settings().general.sync_source = c.sync_source;
        auto& board = dynamic_cast<sim::ZedaBoard&>(t.rig.attach_board());
        t.open();
        const DateTime when{2026, 6, 15, 10, 20, 30, 0};
        t.set_fields(when, c.gmt);
        t.click("oktimeset");

        EXPECT_EQ(t.messages(), std::vector<std::string>{});
        const std::string& written = t.rig.port.written();
        EXPECT_NE(written.find(zeda::kVersionRequest), std::string::npos);
        EXPECT_TRUE(t.written_ends_with(clock_commands(when, c.gmt_offset)));
        EXPECT_EQ(written.substr(written.size() - 5),
                  std::string(5, static_cast<char>(c.zone_byte)));
        EXPECT_FALSE(t.rig.port.is_open()) << "the port is left as it was found";
        EXPECT_TRUE(t.logged("Time manually set at 10:20:30"));
        EXPECT_EQ(t.rig.station.settings().general.gmt_offset, c.gmt_offset);
        EXPECT_EQ(board.time_zone_correction(), c.gmt_offset);
        EXPECT_NEAR(board.board_time(t.rig.clock.epoch_seconds()), text::to_epoch_seconds(when), 1);
        EXPECT_EQ(t.rig.pc_clock.set_to, std::vector<DateTime>{when});
    }
}

TEST(TimeSetWindow, SetTimeWithTheBoardSilentChangesNothing) {
    TimeSetRig t;
    t.open();
    auto before = t.rig.station.settings().general;
    t.set_fields({2026, 6, 15, 10, 20, 30, 0}, "5");
    t.find<QCheckBox>("pc_sync")->setChecked(true);
    t.click("oktimeset");
    EXPECT_EQ(t.messages(), std::vector<std::string>{"Error|A/D card not found."});
    EXPECT_EQ(t.rig.port.written().find(zeda::set_time(10, 20, 30)), std::string::npos);
    EXPECT_FALSE(t.rig.port.is_open());
    EXPECT_TRUE(t.rig.pc_clock.set_to.empty());
    EXPECT_EQ(t.rig.station.settings().general.gmt_offset, before.gmt_offset);
    EXPECT_EQ(t.rig.station.settings().general.pc_sync, before.pc_sync);
    EXPECT_FALSE(t.logged("Time manually set at 10:20:30"));
}

// START's pauses run the event loop: SET then would put clock commands into the handshake's
// exchange or open the port under it. It is refused as with a run whose board is away, and
// neither the board nor the PC is set.
TEST(TimeSetWindow, SetTimeDuringTheStartHandshakeChangesNothing) {
    TimeSetRig t;
    t.open();
    auto before = t.rig.station.settings().general;
    t.set_fields({2026, 6, 15, 10, 20, 30, 0}, "5");
    bool clicked = false;
    t.rig.host.on_tick = [&](double) {
        if (clicked || !t.rig.station.starting()) return;
        clicked = true;
        t.click("oktimeset");
        EXPECT_EQ(t.messages(), std::vector<std::string>{"Error|A/D card not found."});
    };
    EXPECT_FALSE(t.rig.station.start());  // the board is silent
    EXPECT_TRUE(clicked);
    EXPECT_EQ(t.rig.port.written().find(zeda::set_time(10, 20, 30)), std::string::npos);
    EXPECT_TRUE(t.rig.pc_clock.set_to.empty());
    EXPECT_EQ(t.rig.station.settings().general.gmt_offset, before.gmt_offset);
    EXPECT_FALSE(t.logged("Time manually set at 10:20:30"));
}

TEST(TimeSetWindow, SetTimeRefusesADayThatDoesNotExist) {
    TimeSetRig t;
    t.rig.attach_board();
    t.open();
    t.set_fields({2026, 4, 31, 10, 20, 30, 0});
    t.click("oktimeset");
    EXPECT_EQ(t.messages(), std::vector<std::string>{"TIME SET|Date not valid."});
    EXPECT_TRUE(t.rig.port.written().empty());
    EXPECT_TRUE(t.rig.pc_clock.set_to.empty());
}

// What the PC clock gets with a ZEDA board: its date always, its time unless `pc_rtc`, and
// only with the permission to set it; the board is set in every case.
TEST(TimeSetWindow, SetTimeAndThePcClock) {
    enum class Pc { permitted, no_permission, refused };
    struct Case {
        bool pc_rtc;
        DateTime when;
        Pc pc;
        std::optional<DateTime> pc_set;  // compared to the minute
        std::string message;
    };
    const DateTime today{2026, 3, 1, 18, 30, 0, 0};
    const DateTime other_day{2026, 3, 2, 18, 30, 0, 0};
    const std::vector<Case> cases = {
        {false, today, Pc::permitted, today, ""},
        {true, today, Pc::permitted, std::nullopt, ""},
        {true, other_day, Pc::permitted, DateTime{2026, 3, 2, 12, 0, 0, 0}, ""},
        {false, today, Pc::no_permission, std::nullopt, "TIME SET|" + std::string(kNoPermission)},
        {false, today, Pc::refused, std::nullopt,
         "TIME SET|The PC clock cannot be set: Operation not permitted"},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(i);
        TimeSetRig t;
        if (c.pc == Pc::refused) {
            t.rig.pc_clock.refusal = platform::PcClockResult{
                platform::PcClockResult::Status::not_permitted, "Operation not permitted"};
        }
        if (c.pc == Pc::no_permission) t.rig.station.set_devices({});
        t.rig.attach_board();
        t.open();
        t.find<QCheckBox>("pc_rtc")->setChecked(c.pc_rtc);
        t.set_fields(c.when);
        t.click("oktimeset");

        EXPECT_TRUE(t.written_ends_with(clock_commands(c.when, 0)));
        EXPECT_EQ(t.rig.station.settings().general.pc_rtc, c.pc_rtc ? 1 : 0);
        if (c.pc_set) {
            ASSERT_EQ(t.rig.pc_clock.set_to.size(), 1u);
            DateTime set = t.rig.pc_clock.set_to[0];
            set.second = 0;
            set.millisecond = 0;
            EXPECT_EQ(set, *c.pc_set);
        } else {
            EXPECT_TRUE(t.rig.pc_clock.set_to.empty());
        }
        EXPECT_EQ(t.messages(), c.message.empty() ? std::vector<std::string>{}
                                                  : std::vector<std::string>{c.message});
    }
}

TEST(TimeSetWindow, InstrumentsSetOnlyThePcClock) {
    struct Case {
        int16_t ad_type;
        bool permitted;
    };
    const DateTime when{2026, 7, 4, 9, 8, 7, 0};
    for (const Case& c : std::vector<Case>{{config::kInfiltec, true},
                                           {config::kLx1500, true},
                                           {config::kDataqDi194rs, true},
                                           {config::kDataqDi194rs, false}}) {
        SCOPED_TRACE(std::to_string(c.ad_type) + (c.permitted ? " permitted" : " no permission"));
        TimeSetRig t;
        t.rig.station.settings().general.ad_type = c.ad_type;
        if (!c.permitted) t.rig.station.set_devices({});
        t.open();
        t.set_fields(when, "3");
        t.click("oktimeset");
        EXPECT_TRUE(t.rig.port.written().empty());
        EXPECT_EQ(t.rig.port.open_count(), 0);
        EXPECT_EQ(t.rig.station.settings().general.gmt_offset, 0);
        if (c.permitted) {
            EXPECT_EQ(t.rig.pc_clock.set_to, std::vector<DateTime>{when});
            EXPECT_EQ(t.messages(), std::vector<std::string>{});
        } else {
            EXPECT_TRUE(t.rig.pc_clock.set_to.empty());
            EXPECT_EQ(t.messages(),
                      std::vector<std::string>{"TIME SET|" + std::string(kNoPermission)});
        }
    }
}

// A run with a DCF77 receiver that synchronises the board every minute: the window follows
// the board clock, and SET TIME goes straight to the running board.
TEST(TimeSetWindow, FollowsTheBoardClockWhileRunning) {
    TimeSetRig t;
    sim::BoardOptions options;
    options.clock.sync_every_seconds = 60;
    t.rig.attach_board(options);
    t.rig.station.set_housekeeping_view(&t.window);
    t.open();
    ASSERT_TRUE(t.rig.station.start());
    const double start = t.rig.clock.epoch_seconds();
    t.rig.host.run_until(start + 150);

    const auto& state = t.rig.station.board_clock().state();
    ASSERT_FALSE(state.last_sync_text.empty());
    EXPECT_EQ(t.caption("lastsync").toStdString(), "DCF77 Sync: " + state.last_sync_text);
    EXPECT_EQ(t.caption("timestatus"), "Status: Locked");
    EXPECT_EQ(t.caption("hour_type"), "DCF tx solar time");
    t.window.refresh();
    EXPECT_EQ(t.caption("ad_clock").toStdString(), state.board_datetime_text);
    EXPECT_TRUE(t.window.dcf_bar(12 * 60 + 1));
    EXPECT_TRUE(t.window.dcf_bar(12 * 60 + 2));
    EXPECT_FALSE(t.window.dcf_bar(12 * 60 + 5));

    QTest::mouseClick(t.find<QWidget>("dcfchart"), Qt::LeftButton);
    for (int minute = 0; minute < 1440; ++minute) ASSERT_FALSE(t.window.dcf_bar(minute)) << minute;
    for (auto mark : state.sync_minute_marks) ASSERT_EQ(mark, 0) << "the click clears the marks";
    t.rig.host.run_until(start + 190);
    EXPECT_TRUE(t.window.dcf_bar(12 * 60 + 3)) << "the next synchronisation draws its bar";
    EXPECT_FALSE(t.window.dcf_bar(12 * 60 + 2));

    // SET TIME during the run: no version query, and a new drift measurement.
    auto& trim = t.rig.station.clock_trim();
    trim.open_window();
    trim.display().first_timing = "2026/03/01 12:00:59";
    trim.display().last_timing = "2026/03/01 12:02:59";
    const size_t mark = t.rig.port.written().size();
    t.rig.op.shown.clear();
    const DateTime when{2026, 3, 1, 12, 10, 0, 0};
    t.set_fields(when);
    t.click("oktimeset");
    EXPECT_EQ(t.rig.port.written().substr(mark), clock_commands(when, 0));
    EXPECT_TRUE(t.rig.port.is_open()) << "the run keeps its port";
    EXPECT_EQ(trim.display().first_timing, "");
    EXPECT_EQ(trim.display().last_timing, "");
    trim.close_window();
    t.rig.station.stop();
    t.rig.host.run_until(t.rig.clock.epoch_seconds() + 5);
}

}  // namespace
}  // namespace velkantor::testing
