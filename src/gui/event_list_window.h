#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QListWidget;

namespace velkantor::acquisition {
class Station;
}

namespace velkantor::gui {

// The event log window `eventlist`: the event log's lines, the event files they name opened
// with the configured viewer or deleted, and the log cleared (which also acknowledges the
// event alarm). The list is the file as read when the window opened or was updated, plus
// the lines the station logs while it is open.
class EventListWindow : public QWidget {
public:
    // Starts `program` with `arguments` as a new process and does not wait for it; false
    // when it could not be started. No shell sees the arguments, so an event file name is
    // always one argument and never a command.
    using Launcher =
        std::function<bool(const std::string& program, const std::vector<std::string>& arguments)>;
    static bool StartDetached(const std::string& program,
                              const std::vector<std::string>& arguments);

    explicit EventListWindow(acquisition::Station& station, Launcher launcher = StartDetached,
                             QWidget* parent = nullptr);
    ~EventListWindow() override;

    // `aggiorna` ("Update list"): the list read again from the log file.
    void reload();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void append_line(const std::string& line);
    std::optional<std::string> event_file_path(int row) const;
    int selected_row() const;
    void view(int row);
    void delete_selected();
    void clear_log();

    acquisition::Station& station_;
    Launcher launcher_;
    QListWidget* list_ = nullptr;
    // Row i's line as the log holds it: the file name is taken from these bytes, not from
    // their on-screen form.
    std::vector<std::string> lines_;
    // The log's line callback outlives nothing: it reaches the window only through this.
    std::shared_ptr<EventListWindow*> self_;
};

}  // namespace velkantor::gui
