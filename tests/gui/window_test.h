#pragma once

#include <gtest/gtest.h>

#include <QPushButton>
#include <QString>
#include <QTest>
#include <memory>
#include <string>

#include "support/station_rig.h"

namespace velkantor::testing {

// A loaded station and one window of type `Window` on it, with its controls found by name.
template <typename Window>
class WindowTest : public ::testing::Test {
protected:
    WindowTest() { rig.load(); }

    // The window opened on what the station holds now.
    Window& open() {
        window = std::make_unique<Window>(rig.station);
        window->show();
        return *window;
    }
    template <typename T>
    T* find(const char* name) {
        auto* widget = window->template findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    void click(const char* name) { QTest::mouseClick(find<QPushButton>(name), Qt::LeftButton); }
    // The last message box the operator was shown, "Title: text".
    std::string last_message() const {
        return rig.op.shown.empty() ? std::string()
                                    : rig.op.shown.back().title + ": " + rig.op.shown.back().text;
    }

    StationRig rig;
    std::unique_ptr<Window> window;
};

}  // namespace velkantor::testing
