#pragma once

#include <QWidget>
#include <functional>

#include "platform/real/qimage_canvas.h"

namespace velkantor::gui {

// Shows a picture that the engine draws on (a chart, a drum, a spectrum), scaled to the
// widget. It copies the picture to the screen only when refresh() says it changed, so the
// engine's drawing never waits for the screen.
class PictureWidget : public QWidget {
public:
    explicit PictureWidget(platform::QImageCanvas& picture, QWidget* parent = nullptr);

    void set_picture(platform::QImageCanvas& picture);
    platform::QImageCanvas& picture() { return *picture_; }
    // Repaints from the picture (called by the host's refresh timer).
    void refresh() { update(); }
    // Repaints only the columns from x0 to x1 of the picture (pixels of the picture).
    void refresh_columns(int x0, int x1);

    std::function<void(QMouseEvent*)> on_click;
    std::function<void(QMouseEvent*)> on_double_click;
    std::function<void(QMouseEvent*)> on_move;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    platform::QImageCanvas* picture_;
};

}  // namespace velkantor::gui
