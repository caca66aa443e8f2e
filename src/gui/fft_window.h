#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace velkantor::config {
struct Settings;
struct ChannelSettings;
}  // namespace velkantor::config

namespace velkantor::display {
class SpectrumWindow;
class Spectra;
}  // namespace velkantor::display

namespace velkantor::gui {

// A channel's spectrum window (`fft`): the core window's picture in `Picture1` with its scale
// labels around it, the pointer's frequency and level, and the channel's spectrum settings.
// Every control writes its setting as soon as it changes, for the core window's channel.
//
// The picture (1440 x 480) is scaled to the size of `Picture1`: a whole day of JTF columns or
// the whole frequency axis is in view at once, which matters more than pixel-sharp grid lines.
class FftWindow : public QWidget {
public:
    // `window` is owned by `spectra`; it must stay alive until the window is closed. After the
    // operator closes the window, nothing here touches `window` again, so the core may drop
    // it and make a new one at the next sample.
    FftWindow(display::SpectrumWindow& window, display::Spectra& spectra,
              config::Settings& settings, QWidget* parent = nullptr);
    ~FftWindow() override;

    int channel() const { return ch_; }

    // Repaints the picture and the scale labels, and shows settings that changed elsewhere
    // (the core stores a block length of 256 in place of 0). Does nothing once closed.
    void refresh();

    // True once the window has been closed. `on_closed` runs inside the close event: the owner
    // may forget the core window there, but must delete this widget later (deleteLater).
    bool closed() const { return closed_; }
    void set_on_closed(std::function<void()> on_closed);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    class Picture;
    struct NumberField {
        QLineEdit* edit;
        int16_t config::ChannelSettings::*setting;
    };

    config::ChannelSettings& channel_settings();
    void build();
    void sync_controls();
    void show_hint();
    void commit(const NumberField& field);
    void show_readout(double x_fraction, double y_fraction);
    void save_now();

    display::SpectrumWindow& window_;
    display::Spectra& spectra_;
    config::Settings& settings_;
    int ch_;
    bool closed_ = false;
    std::function<void()> on_closed_;

    Picture* picture_ = nullptr;
    QLabel* y_top_ = nullptr;
    QLabel* y_unit_ = nullptr;
    QLabel* y_bottom_ = nullptr;
    QLabel* x_left_ = nullptr;
    QLabel* x_middle_ = nullptr;
    QLabel* x_right_ = nullptr;
    QLabel* x_unit_ = nullptr;
    QLabel* freq_ = nullptr;
    QLabel* level_ = nullptr;
    QButtonGroup* points_ = nullptr;
    QButtonGroup* display_mode_ = nullptr;
    std::vector<NumberField> numbers_;
    QComboBox* save_mode_ = nullptr;
    QCheckBox* save_updating_ = nullptr;
    QCheckBox* save_incrementing_ = nullptr;
    QCheckBox* noise_models_ = nullptr;
    QLabel* save_status_ = nullptr;
    QLabel* hint_ = nullptr;  // `fft_hint`
};

}  // namespace velkantor::gui
