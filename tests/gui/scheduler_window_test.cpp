#include "gui/scheduler_window.h"

#include <gtest/gtest.h>

#include <QEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <string>
#include <vector>

#include "events/schedule_rules.h"
#include "gui/window_test.h"

namespace velkantor::testing {
namespace {

class SchedulerWindowTest : public WindowTest<gui::SchedulerWindow> {
protected:
    void fill(const char* date, const char* time, const char* channel) {
        find<QLineEdit>("start_date")->setText(date);
        find<QLineEdit>("start_time")->setText(time);
        find<QLineEdit>("channel")->setText(channel);
    }
    void select(int row) { find<QListWidget>("recording")->setCurrentRow(row); }
    std::vector<std::string> listed() { return window->entries(); }
    std::string& element(size_t k) { return rig.station.settings().schedule_lines[k - 1]; }
};

TEST_F(SchedulerWindowTest, ListsTheFirstTwentyElementsThatAreNotBlank) {
    element(1) = "2026/03/02 10:00:00 Ch:1";
    element(2) = "  ";
    element(3) = "2026/03/02 11:00:00 Ch:2";
    element(21) = "2026/03/02 12:00:00 Ch:3";
    open();
    EXPECT_EQ(listed(),
              (std::vector<std::string>{"2026/03/02 10:00:00 Ch:1", "2026/03/02 11:00:00 Ch:2"}));
    EXPECT_EQ(window->windowTitle(), "Recording Scheduler");
}

TEST_F(SchedulerWindowTest, AddChecksTheFieldsAndRefusesAChannelThatIsNotOne) {
    open();
    const std::string bad_channel = std::string("Error: ") + events::kScheduleChannelText;
    struct Case {
        const char* date;
        const char* time;
        const char* channel;
        const char* added;          // nullptr: refused
        const char* channel_shown;  // the field after the click
        std::string refusal = "Error: Wrong date or time";
    };
    const Case cases[] = {
        {"2026/03/12", "14:30:00", "2", "2026/03/12 14:30:00 Ch:2", "2"},
        {"2026/3/2", "4:05", " 3 ", "2026/03/02 04:05:00 Ch:3", "3"},
        {"2026/03/12", "14:30:00", "9", nullptr, "9", bad_channel},
        {"2026/03/12", "14:30:00", "", nullptr, "", bad_channel},
        {"2026/03/12", "14:30:00", "x", nullptr, "x", bad_channel},
        {"2026/03/12", "14:30:00", "1.5", nullptr, "1.5", bad_channel},
        {"2026/03/12", "14:30:00", "2abc", nullptr, "2abc", bad_channel},
        {"2026/02/30", "14:30:00", "2", nullptr, "2"},
        {"2026/03/12", "25:00:00", "7", nullptr, "7"},
        {"", "", "", nullptr, ""},
    };
    std::vector<std::string> expected;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.date) + " " + c.time + " / " + c.channel);
        rig.op.shown.clear();
        fill(c.date, c.time, c.channel);
        click("cmd_add");
        if (c.added) {
            expected.push_back(c.added);
            EXPECT_TRUE(rig.op.shown.empty()) << last_message();
        } else {
            EXPECT_EQ(last_message(), c.refusal);
        }
        EXPECT_EQ(listed(), expected);
        EXPECT_EQ(find<QLineEdit>("channel")->text().toStdString(), c.channel_shown);
    }
    // Nothing reaches the schedule before Apply.
    EXPECT_EQ(element(1), "");
}

TEST_F(SchedulerWindowTest, TheTwentyFirstEntryIsRefused) {
    for (size_t k = 1; k <= 20; ++k)
        element(k) = "2026/03/02 10:00:" + std::to_string(10 + k) + " Ch:1";
    element(21) = "kept";
    open();
    ASSERT_EQ(listed().size(), 20u);
    fill("2026/03/12", "14:30:00", "2");
    click("cmd_add");
    EXPECT_EQ(last_message(), "Error: Maximum number of scheduled event is 20");
    EXPECT_EQ(listed().size(), 20u);
    click("cmd_scheduler_apply");
    EXPECT_EQ(element(20), "2026/03/02 10:00:30 Ch:1");
    EXPECT_EQ(element(21), "kept");
    // A full list can still be changed in place.
    select(19);
    fill("2026/03/12", "14:30:00", "4");
    click("Command2");
    EXPECT_EQ(listed().back(), "2026/03/12 14:30:00 Ch:4");
}

TEST_F(SchedulerWindowTest, SelectModifyAndDelete) {
    element(1) = "2026/03/02 10:00:00 Ch:1";
    element(2) = "2026/03/02 11:00:00 Ch:2";
    element(3) = "short";
    open();

    rig.op.shown.clear();
    // Current but not selected, as the list leaves its first entry when it gets the focus.
    find<QListWidget>("recording")->setCurrentRow(0, QItemSelectionModel::NoUpdate);
    click("Command2");
    EXPECT_EQ(last_message(), "Error: Select a scheduled recording to modify.");
    click("cmd_del");
    EXPECT_EQ(last_message(), "Error: Select a scheduled recording to delete.");
    EXPECT_EQ(listed().size(), 3u);

    select(1);
    EXPECT_EQ(find<QLineEdit>("start_date")->text(), "2026/03/02");
    EXPECT_EQ(find<QLineEdit>("start_time")->text(), "11:00:00");
    EXPECT_EQ(find<QLineEdit>("channel")->text(), "2");
    find<QLineEdit>("start_time")->setText("11:30:00");
    click("Command2");
    EXPECT_EQ(listed()[1], "2026/03/02 11:30:00 Ch:2");
    // A refused modification leaves the entry as it was.
    find<QLineEdit>("start_time")->setText("noon");
    click("Command2");
    EXPECT_EQ(listed()[1], "2026/03/02 11:30:00 Ch:2");

    select(2);  // an entry the file brought in a form of its own
    EXPECT_EQ(find<QLineEdit>("start_date")->text(), "short");
    select(0);
    click("cmd_del");
    EXPECT_EQ(listed(), (std::vector<std::string>{"2026/03/02 11:30:00 Ch:2", "short"}));
    // The next Delete needs a new selection.
    rig.op.shown.clear();
    click("cmd_del");
    EXPECT_EQ(last_message(), "Error: Select a scheduled recording to delete.");
    EXPECT_EQ(listed().size(), 2u);
}

TEST_F(SchedulerWindowTest, ApplyOkAndCancel) {
    element(1) = "2026/03/02 10:00:00 Ch:1";
    element(2) = "2026/03/02 11:00:00 Ch:2";
    element(25) = "element 25";
    open();
    select(0);
    click("cmd_del");
    click("Command1");  // cancel: nothing applied
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(element(1), "2026/03/02 10:00:00 Ch:1");

    // Shown again, the window lists the schedule, not what cancel left behind.
    window->show();
    EXPECT_EQ(listed().size(), 2u);
    select(0);
    click("cmd_del");
    click("cmd_scheduler_apply");
    EXPECT_EQ(element(1), "2026/03/02 11:00:00 Ch:2");
    EXPECT_EQ(element(2), "");
    EXPECT_EQ(element(25), "element 25");

    fill("2026/03/12", "14:30:00", "3");
    click("cmd_add");
    click("cmd_scheduler_ok");
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(element(2), "2026/03/12 14:30:00 Ch:3");
}

TEST_F(SchedulerWindowTest, SettingsLockLeavesOnlyTheListAndCancel) {
    rig.station.settings().general.settings_locked = 1;
    open();
    for (const char* name :
         {"cmd_add", "Command2", "cmd_del", "cmd_scheduler_apply", "cmd_scheduler_ok"}) {
        EXPECT_FALSE(find<QPushButton>(name)->isEnabled()) << name;
    }
    EXPECT_FALSE(find<QLineEdit>("start_date")->isEnabled());
    EXPECT_TRUE(find<QPushButton>("Command1")->isEnabled());
    EXPECT_TRUE(find<QListWidget>("recording")->isEnabled());

    // Unlocked elsewhere: the next activation gives the controls back.
    rig.station.settings().general.settings_locked = 0;
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_TRUE(find<QPushButton>("cmd_add")->isEnabled());
}

}  // namespace
}  // namespace velkantor::testing
