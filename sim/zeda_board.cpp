#include "zeda_board.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "hash.h"
#include "text/date_time.h"

namespace velkantor::sim {

namespace {

constexpr uint8_t kTerminator = 0xF0;
constexpr uint8_t kTimeFrame = 0x81;
constexpr uint8_t kFirstDataFrame = 0x82;
constexpr uint8_t kMemoryReply = 0x86;
constexpr int kChannels = 4;

// Board memory map: the clock trimming bytes, and the serial number the station registers.
constexpr int kTrimAddress = 1;
constexpr int kSerialAddress = 16;

int64_t floor_day_start(double epoch_seconds) {
    return static_cast<int64_t>(std::floor(epoch_seconds / 86400.0)) * 86400;
}

}  // namespace

std::string encode_data_frame(const ZedaFamily& family, int channel, int32_t value) {
    const int bits = family.sample_bits;
    const auto word = static_cast<uint32_t>(value) & ((uint32_t{1} << bits) - 1);
    const int payload_bytes = family.data_frame_length - 2;
    std::string frame(static_cast<size_t>(family.data_frame_length), '\0');
    frame[0] = static_cast<char>(kFirstDataFrame + (channel & 3));
    uint8_t t = kTerminator;
    int used = 0;  // bits of the word placed so far
    for (int i = 0; i < payload_bytes; ++i) {
        // The first two payload bytes carry 8 bits (the eighth in the terminator), the
        // others 7.
        int width = i < 2 ? 8 : 7;
        uint32_t part = (word >> used) & ((1u << width) - 1);
        frame[static_cast<size_t>(1 + i)] = static_cast<char>(part & 0x7F);
        if (i < 2 && (part & 0x80)) t = static_cast<uint8_t>(t | (1u << i));
        used += width;
    }
    for (int bit = 2; used < bits; ++bit, ++used) {
        if ((word >> used) & 1u) t = static_cast<uint8_t>(t | (1u << bit));
    }
    frame.back() = static_cast<char>(t);
    return frame;
}

std::string encode_time_frame(const ZedaFamily& family, int64_t board_epoch_second,
                              uint8_t status) {
    text::DateTime d = text::from_epoch_seconds(static_cast<double>(board_epoch_second));
    std::string frame;
    frame.push_back(static_cast<char>(kTimeFrame));
    if (family.time_frame_length == 9) {
        frame.push_back(static_cast<char>(d.year - 2000));
        frame.push_back(static_cast<char>(d.month));
        frame.push_back(static_cast<char>(d.day));
    }
    frame.push_back(static_cast<char>(d.second));
    frame.push_back(static_cast<char>(d.minute));
    frame.push_back(static_cast<char>(d.hour));
    frame.push_back(static_cast<char>(status));
    frame.push_back(static_cast<char>(kTerminator));
    return frame;
}

ZedaBoard::ZedaBoard(const ZedaFamily& family, const BoardOptions& options)
    : family_(family),
      signal_(options, family.rate_base, family.sample_bits),
      offset_(text::to_epoch_seconds(options.board_start) - options.pc_start) {
    // Each board has its own trimming and serial number; below 0x80 so that a memory
    // reply never looks like a frame start or terminator.
    for (int i = 0; i < 4; ++i) {
        memory_[static_cast<size_t>(kTrimAddress + i)] =
            static_cast<uint8_t>(mix(options.seed * 31 + static_cast<uint64_t>(i)) & 0x7F);
        memory_[static_cast<size_t>(kSerialAddress + i)] =
            static_cast<uint8_t>(mix(~options.seed * 37 + static_cast<uint64_t>(i)) & 0x7F);
    }
}

double ZedaBoard::slot_time(int64_t second, size_t slot) const {
    double board =
        static_cast<double>(second) + static_cast<double>(slots_[slot].tick) / family_.rate_base;
    return board - offset_;
}

void ZedaBoard::send(std::string bytes, double now) {
    if (outgoing_.empty()) outgoing_since_ = now;
    outgoing_ += bytes;
}

void ZedaBoard::produce(double now) {
    if (connected_ && streaming_) {
        while (slot_time(next_second_, next_slot_) <= now) {
            const Slot& slot = slots_[next_slot_];
            double at = slot_time(next_second_, next_slot_);
            if (slot.channel < 0) {
                send(encode_time_frame(family_, next_second_, 0x00), at);
            } else {
                int64_t tick = next_second_ * family_.rate_base + slot.tick;
                int32_t value = signal_.at_tick(slot.channel, tick);
                send(encode_data_frame(family_, slot.channel, value), at);
                if (sample_listener) {
                    sample_listener(slot.channel, static_cast<double>(tick) / family_.rate_base,
                                    value);
                }
            }
            if (++next_slot_ == slots_.size()) {
                next_slot_ = 0;
                ++next_second_;
            }
        }
    }
    told_ = std::max(told_, now);
}

void ZedaBoard::resume_after(double now) {
    // Sending always begins with a time frame, at the first whole board second after now.
    next_second_ = static_cast<int64_t>(std::floor(board_time(now))) + 1;
    next_slot_ = 0;
}

void ZedaBoard::start(const std::array<uint8_t, 4>& codes, double now) {
    codes_ = codes;
    slots_.assign(1, Slot{0, -1});
    for (int ch = 0; ch < kChannels; ++ch) {
        int code = codes[static_cast<size_t>(ch)];
        if (code == 0) continue;  // channel off
        for (int tick = 0; tick < family_.rate_base; tick += code) slots_.push_back({tick, ch});
    }
    // Time order; the time frame, then the channels in order, at equal times.
    std::stable_sort(slots_.begin() + 1, slots_.end(),
                     [](const Slot& a, const Slot& b) { return a.tick < b.tick; });
    streaming_ = true;
    resume_after(now);
}

void ZedaBoard::move_clock(double new_board_time, double now) {
    offset_ = new_board_time - now;
    if (streaming_) resume_after(now);
}

void ZedaBoard::apply(const ZedaCommand& command, double now) {
    using Kind = ZedaCommand::Kind;
    const auto& a = command.args;
    switch (command.kind) {
        case Kind::version:
            if (!streaming_) send(std::string(family_.version), now);
            break;
        case Kind::stop:
            streaming_ = false;
            break;
        case Kind::memory_read:
            send(std::string{static_cast<char>(kMemoryReply), static_cast<char>(memory_[a[0]]),
                             static_cast<char>(kTerminator)},
                 now);
            break;
        case Kind::trim_write:
            std::copy(a.begin(), a.end(), memory_.begin() + kTrimAddress);
            break;
        case Kind::time_zone:
            time_zone_ = static_cast<int8_t>(a[0]);
            break;
        case Kind::set_time: {
            // The board's second restarts at the command; the date stays.
            double day = static_cast<double>(floor_day_start(board_time(now)));
            move_clock(day + a[2] * 3600.0 + a[1] * 60.0 + a[0], now);
            break;
        }
        case Kind::set_date: {
            double board = board_time(now);
            double time_of_day = board - static_cast<double>(floor_day_start(board));
            double day =
                static_cast<double>(text::days_from_civil(2000 + a[0], a[1], a[2])) * 86400.0;
            move_clock(day + time_of_day, now);
            break;
        }
        case Kind::start:
            start(a, now);
            break;
    }
}

void ZedaBoard::receive(std::string_view bytes, double now) {
    now = std::max(now, told_);
    produce(now);
    if (!connected_) return;
    if (recorder) recorder(LineRecord{now, false, std::string(bytes)});
    for (const ZedaCommand& command : parser_.feed(bytes)) apply(command, now);
}

std::string ZedaBoard::advance_to(double now) {
    produce(now);
    std::string out;
    out.swap(outgoing_);
    if (!out.empty() && recorder) recorder(LineRecord{std::max(now, told_), true, out});
    return out;
}

double ZedaBoard::next_send_time() const {
    if (!outgoing_.empty()) return outgoing_since_;
    if (!connected_ || !streaming_) return std::numeric_limits<double>::infinity();
    return slot_time(next_second_, next_slot_);
}

int32_t ZedaBoard::signal_at(int channel, double board_epoch_seconds) const {
    return signal_.at(channel, board_epoch_seconds);
}

void ZedaBoard::set_connected(bool connected) {
    if (connected && !connected_ && streaming_) resume_after(told_);
    connected_ = connected;
}

}  // namespace velkantor::sim
