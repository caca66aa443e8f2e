#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <cmath>
#include <functional>
#include <memory>
#include <numbers>
#include <string>

#include "config/settings.h"
#include "display/display_view.h"
#include "display/drum.h"
#include "display/fft_display.h"
#include "display/image_export.h"
#include "gui/drum_window.h"
#include "gui/fft_window.h"
#include "platform/fake/memory_file_system.h"
#include "platform/fake/scripted_operator.h"
#include "platform/real/qimage_canvas.h"
#include "platform/real/qt_picture_codec.h"

namespace velkantor::gui {
namespace {

template <typename T>
T* child(QWidget& window, const char* name) {
    T* found = window.findChild<T*>(name);
    if (!found) ADD_FAILURE() << "no " << name;
    return found;
}

// --- drum windows ---------------------------------------------------------------------

class DrumWindowTest : public ::testing::Test {
protected:
    static constexpr int kCh = 2;

    DrumWindowTest() { window.show(); }

    // Makes `drum_pic` exactly `width` pixels wide.
    void show_width(int width) {
        QWidget* pic = child<QWidget>(window, "drum_pic");
        window.resize(window.width() + width - pic->width(), window.height());
        ASSERT_EQ(pic->width(), width);
    }

    platform::QImageCanvas picture{display::kDrumWidth, display::kDrumHeight};
    int clear_requests = 0;
    DrumWindow window{kCh, picture, [this] { ++clear_requests; }};
};

TEST_F(DrumWindowTest, DoubleClickOnThePictureRaisesTheClearRequest) {
    EXPECT_EQ(window.objectName(), "drum3");
    EXPECT_EQ(window.windowTitle(), "Drum Channel 3");
    QWidget* pic = child<QWidget>(window, "drum_pic");
    QTest::mouseClick(pic, Qt::LeftButton);
    EXPECT_EQ(clear_requests, 0) << "a single click must leave the drum alone";
    QTest::mouseDClick(pic, Qt::LeftButton);
    EXPECT_EQ(clear_requests, 1);
}

TEST_F(DrumWindowTest, ScrollRangeCoversTheHiddenPartInStepsOf100Pixels) {
    struct Case {
        int picture_width;
        int visible_width;
        int expected_maximum;
    };
    for (const Case& c : {Case{1600, 1000, 6}, Case{1600, 950, 7}, Case{1600, 1599, 1},
                          Case{1600, 1600, 0}, Case{1600, 1700, 0}, Case{2000, 1000, 10}}) {
        platform::QImageCanvas other(c.picture_width, display::kDrumHeight);
        window.set_picture(other);
        show_width(c.visible_width);
        auto* scroll = child<QScrollBar>(window, "HScroll1");
        EXPECT_EQ(scroll->minimum(), 0);
        EXPECT_EQ(scroll->maximum(), c.expected_maximum)
            << c.picture_width << " px in " << c.visible_width;
        window.set_picture(picture);
    }
}

TEST_F(DrumWindowTest, ScrollingShiftsThePictureLeft) {
    // Marks at the columns that each scroll position must bring to the left edge.
    picture.clear({255, 255, 255});
    for (int x : {300, display::kDrumWidth - 1}) {
        for (int y = 0; y < display::kDrumHeight; ++y)
            picture.image().setPixel(x, y, qRgb(255, 0, 0));
    }
    window.refresh();
    show_width(1000);
    QWidget* pic = child<QWidget>(window, "drum_pic");
    auto* scroll = child<QScrollBar>(window, "HScroll1");

    scroll->setValue(3);
    EXPECT_EQ(window.horizontal_offset(), 300);
    EXPECT_EQ(pic->grab().toImage().pixel(0, 10), qRgb(255, 0, 0));

    // The last step is shorter: the end of the row meets the window's right edge.
    scroll->setValue(scroll->maximum());
    EXPECT_EQ(window.horizontal_offset(), display::kDrumWidth - 1000);
    EXPECT_EQ(pic->grab().toImage().pixel(999, 10), qRgb(255, 0, 0));
}

// --- spectrum windows -----------------------------------------------------------------

class FftWindowTest : public ::testing::Test {
protected:
    static constexpr int kCh = 1;  // not the first channel: a handler must use its own
    static constexpr double kRate = 20;

    FftWindowTest() {
        EXPECT_TRUE(fs.create_directories("/drums"));
        auto& cs = settings.channels[kCh];
        cs.fft_points = 256;
        cs.fft_display_mode = 1;
        cs.fft_scope_max = -50;
        cs.fft_scope_min = -150;
    }

    // One block of a 2 Hz sine: the core opens the channel's window and draws its first frame.
    display::SpectrumWindow& draw_frame() {
        const display::BoardTime now{true, 12, 0, 0, "2026/03/01"};
        for (int i = 0; i <= settings.channels[kCh].fft_points; ++i) {
            const auto sample = static_cast<int32_t>(
                std::lround(1000 * std::sin(2 * std::numbers::pi * 2 * i / kRate)));
            spectra.FeedSpectrum(kCh, sample, settings, kRate, now);
        }
        display::SpectrumWindow* window = spectra.window(kCh);
        EXPECT_NE(window, nullptr);
        EXPECT_NE(window->mode(), display::SpectrumMode::none);
        return *window;
    }

    FftWindow& open() {
        fft = std::make_unique<FftWindow>(draw_frame(), spectra, settings);
        fft->show();
        return *fft;
    }

    platform::MemoryFileSystem fs;
    platform::QtPictureCodec codec;
    platform::ScriptedOperator op;
    display::DisplayView view;
    config::Settings settings;
    display::Spectra spectra{{fs, codec, op, view, "/drums"}};
    std::unique_ptr<FftWindow> fft;
};

void type_into(QLineEdit* edit, const char* text) {
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

// A click on the indicator of a check box or option button (its middle may be empty space).
void click_box(QWidget* box) {
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
}

void leave(QWidget* widget) {
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(widget, &out);
}

TEST_F(FftWindowTest, EveryControlWritesItsSettingAtOnceForItsChannel) {
    using Field = int16_t config::ChannelSettings::*;
    using config::ChannelSettings;
    const auto click = click_box;
    const auto enter = [](const char* text) {
        return [text](QWidget* w) {
            type_into(static_cast<QLineEdit*>(w), text);
            QTest::keyClick(w, Qt::Key_Return);
        };
    };
    const auto typed_then_left = [](const char* text) {
        return [text](QWidget* w) {
            type_into(static_cast<QLineEdit*>(w), text);
            leave(w);
        };
    };
    struct Case {
        const char* control;
        std::function<void(QWidget*)> act;
        Field field;
        int16_t expected;
    };
    const Case cases[] = {
        {"option1024", click, &ChannelSettings::fft_points, 1024},
        {"option8192", click, &ChannelSettings::fft_points, 8192},
        {"option128", click, &ChannelSettings::fft_points, 128},
        {"optionjtf", click, &ChannelSettings::fft_display_mode, 2},
        {"savemode", [](QWidget* w) { static_cast<QComboBox*>(w)->setCurrentIndex(3); },
         &ChannelSettings::fft_save_mode, 3},
        {"save_updating", click, &ChannelSettings::fft_save_updating, 1},
        {"save_incrementing", click, &ChannelSettings::fft_save_incrementing, 1},
        {"scope_max", enter("-40"), &ChannelSettings::fft_scope_max, -40},
        {"scope_min", typed_then_left("-160"), &ChannelSettings::fft_scope_min, -160},
        {"jtf_base", enter("-120"), &ChannelSettings::jtf_base, -120},
        {"jtf_max", typed_then_left("12.5"), &ChannelSettings::jtf_max, 12},
        {"jtf_min", enter(" -7 "), &ChannelSettings::jtf_min, -7},
        {"scope_max", enter("99999"), &ChannelSettings::fft_scope_max, 32767},
        {"scope_min", enter("-1e9"), &ChannelSettings::fft_scope_min, -32768},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.control);
        settings = {};
        settings.channels[kCh].fft_points = 256;
        settings.channels[kCh].fft_display_mode = 1;
        FftWindow& window = open();
        const config::Settings before = settings;

        c.act(child<QWidget>(window, c.control));
        EXPECT_EQ(settings.channels[kCh].*c.field, c.expected);
        for (int other = 0; other < config::kChannels; ++other) {
            if (other == kCh) continue;
            EXPECT_EQ(settings.channels[other].*c.field, before.channels[other].*c.field)
                << "channel " << other + 1;
        }
        if (auto* edit = qobject_cast<QLineEdit*>(child<QWidget>(window, c.control))) {
            EXPECT_EQ(edit->text(), QString::number(c.expected))
                << "the field shows what was stored";
        }
    }
}

// A new station's spectrum draws nothing (no display mode, levels 0/0): the window says why.
TEST_F(FftWindowTest, ABlackPictureSaysWhy) {
    open();
    auto* hint = child<QLabel>(*fft, "fft_hint");
    auto& cs = settings.channels[kCh];
    struct Case {
        int16_t mode, top, bottom;
        const char* says;  // nullptr: nothing to say
    };
    const Case cases[] = {
        {0, 0, 0, "no display mode is chosen"},
        {1, 0, 0, "levels are 0/0 dB"},
        {1, -50, -150, nullptr},
        {2, 0, 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        cs.fft_display_mode = c.mode;
        cs.fft_scope_max = c.top;
        cs.fft_scope_min = c.bottom;
        fft->refresh();
        EXPECT_EQ(hint->isVisible(), c.says != nullptr);
        if (c.says) {
            EXPECT_TRUE(hint->text().contains(c.says)) << hint->text().toStdString();
        }
    }
}

TEST_F(FftWindowTest, TextThatIsNoNumberIsRefused) {
    FftWindow& window = open();
    auto* field = child<QLineEdit>(window, "scope_max");
    ASSERT_EQ(field->text(), "-50");
    for (const char* bad : {"abc", "-4x", "", "--5"}) {
        type_into(field, bad);
        QTest::keyClick(field, Qt::Key_Return);
        EXPECT_EQ(settings.channels[kCh].fft_scope_max, -50) << bad;
        EXPECT_EQ(field->text(), "-50") << bad;
    }
}

TEST_F(FftWindowTest, PointerOverThePictureShowsFrequencyAndLevel) {
    // Scope: 0..nyq (10 Hz) across on a logarithmic axis from df (20 / 256 Hz), -50 dB at the
    // top to -150 dB at the bottom. JTF: nyq at the top to 0 Hz at the bottom.
    const double df = kRate / 256;
    const double x_of_1hz = std::log(1 / df) / (std::log(1 / df) + std::log(10.0));
    struct Case {
        int16_t mode;
        double x, y;  // fractions of the picture
        double freq;
        std::string level;  // "" when the mode shows none
        double level_db;
    };
    for (const Case& c : {Case{1, x_of_1hz, 0.5, 1.0, "Level:", -100},
                          Case{1, 1.0, 0.1, 10.0, "Level:", -60}, Case{2, 0.3, 0.75, 2.5, "", 0}}) {
        SCOPED_TRACE(c.mode);
        settings.channels[kCh].fft_display_mode = c.mode;
        FftWindow& window = open();
        QWidget* picture = child<QWidget>(window, "Picture1");
        const QPointF at(std::min(c.x * picture->width(), picture->width() - 1.0),
                         c.y * picture->height());
        QMouseEvent move(QEvent::MouseMove, at, picture->mapToGlobal(at), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(picture, &move);

        const QString freq = child<QLabel>(window, "freq")->text();
        ASSERT_TRUE(freq.startsWith("Freq:")) << freq.toStdString();
        EXPECT_NEAR(freq.mid(5).toDouble(), c.freq, 0.05 * c.freq) << freq.toStdString();
        const QString level = child<QLabel>(window, "level")->text();
        if (c.level.empty()) {
            EXPECT_EQ(level, "");
        } else {
            ASSERT_TRUE(level.startsWith("Level:")) << level.toStdString();
            EXPECT_NEAR(level.mid(6).toDouble(), c.level_db, 1.0) << level.toStdString();
        }
    }
}

TEST_F(FftWindowTest, RefreshShowsTheScaleOfTheModeAndSettingsStoredByTheCore) {
    struct Case {
        int16_t mode;
        const char* top;
        const char* bottom;
        const char* y_unit;
        const char* left;
        const char* right;
        const char* x_unit;
    };
    for (const Case& c : {Case{1, "-50", "-150", "dB", ".08", "10", "Hz"},
                          Case{2, "10", ".08", "Hz", "0", "1440", "min."}}) {
        SCOPED_TRACE(c.mode);
        settings.channels[kCh].fft_display_mode = c.mode;
        FftWindow& window = open();
        // The core stores 256 for a block length of 0 at its next sample.
        settings.channels[kCh].fft_points = 0;
        window.refresh();
        EXPECT_FALSE(child<QRadioButton>(window, "option256")->isChecked());
        settings.channels[kCh].fft_points = 256;
        window.refresh();
        EXPECT_TRUE(child<QRadioButton>(window, "option256")->isChecked());

        EXPECT_EQ(child<QLabel>(window, "scale_top")->text(), c.top);
        EXPECT_EQ(child<QLabel>(window, "scale_bottom")->text(), c.bottom);
        EXPECT_EQ(child<QLabel>(window, "scale_unit_y")->text(), c.y_unit);
        EXPECT_EQ(child<QLabel>(window, "scale_left")->text(), c.left);
        EXPECT_EQ(child<QLabel>(window, "scale_right")->text(), c.right);
        EXPECT_EQ(child<QLabel>(window, "scale_unit_x")->text(), c.x_unit);
    }
}

TEST_F(FftWindowTest, NoiseModelsBoxSwitchesTheModelsForEveryChannel) {
    FftWindow& window = open();
    click_box(child<QCheckBox>(window, "Check1"));
    EXPECT_TRUE(spectra.show_noise_models);
    click_box(child<QCheckBox>(window, "Check1"));
    EXPECT_FALSE(spectra.show_noise_models);
}

TEST_F(FftWindowTest, SaveButtonExportsThePictureAndShowsAFailureInTheWindow) {
    struct Case {
        bool disk_full;
        const char* status_start;
    };
    for (const Case& c : {Case{false, "Saved as SPEC_2"}, Case{true, "Not saved: "}}) {
        SCOPED_TRACE(c.disk_full);
        FftWindow& window = open();
        const std::string earlier =
            display::FindDrumImage(fs, "/drums/SPEC_2", settings.general.drum_format);
        if (!earlier.empty()) {
            EXPECT_TRUE(fs.remove(earlier));
        }
        fs.set_full(c.disk_full);
        QTest::mouseClick(child<QPushButton>(window, "cmd_save_spectra"), Qt::LeftButton);
        fs.set_full(false);

        EXPECT_TRUE(child<QLabel>(window, "save_status")->text().startsWith(c.status_start))
            << child<QLabel>(window, "save_status")->text().toStdString();
        EXPECT_EQ(
            !display::FindDrumImage(fs, "/drums/SPEC_2", settings.general.drum_format).empty(),
            !c.disk_full);
        EXPECT_FALSE(fs.exists("/drums/spec.bmp"));
        EXPECT_TRUE(op.shown.empty()) << "nothing modal";
    }
}

TEST_F(FftWindowTest, ClosingIsReportedAndTheCoreWindowMayThenGo) {
    // A window of its own, so that the test can destroy it as the core does on the next sample.
    auto core_window = std::make_unique<display::SpectrumWindow>(kCh, codec);
    FftWindow window(*core_window, spectra, settings);
    EXPECT_EQ(window.objectName(), "fft");
    EXPECT_EQ(window.windowTitle(), "FFT Channel 2");
    int reported = 0;
    window.set_on_closed([&] { ++reported; });
    window.show();
    EXPECT_FALSE(window.closed());

    window.close();
    EXPECT_TRUE(window.closed());
    EXPECT_EQ(reported, 1);

    core_window.reset();
    window.refresh();
    QWidget* picture = child<QWidget>(window, "Picture1");
    QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), picture->mapToGlobal(QPointF(5, 5)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(picture, &move);
    picture->grab();
    // The host closes the spectrum windows again when acquisition stops.
    window.close();
    EXPECT_EQ(reported, 1) << "reported once";
}

}  // namespace
}  // namespace velkantor::gui
