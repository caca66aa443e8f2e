#pragma once

#include <QWidget>
#include <functional>

class QScrollBar;

namespace velkantor::platform {
class QImageCanvas;
}

namespace velkantor::gui {

// One step of `HScroll1` moves the drum this many pixels.
inline constexpr int kDrumScrollStep = 100;

// A channel's drum window (`drum1`..`drum4`): the day's drum picture at one screen pixel per
// picture pixel in `drum_pic`, moved sideways by `HScroll1` and up and down by `VScroll1`.
// The picture is never scaled: the hour labels and the header are drawn in a small font that
// would not survive it, and a trace scaled down loses its peaks.
class DrumWindow : public QWidget {
public:
    // `picture` stays owned by the drum recorder; it must outlive the window or be replaced
    // first (set_picture, clear_picture). `on_clear_request` runs on a double click on the
    // picture; the recorder asks the operator at its next sample.
    DrumWindow(int ch, platform::QImageCanvas& picture, std::function<void()> on_clear_request,
               QWidget* parent = nullptr);
    ~DrumWindow() override;

    int channel() const { return ch_; }

    // A new day's picture in place of the old one.
    void set_picture(platform::QImageCanvas& picture);
    // The recorder is about to destroy the picture: show nothing until set_picture.
    void clear_picture();
    // Repaints from the picture. Cheap enough for the host's display timer, too slow for
    // every sample.
    void refresh();

    // The picture rows (pixels `top` to `bottom`) of the row being drawn: the window keeps it
    // in view until the operator scrolls up or down.
    void show_row(int top, int bottom);

    // The picture pixel shown at the left and top edges of `drum_pic`.
    int horizontal_offset() const;
    int vertical_offset() const;

private:
    class Picture;

    void update_scroll_ranges();
    void scroll_to_row();

    int ch_;
    platform::QImageCanvas* picture_;
    std::function<void()> on_clear_request_;
    Picture* view_;
    QScrollBar* hscroll_;
    QScrollBar* vscroll_;
    int row_top_ = 0;
    int row_bottom_ = 0;
    bool follow_row_ = true;
};

}  // namespace velkantor::gui
