#include "alerts/alert_queue.h"

namespace velkantor::alerts {

const char* topic_name(Topic topic) {
    switch (topic) {
        case Topic::event:
            return "event";
        case Topic::alarm:
            return "alarm";
        case Topic::health:
            return "health";
    }
    return "event";
}

bool AlertQueue::push(Alert alert) {
    bool dropped = false;
    if (items_.size() >= capacity_) {
        items_.pop_front();
        ++dropped_;
        dropped = true;
    }
    items_.push_back(std::move(alert));
    return dropped;
}

void AlertQueue::put_back(Alert alert) {
    if (items_.size() >= capacity_) {
        ++dropped_;
        return;
    }
    items_.push_front(std::move(alert));
}

std::optional<Alert> AlertQueue::pop() {
    if (items_.empty()) return std::nullopt;
    Alert alert = std::move(items_.front());
    items_.pop_front();
    return alert;
}

}  // namespace velkantor::alerts
