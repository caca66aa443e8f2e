#include "gui/event_list_window.h"

#include <gtest/gtest.h>

#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "support/station_rig.h"

namespace velkantor::testing {
namespace {

constexpr const char* kEvent = "20260301_115901.CH1";
constexpr const char* kEventPath = "/station/events/20260301_115901.CH1";
constexpr const char* kViewer = "/usr/bin/event-viewer";

// The event list on a loaded station that has recorded one event; the viewer's starts are
// recorded instead of run.
class EventListWindowTest : public ::testing::Test {
protected:
    struct Start {
        std::string program;
        std::vector<std::string> arguments;
    };

    EventListWindowTest() {
        rig.load();
        rig.station.settings().general.event_browser = kViewer;
        rig.fs.put(kEventPath, "event samples\r\n");
        rig.station.AppendEventLog(
            std::string(kEvent) + " 2026/03/01 11:59:01 L:00006000 Max SLTA:4.2 Max Amplit:001234");
        rig.station.event_log().on_line = [this](const std::string& line) {
            earlier.push_back(line);
        };
        window = std::make_unique<gui::EventListWindow>(
            rig.station,
            [this](const std::string& program, const std::vector<std::string>& arguments) {
                starts.push_back({program, arguments});
                return viewer_starts;
            });
        window->show();
    }

    QListWidget* list() { return window->findChild<QListWidget*>("List1"); }
    std::vector<std::string> rows() {
        std::vector<std::string> texts;
        for (int i = 0; i < list()->count(); ++i)
            texts.push_back(list()->item(i)->text().toStdString());
        return texts;
    }
    int row_of(const std::string& part) {
        auto texts = rows();
        for (size_t i = 0; i < texts.size(); ++i) {
            if (texts[i].find(part) != std::string::npos) return static_cast<int>(i);
        }
        ADD_FAILURE() << "no row holds " << part;
        return -1;
    }
    void click(const char* name) {
        auto* button = window->findChild<QPushButton*>(name);
        ASSERT_NE(button, nullptr) << name;
        QTest::mouseClick(button, Qt::LeftButton);
    }
    std::vector<std::string> file_lines() { return split_lines(rig.file("evtfile.dat")); }

    StationRig rig;
    std::vector<std::string> earlier;
    std::vector<Start> starts;
    bool viewer_starts = true;  // what the launcher reports
    std::unique_ptr<gui::EventListWindow> window;
};

TEST_F(EventListWindowTest, ShowsTheLogAndSelectsEachNewLine) {
    EXPECT_EQ(rows(), file_lines());
    ASSERT_GE(rows().size(), 2u);

    rig.station.AppendEventLog("STOP");
    ASSERT_EQ(rows(), file_lines());
    EXPECT_EQ(list()->currentRow(), list()->count() - 1);
    EXPECT_EQ(earlier.size(), 1u) << "whoever listened before still hears the log";

    // Closed, the window does not follow; opened again, it shows the file as it is.
    window->close();
    rig.station.AppendEventLog("START");
    window->show();
    EXPECT_EQ(rows(), file_lines());
}

TEST_F(EventListWindowTest, ViewStartsTheViewerWithThePathAsOneArgument) {
    list()->setCurrentRow(row_of(kEvent));
    click("eventview");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].program, kViewer);
    EXPECT_EQ(starts[0].arguments, (std::vector<std::string>{kEventPath}));

    // A name that a shell would run as a command reaches the viewer as a plain argument.
    const std::string odd = "x;reboot&$(halt).CH1";
    rig.fs.put("/station/events/" + odd, "");
    rig.station.AppendEventLog(odd + " 2026/03/01 12:00:00 L:00000010");
    auto* item = list()->item(list()->count() - 1);
    const QPoint at = list()->visualItemRect(item).center();
    // The view opens what the first click of the pair pressed.
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list()->viewport(), Qt::LeftButton, {}, at);
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[1].arguments, (std::vector<std::string>{"/station/events/" + odd}));

    // Entries naming no file, and files that are gone, start nothing.
    list()->setCurrentRow(row_of("STARTING"));
    click("eventview");
    EXPECT_TRUE(rig.fs.remove(kEventPath));
    list()->setCurrentRow(row_of(kEvent));
    click("eventview");
    EXPECT_EQ(starts.size(), 2u);
    EXPECT_TRUE(rig.op.shown.empty());
}

// The viewer setting is a program with its own arguments, split as a shell splits words;
// what cannot be started is said.
TEST_F(EventListWindowTest, ViewerSettingIsSplitAndAFailureIsReported) {
    struct Case {
        const char* setting;
        std::vector<std::string> started;  // program, then arguments; empty: nothing starts
        bool starts;
        const char* message;  // nullptr: none
    };
    const Case cases[] = {
        {"gedit --new-window", {"gedit", "--new-window", kEventPath}, true, nullptr},
        {"'/opt/my viewer/view' -t \"a b\"",
         {"/opt/my viewer/view", "-t", "a b", kEventPath},
         true,
         nullptr},
        {"", {}, true, "File View: No file viewer is set: name one in Setup (the event browser)."},
        {"gedit 'unclosed",
         {},
         true,
         "File View: The file viewer setting cannot be read: gedit 'unclosed"},
        {"no-such-viewer -x",
         {"no-such-viewer", "-x", kEventPath},
         false,
         "File View: The file viewer could not be started: no-such-viewer"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting);
        starts.clear();
        rig.op.shown.clear();
        rig.station.settings().general.event_browser = c.setting;
        viewer_starts = c.starts;
        list()->setCurrentRow(row_of(kEvent));
        click("eventview");
        if (c.started.empty()) {
            EXPECT_TRUE(starts.empty());
        } else {
            ASSERT_EQ(starts.size(), 1u);
            std::vector<std::string> started{starts[0].program};
            started.insert(started.end(), starts[0].arguments.begin(), starts[0].arguments.end());
            EXPECT_EQ(started, c.started);
        }
        if (c.message) {
            ASSERT_EQ(rig.op.shown.size(), 1u);
            EXPECT_EQ(rig.op.shown[0].title + ": " + rig.op.shown[0].text, c.message);
        } else {
            EXPECT_TRUE(rig.op.shown.empty());
        }
    }
}

// The row with the keyboard focus is not a choice: only a selected row is viewed or deleted.
TEST_F(EventListWindowTest, ViewAndDeleteActOnlyOnTheSelectedRow) {
    list()->clearSelection();
    list()->setCurrentRow(row_of(kEvent), QItemSelectionModel::NoUpdate);
    ASSERT_TRUE(list()->selectedItems().isEmpty());
    rig.op.answers = {true};
    click("eventview");
    click("delete_event");
    EXPECT_TRUE(starts.empty());
    EXPECT_TRUE(rig.op.shown.empty());
    EXPECT_TRUE(rig.fs.exists(kEventPath));
}

TEST_F(EventListWindowTest, DeleteAsksAndTheLogKeepsTheLine) {
    const int row = row_of(kEvent);
    list()->setCurrentRow(row);
    rig.op.answers = {false};
    click("delete_event");
    ASSERT_EQ(rig.op.shown.size(), 1u);
    EXPECT_EQ(rig.op.shown[0].title, "Delete event");
    EXPECT_EQ(rig.op.shown[0].text, std::string("Are you sure to delete ") + kEvent);
    EXPECT_TRUE(rig.fs.exists(kEventPath));

    rig.op.answers = {true};
    click("delete_event");
    EXPECT_FALSE(rig.fs.exists(kEventPath));
    EXPECT_EQ(rows().size() + 1, file_lines().size());

    click("aggiorna");
    EXPECT_EQ(rows(), file_lines());
    list()->setCurrentRow(row_of(kEvent));
    click("eventview");
    EXPECT_TRUE(starts.empty()) << "the deleted event no longer opens";
}

TEST_F(EventListWindowTest, DeleteIgnoresEntriesThatNameNoEventFile) {
    rig.station.AppendEventLog("../velkant.ini was replaced.");
    for (const char* part : {"STARTING", "velkant.ini"}) {
        list()->setCurrentRow(row_of(part));
        rig.op.answers = {true};
        click("delete_event");
    }
    EXPECT_TRUE(rig.op.shown.empty());
    EXPECT_TRUE(rig.fs.exists("/station/velkant.ini"));
    EXPECT_EQ(rows(), file_lines());
}

TEST_F(EventListWindowTest, ClearLeavesOnlyEventListAndAcknowledgesTheAlarm) {
    rig.station.alarms().event_recorded = 1;
    click("delete");
    EXPECT_EQ(rig.file("evtfile.dat"), "Event list.\r\n");
    EXPECT_LT(rig.file("evtfile.dat").size(), 20u) << "the timer's own check agrees";
    EXPECT_EQ(rows(), (std::vector<std::string>{"Event list."}));
    EXPECT_EQ(rig.station.alarms().event_recorded, 0);
    EXPECT_TRUE(rig.fs.exists(kEventPath)) << "clearing the log deletes no event";
}

// A log that could not be cleared still lists the events: they are not acknowledged.
TEST_F(EventListWindowTest, ALogThatCannotBeClearedKeepsTheAlarm) {
    rig.station.alarms().event_recorded = 1;
    const std::string before = rig.file("evtfile.dat");
    rig.fs.set_full(true);
    click("delete");
    rig.fs.set_full(false);
    EXPECT_EQ(rig.file("evtfile.dat"), before);
    EXPECT_EQ(rig.station.alarms().event_recorded, 1);
    EXPECT_EQ(rows(), file_lines());
    ASSERT_FALSE(rig.op.shown.empty());
    EXPECT_EQ(rig.op.shown.back().title, "Error");
    EXPECT_EQ(rig.op.shown.back().text.rfind("The event list could not be cleared", 0), 0u)
        << rig.op.shown.back().text;
}

}  // namespace
}  // namespace velkantor::testing
