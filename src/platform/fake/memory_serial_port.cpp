#include "platform/fake/memory_serial_port.h"

#include <algorithm>

namespace velkantor::platform {

OpenResult MemorySerialPort::open() {
    if (open_) return {OpenError::busy, "Port already open"};
    OpenResult result = next_open_result;
    next_open_result = {};
    if (!result) return result;
    open_ = true;
    ++open_count_;
    return result;
}

std::string MemorySerialPort::read() {
    if (!open_) return {};
    size_t n = std::min(waiting(), static_cast<size_t>(std::max(input_length_, 1)));
    std::string out = input_.substr(head_, n);
    head_ += n;
    // What was read is let go of now and then, not at every read.
    if (head_ == input_.size()) {
        input_.clear();
        head_ = 0;
    } else if (head_ >= 4096 && head_ * 2 >= input_.size()) {
        input_.erase(0, head_);
        head_ = 0;
    }
    return out;
}

bool MemorySerialPort::write(std::string_view bytes) {
    if (!open_ || fail_writes) return false;
    written_.append(bytes);
    if (on_write) on_write(bytes);
    return true;
}

void MemorySerialPort::deliver(std::string_view bytes) {
    if (!open_) return;
    size_t room = capacity_ - std::min(capacity_, waiting());
    size_t n = std::min(room, bytes.size());
    input_.append(bytes.substr(0, n));
    overrun_ += bytes.size() - n;
}

}  // namespace velkantor::platform
