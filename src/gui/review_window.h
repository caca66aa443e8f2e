#pragma once

#include <QWidget>
#include <array>
#include <memory>
#include <string>

#include "datalog/review_page.h"
#include "platform/real/qimage_canvas.h"
#include "platform/real/qt_picture_codec.h"
#include "text/date_time.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QMouseEvent;
class QProgressBar;
class QPushButton;
class QScrollBar;

namespace velkantor::acquisition {
class Station;
}

namespace velkantor::gui {

class DrumWindow;
class TimeBox;
class PictureWidget;

// The review window (`Review`, "Review / Extract"): pages through a channel's datalog on the
// picture `replay`, points at times on the page, shows a day's saved drum and cuts periods of
// the ticked channels out into event files.
//
// Drawing a page and extracting run on the window's thread and let the event loop run while
// they work, so the acquisition and "Stop draw" go on; while one of them runs, the buttons
// that would start another are disabled and their handlers refuse to start.
class ReviewWindow : public QWidget {
public:
    // The replay picture's size: its width in pixels sets the samples per row at a chart
    // speed of 50 (one pixel per sample); the proportions are a drum's.
    static constexpr int kReplayWidth = 960;
    static constexpr int kReplayHeight = 576;

    explicit ReviewWindow(acquisition::Station& station, QWidget* parent = nullptr);
    ~ReviewWindow() override;

    // True while a page is being drawn or an extraction runs.
    bool busy() const { return busy_; }
    // The page on screen, when there is one.
    const datalog::ReviewPage* page() const { return page_shown_ ? &page_ : nullptr; }
    // The window that shows a saved drum, once one has been shown.
    DrumWindow* drum_window() const { return drum_window_.get(); }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class Busy;

    void build();
    QWidget* build_replay_area();
    QWidget* build_controls();
    void load();
    void show_settings();
    void set_start(const text::DateTime& start);
    text::DateTime start() const;
    int review_channel() const;
    void enable_actions();
    void show_speed_indicator();
    void open_replay_area();
    void close_replay_area();

    // `DrawReviewPage`: the page that begins at the start fields.
    void draw_page();
    void next_page();
    void previous_page();
    void rewind();
    void show_drum();
    void extract();
    void commit_duration();
    void pointer_pressed(QMouseEvent* event, bool set_start);
    void logpath_double_clicked();
    void configfile_double_clicked();
    void report_failure(const char* procedure, const std::string& what, int number);

    acquisition::Station& station_;
    platform::QtPictureCodec codec_;
    platform::QImageCanvas page_picture_{kReplayWidth, kReplayHeight};
    std::unique_ptr<platform::QImageCanvas> drum_picture_;
    std::unique_ptr<DrumWindow> drum_window_;

    datalog::ReviewPage page_;
    datalog::ReviewLayout page_layout_;
    bool page_shown_ = false;
    bool review_stop_ = false;
    bool busy_ = false;
    QSize open_size_;

    QWidget* replay_area_ = nullptr;
    PictureWidget* replay_ = nullptr;
    QLabel* beg_time_ = nullptr;
    QLabel* end_time_ = nullptr;
    QLabel* cursor_ = nullptr;
    QDateEdit* startviewdate_ = nullptr;
    TimeBox* startviewtime_ = nullptr;
    QComboBox* rep_ch_ = nullptr;
    QPushButton* ok_view_ = nullptr;
    QPushButton* nextpage_ = nullptr;
    QPushButton* prevpage_ = nullptr;
    QPushButton* rewind_ = nullptr;
    QPushButton* stop_draw_ = nullptr;
    QPushButton* cmd_drum_ = nullptr;
    QScrollBar* rep_rows_adj_ = nullptr;
    QScrollBar* rep_chart_adj_ = nullptr;
    QScrollBar* rep_scale_adj_ = nullptr;
    QLabel* rep_chart_ = nullptr;
    QLabel* rows_value_ = nullptr;
    QLabel* chart_value_ = nullptr;
    QLabel* scale_value_ = nullptr;
    QLineEdit* logpath_ = nullptr;
    QLineEdit* configfile_ = nullptr;
    QLineEdit* duration_ = nullptr;
    std::array<QCheckBox*, 4> chk_extract_{};
    QPushButton* extract_ = nullptr;
    QProgressBar* exbar_ = nullptr;
};

}  // namespace velkantor::gui
