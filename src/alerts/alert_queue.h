#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace velkantor::alerts {

// Where an alert goes: `<prefix>/event`, `<prefix>/alarm`, `<prefix>/health`.
enum class Topic { event, alarm, health };
const char* topic_name(Topic topic);

struct Alert {
    Topic topic = Topic::event;
    std::string json;
};

// The alerts a sender has not taken yet. Bounded: when full, the oldest is dropped (the
// newest news matters most) and counted. Not thread-safe; a sender that runs on its own
// thread guards it with a short lock.
class AlertQueue {
public:
    explicit AlertQueue(size_t capacity) : capacity_(capacity ? capacity : 1) {}

    // True when the oldest was dropped to make room.
    bool push(Alert alert);
    std::optional<Alert> pop();
    // Puts a taken alert back as the oldest (a send that could not go after all); when the
    // queue filled up meanwhile it is the one dropped.
    void put_back(Alert alert);
    // The oldest without taking it.
    const Alert* front() const { return items_.empty() ? nullptr : &items_.front(); }
    size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    size_t capacity() const { return capacity_; }
    uint64_t dropped() const { return dropped_; }

private:
    size_t capacity_;
    std::deque<Alert> items_;
    uint64_t dropped_ = 0;
};

}  // namespace velkantor::alerts
