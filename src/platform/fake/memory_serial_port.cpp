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
    size_t n = std::min(input_.size(), static_cast<size_t>(std::max(input_length_, 1)));
    std::string out(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(n));
    input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(n));
    return out;
}

bool MemorySerialPort::write(std::string_view bytes) {
    if (!open_) return false;
    written_.append(bytes);
    if (on_write) on_write(bytes);
    return true;
}

void MemorySerialPort::deliver(std::string_view bytes) {
    if (!open_) return;
    size_t room = capacity_ - std::min(capacity_, input_.size());
    size_t n = std::min(room, bytes.size());
    input_.insert(input_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
    overrun_ += bytes.size() - n;
}

}  // namespace velkantor::platform
