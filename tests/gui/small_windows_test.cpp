#include "gui/small_windows.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "diagnostics/error_reporter.h"
#include "gui/error_list_window.h"
#include "gui/qt_operator.h"
#include "platform/fake/virtual_clock.h"
#include "platform/host.h"

namespace velkantor {
namespace {

using diagnostics::ErrorInfo;
using diagnostics::ErrorReporter;

// A host that, when the reporter holds its caller, lets the test act once (as the operator
// would while the caller waits) and then reports whether the caller was let go.
struct OperatorTurnHost : platform::Host {
    void do_events() override {}
    void wait(double) override {}
    void wait_for_input(double) override {}
    void hold_while(const std::function<bool()>& condition) override {
        ++holds;
        if (condition() && during_hold) during_hold();
        released = !condition();
    }

    std::function<void()> during_hold;
    int holds = 0;
    bool released = false;
};

class ErrorListTest : public ::testing::Test {
public:
    void report(int number = 6, const std::string& text = "Overflow") {
        reporter.ReportError(ErrorInfo{number, text}, 312, "START");
    }
    void click(const char* name) {
        auto* button = window.findChild<QPushButton*>(QString::fromLatin1(name));
        ASSERT_NE(button, nullptr) << name;
        QTest::mouseClick(button, Qt::LeftButton);
    }
    QStringList shown_lines() const {
        QStringList out;
        auto* list = window.findChild<QListWidget*>(QStringLiteral("errorlist"));
        for (int i = 0; list && i < list->count(); ++i) out << list->item(i)->text();
        return out;
    }

    platform::VirtualClock clock{{2026, 1, 1, 12, 0, 0, 0}};
    OperatorTurnHost host;
    ErrorReporter reporter{clock, host};
    std::vector<std::string> event_log;
    int ends = 0;
    gui::ErrorListWindow window{reporter,
                                [this](std::string_view line) { event_log.emplace_back(line); },
                                [this] { ++ends; }};
};

TEST_F(ErrorListTest, FirstReportOpensTheWindowWithItsLine) {
    ASSERT_FALSE(window.isVisible());
    report();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isModal());
    EXPECT_EQ(window.objectName(), QStringLiteral("boxerrori"));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Error List Report"));
    EXPECT_EQ(shown_lines(),
              QStringList{QStringLiteral(
                  "Count: 1 / Error:6/Overflow / START / 312 / 12:00:00 2026/01/01")});
    EXPECT_EQ(host.holds, 0);
}

TEST_F(ErrorListTest, FifteenthReportDropsTheOldestLine) {
    for (int i = 0; i < 15; ++i) report();
    QStringList lines = shown_lines();
    ASSERT_EQ(lines.size(), 14);
    EXPECT_TRUE(lines.front().startsWith(QStringLiteral("Count: 2 /")))
        << lines.front().toStdString();
    EXPECT_TRUE(lines.back().startsWith(QStringLiteral("Count: 15 /")))
        << lines.back().toStdString();
}

TEST_F(ErrorListTest, ClearListEmptiesAndTheNextReportCountsFromOne) {
    for (int i = 0; i < 3; ++i) report();
    click("wiperrors");
    EXPECT_TRUE(shown_lines().isEmpty());
    EXPECT_EQ(reporter.error_flow(), ErrorReporter::kCleared);
    report();
    ASSERT_EQ(shown_lines().size(), 1);
    EXPECT_TRUE(shown_lines().front().startsWith(QStringLiteral("Count: 1 /")));
}

TEST_F(ErrorListTest, CloseUnloadsTheListWithTheWindow) {
    for (int i = 0; i < 3; ++i) report();
    click("Command1");
    EXPECT_FALSE(window.isVisible());
    report();
    EXPECT_TRUE(window.isVisible());
    ASSERT_EQ(shown_lines().size(), 1) << "the old lines went with the closed window";
    EXPECT_TRUE(shown_lines().front().startsWith(QStringLiteral("Count: 1 /")));
}

TEST_F(ErrorListTest, EndLeavesTheEndingToTheOwner) {
    report();
    click("end_velkant");
    EXPECT_EQ(ends, 1);
    EXPECT_TRUE(event_log.empty());
}

// BREAK makes the next report hold its caller; each way out of BREAK lets it go.
struct ReleaseCase {
    const char* name;
    std::function<void(ErrorListTest&)> release;
    int16_t flow_after;
    bool visible_after;
    int lines_after;
};
void PrintTo(const ReleaseCase& c, std::ostream* os) {
    *os << c.name;
}

class ErrorListBreakTest : public ErrorListTest,
                           public ::testing::WithParamInterface<ReleaseCase> {};

TEST_P(ErrorListBreakTest, BreakHoldsTheNextCallerUntilReleased) {
    const ReleaseCase& c = GetParam();
    report();
    click("break");
    EXPECT_EQ(event_log, std::vector<std::string>{"BREAK flow from ERRORS Window"});
    EXPECT_EQ(reporter.error_flow(), ErrorReporter::kHold);

    host.during_hold = [&] { c.release(*this); };
    report();
    EXPECT_EQ(host.holds, 1);
    EXPECT_TRUE(host.released);
    EXPECT_EQ(reporter.error_flow(), c.flow_after);
    EXPECT_EQ(window.isVisible(), c.visible_after);
    EXPECT_EQ(shown_lines().size(), c.lines_after);
}

INSTANTIATE_TEST_SUITE_P(
    Release, ErrorListBreakTest,
    ::testing::Values(
        ReleaseCase{"Continue", [](ErrorListTest& fixture) { fixture.click("restart"); },
                    ErrorReporter::kContinue, true, 2},
        ReleaseCase{"ClearList", [](ErrorListTest& fixture) { fixture.click("wiperrors"); },
                    ErrorReporter::kCleared, true, 0},
        // Close unloads the window and its list.
        ReleaseCase{"Close", [](ErrorListTest& fixture) { fixture.click("Command1"); },
                    ErrorReporter::kCleared, false, 0},
        // The title bar's close must not strand a held caller behind a window nobody sees.
        ReleaseCase{"TitleBarClose", [](ErrorListTest& fixture) { fixture.window.close(); },
                    ErrorReporter::kCleared, false, 0}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// exec() blocks the test: the answer is queued to run inside the dialog's own event loop, on
// whatever modal dialog is open by then.
void answer_modal(std::function<void(QWidget*)> answer, int turns_left = 100) {
    QTimer::singleShot(0, [answer = std::move(answer), turns_left]() mutable {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            answer(modal);
        } else if (turns_left > 0) {
            answer_modal(std::move(answer), turns_left - 1);
        } else {
            ADD_FAILURE() << "no dialog opened";
        }
    });
}

QWidget* visible_top_level(const QString& name, int* count = nullptr) {
    QWidget* found = nullptr;
    int n = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == name && widget->isVisible()) {
            found = widget;
            ++n;
        }
    }
    if (count) *count = n;
    return found;
}

TEST(WarnBox, ShowsOneWarningAtATimeUntilOk) {
    gui::QtOperator op;
    op.warn("The DATE format of your system is dd/MM/yyyy\r\nSet the YYYY/MM/DD short format.\r\n");
    QWidget* box = visible_top_level(QStringLiteral("warnbox"));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Warning!"));
    auto* text = box->findChild<QLabel*>(QStringLiteral("warntext"));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->text(), QStringLiteral("The DATE format of your system is dd/MM/yyyy\n"
                                           "Set the YYYY/MM/DD short format."));

    op.warn("A/D card not found.");
    int open_boxes = 0;
    EXPECT_EQ(visible_top_level(QStringLiteral("warnbox"), &open_boxes), box);
    EXPECT_EQ(open_boxes, 1);
    EXPECT_EQ(text->text(), QStringLiteral("A/D card not found."));

    auto* ok = box->findChild<QPushButton*>(QStringLiteral("warnok"));
    ASSERT_NE(ok, nullptr);
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_FALSE(box->isVisible());

    op.warn("again");
    EXPECT_EQ(visible_top_level(QStringLiteral("warnbox")), box);
}

TEST(WarnBox, UsesTheBoxItIsGiven) {
    gui::WarnBox shared;
    gui::QtOperator op(nullptr, &shared);
    op.warn("LX1500 Not found.");
    EXPECT_TRUE(shared.isVisible());
    EXPECT_EQ(&op.warn_box(), &shared);
}

struct IconCase {
    const char* name;
    platform::MessageIcon icon;
    QMessageBox::Icon shown;
};
void PrintTo(const IconCase& c, std::ostream* os) {
    *os << c.name;
}

class QtOperatorMessageTest : public ::testing::TestWithParam<IconCase> {};

TEST_P(QtOperatorMessageTest, ShowsTitleTextAndIcon) {
    gui::QtOperator op;
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    answer_modal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        box->button(QMessageBox::Ok)->click();
    });
    op.message("Password", "PASSWORD CHANGED\r\n", GetParam().icon);
    EXPECT_EQ(title, QStringLiteral("Password"));
    EXPECT_EQ(text, QStringLiteral("PASSWORD CHANGED"));
    EXPECT_EQ(icon, GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Icons, QtOperatorMessageTest,
    ::testing::Values(IconCase{"None", platform::MessageIcon::none, QMessageBox::NoIcon},
                      IconCase{"Information", platform::MessageIcon::information,
                               QMessageBox::Information},
                      IconCase{"Warning", platform::MessageIcon::warning, QMessageBox::Warning},
                      IconCase{"Critical", platform::MessageIcon::critical, QMessageBox::Critical},
                      IconCase{"Question", platform::MessageIcon::question, QMessageBox::Question}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

struct AnswerCase {
    const char* name;
    bool fallback;
    std::function<void(QMessageBox*)> answer;
    bool expected;
};
void PrintTo(const AnswerCase& c, std::ostream* os) {
    *os << c.name;
}

class QtOperatorQuestionTest : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(QtOperatorQuestionTest, ReturnsTheOperatorsAnswer) {
    const AnswerCase& c = GetParam();
    gui::QtOperator op;
    QString text;
    answer_modal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        text = box->text();
        c.answer(box);
    });
    EXPECT_EQ(op.ask_yes_no("VELKANTOR", "Clear Drum image ?", c.fallback), c.expected);
    EXPECT_EQ(text, QStringLiteral("Clear Drum image ?"));
}

INSTANTIATE_TEST_SUITE_P(
    Answers, QtOperatorQuestionTest,
    ::testing::Values(
        AnswerCase{"Yes", false, [](QMessageBox* b) { b->button(QMessageBox::Yes)->click(); },
                   true},
        AnswerCase{"No", true, [](QMessageBox* b) { b->button(QMessageBox::No)->click(); }, false},
        // Enter takes the answer a host that cannot ask would give.
        AnswerCase{"EnterTakesYesFallback", true,
                   [](QMessageBox* b) { QTest::keyClick(b, Qt::Key_Return); }, true},
        AnswerCase{"EnterTakesNoFallback", false,
                   [](QMessageBox* b) { QTest::keyClick(b, Qt::Key_Return); }, false},
        AnswerCase{"EscapeIsNo", true, [](QMessageBox* b) { QTest::keyClick(b, Qt::Key_Escape); },
                   false}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

struct InputCase {
    const char* name;
    const char* prompt;
    bool accept;
    QLineEdit::EchoMode echo;
    std::string expected;
};
void PrintTo(const InputCase& c, std::ostream* os) {
    *os << c.name;
}

class QtOperatorInputTest : public ::testing::TestWithParam<InputCase> {};

TEST_P(QtOperatorInputTest, ReturnsTheTypedText) {
    const InputCase& c = GetParam();
    gui::QtOperator op;
    QString title, prompt;
    QLineEdit::EchoMode echo = QLineEdit::NoEcho;
    answer_modal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QInputDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        title = dialog->windowTitle();
        prompt = dialog->labelText();
        echo = dialog->textEchoMode();
        auto* edit = dialog->findChild<QLineEdit*>();
        ASSERT_NE(edit, nullptr);
        QTest::keyClicks(edit, QStringLiteral("se cret"));
        QTest::keyClick(edit, c.accept ? Qt::Key_Return : Qt::Key_Escape);
    });
    EXPECT_EQ(op.input_text("Lock/Unlock Settings", c.prompt), c.expected);
    EXPECT_EQ(title, QStringLiteral("Lock/Unlock Settings"));
    EXPECT_EQ(prompt, QString::fromLatin1(c.prompt));
    EXPECT_EQ(echo, c.echo);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, QtOperatorInputTest,
    ::testing::Values(InputCase{"UnlockIsHidden", "Password", true, QLineEdit::Password, "se cret"},
                      InputCase{"NewPasswordEchoes", "Insert the NEW password", true,
                                QLineEdit::Normal, "se cret"},
                      InputCase{"CancelGivesEmpty", "Password", false, QLineEdit::Password, ""}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace velkantor
