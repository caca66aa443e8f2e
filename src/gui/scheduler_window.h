#pragma once

#include <QWidget>
#include <string>
#include <vector>

class QLineEdit;
class QListWidget;
class QPushButton;

namespace velkantor::acquisition {
class Station;
}

namespace velkantor::gui {

// The recording scheduler (`scheduler`): a list of up to twenty start times, each for one
// channel. The list is the window's own until Apply or OK copies it into the schedule array,
// where the trigger sees it at once; SAVE on the main window writes it to `velkant.sch`.
//
// Every time the window is shown it lists the schedule array afresh, so what cancel left
// behind is never shown as if it were the schedule.
class SchedulerWindow : public QWidget {
public:
    explicit SchedulerWindow(acquisition::Station& station, QWidget* parent = nullptr);

    // The list as the window holds it (not yet applied).
    std::vector<std::string> entries() const;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void build();
    void load_list();
    // The selected entry's row, -1 when none is selected.
    int selected_row() const;
    void entry_selected(int row);
    void add();
    void modify();
    void remove();
    void apply();
    void apply_settings_lock();
    // The entry of the three fields (date and time check, channel correction); empty when
    // refused, after the refusal has been shown.
    std::string entry_from_fields(int entries);

    acquisition::Station& station_;
    QLineEdit* start_date_ = nullptr;
    QLineEdit* start_time_ = nullptr;
    QLineEdit* channel_ = nullptr;
    QListWidget* recording_ = nullptr;
    QPushButton* cmd_add_ = nullptr;
    QPushButton* modify_ = nullptr;
    QPushButton* cmd_del_ = nullptr;
    QPushButton* apply_ = nullptr;
    QPushButton* ok_ = nullptr;
};

}  // namespace velkantor::gui
