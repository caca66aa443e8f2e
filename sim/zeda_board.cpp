#include "zeda_board.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

#include "hash.h"
#include "runtime/firmware.h"
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

// Status bits of the time frame.
constexpr uint8_t kInputLine1 = 0x08;
constexpr uint8_t kInputLine2 = 0x10;
constexpr uint8_t kSynchronised = 0x20;
constexpr uint8_t kDaylightTime = 0x40;

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// The board's second and a receiver mark or jump computed for the same instant can differ
// by rounding; closer than this they are one instant, and the clock event goes first.
constexpr double kSameInstant = 1e-6;
constexpr int64_t kDay = 86400;

int64_t floor_day_start(double epoch_seconds) {
    return static_cast<int64_t>(std::floor(epoch_seconds / 86400.0)) * kDay;
}

int64_t floor_div(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

int64_t whole_second_at_or_after(const text::DateTime& t) {
    return static_cast<int64_t>(std::ceil(text::to_epoch_seconds(t)));
}

// Uniform in [0, 1) from the top 53 bits.
double unit(uint64_t h) {
    return static_cast<double>(h >> 11) * 0x1.0p-53;
}

// A list of times sorted latest first, so that the next one due is at the back.
template <typename T, typename Key>
std::vector<T> latest_first(std::vector<T> items, Key key) {
    std::stable_sort(items.begin(), items.end(),
                     [&](const T& a, const T& b) { return key(a) > key(b); });
    return items;
}

}  // namespace

ZedaFamily ZedaFamily::with_firmware(std::string_view firmware) const {
    ZedaFamily f = *this;
    f.version = std::string(firmware);
    // The station's firmware table describes what each firmware does on the line.
    const std::string number = runtime::firmware_number(firmware);
    f.rate_base = runtime::sampling_firmware(number).rate_ticks;
    const runtime::Firmware& row = runtime::firmware(number);
    f.time_frame_length = row.dated_time_frames ? 9 : 6;
    f.date_late_at_midnight = row.date_late_at_midnight;
    return f;
}

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

std::string encode_time_frame(const ZedaFamily& family, const text::DateTime& d, uint8_t status) {
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

text::DateTime time_frame_fields(const ZedaFamily& family, int64_t board_epoch_second) {
    auto fields = text::from_epoch_seconds(static_cast<double>(board_epoch_second));
    if (family.date_late_at_midnight && fields.hour == 0 && fields.minute == 0 &&
        fields.second == 0) {
        auto yesterday = text::from_epoch_seconds(static_cast<double>(board_epoch_second - 1));
        fields.year = yesterday.year;
        fields.month = yesterday.month;
        fields.day = yesterday.day;
    }
    return fields;
}

std::string encode_time_frame(const ZedaFamily& family, int64_t board_epoch_second,
                              uint8_t status) {
    return encode_time_frame(family, time_frame_fields(family, board_epoch_second), status);
}

ZedaBoard::ZedaBoard(const ZedaFamily& family, const BoardOptions& options)
    : family_(options.version.empty() ? family : family.with_firmware(options.version)),
      signal_(options, family_.rate_base, family_.sample_bits),
      seed_(options.seed),
      mute_handshake_(options.faults.mute_handshake),
      ignores_trim_write_(options.faults.ignores_trim_write),
      anchor_pc_(options.pc_start),
      anchor_board_(text::to_epoch_seconds(options.board_start)),
      rate_(1.0 + options.clock.drift_ppm * 1e-6),
      receiver_offset_(anchor_board_ - anchor_pc_),
      sync_every_(std::max(options.clock.sync_every_seconds, 0)),
      input_line_1_(options.clock.input_line_1),
      input_line_2_(options.clock.input_line_2),
      daylight_time_(options.clock.daylight_time),
      told_(options.pc_start) {
    // Each board has its own trimming and serial number; below 0x80 so that a memory
    // reply never looks like a frame start or terminator.
    for (int i = 0; i < 4; ++i) {
        memory_[static_cast<size_t>(kTrimAddress + i)] =
            static_cast<uint8_t>(mix(options.seed * 31 + static_cast<uint64_t>(i)) & 0x7F);
        memory_[static_cast<size_t>(kSerialAddress + i)] =
            static_cast<uint8_t>(mix(~options.seed * 37 + static_cast<uint64_t>(i)) & 0x7F);
    }
    if (options.trimming) std::copy_n(options.trimming->begin(), 4, memory_.begin() + kTrimAddress);
    if (options.serial_number) {
        std::copy_n(options.serial_number->begin(), 4, memory_.begin() + kSerialAddress);
    }

    const BoardClockOptions& clock = options.clock;
    for (const text::DateTime& t : clock.sync_at) sync_at_.push_back(whole_second_at_or_after(t));
    std::sort(sync_at_.begin(), sync_at_.end());
    for (const BoardSpan& s : clock.receiver_lost) {
        receiver_lost_.emplace_back(text::to_epoch_seconds(s.from), text::to_epoch_seconds(s.to));
    }
    next_sync_ = next_sync_from(static_cast<int64_t>(std::ceil(receiver_time(told_))));

    for (const ClockJump& j : clock.jumps) {
        jumps_.emplace_back(whole_second_at_or_after(j.at), j.seconds);
    }
    jumps_ = latest_first(jumps_, [](const auto& j) { return j.first; });
    for (const BadTime& b : clock.bad_times) {
        bad_times_.emplace_back(whole_second_at_or_after(b.at), b.field);
    }
    bad_times_ = latest_first(bad_times_, [](const auto& b) { return b.first; });

    const LineFaults& faults = options.faults;
    for (const text::DateTime& t : faults.short_frames) {
        short_frames_.push_back(text::to_epoch_seconds(t));
    }
    short_frames_ = latest_first(short_frames_, [](double t) { return t; });
    for (const text::DateTime& t : faults.unterminated_frames) {
        unterminated_frames_.push_back(text::to_epoch_seconds(t));
    }
    unterminated_frames_ = latest_first(unterminated_frames_, [](double t) { return t; });
    for (const BoardSpan& span : faults.silent_streams) {
        silent_streams_.emplace_back(text::to_epoch_seconds(span.from),
                                     text::to_epoch_seconds(span.to));
    }
    for (const Garbage& g : faults.garbage) {
        garbage_.push_back(
            {text::to_epoch_seconds(g.from), text::to_epoch_seconds(g.to), g.replaced, g.injected});
    }
}

// ---- Board clock ----

double ZedaBoard::pc_at(int64_t second, double fraction) const {
    // The whole seconds are subtracted first: both are epoch-sized, so the difference is
    // exact and the fraction keeps its precision.
    return anchor_pc_ + ((static_cast<double>(second) - anchor_board_) + fraction) / rate_;
}

double ZedaBoard::slot_time(int64_t second, size_t slot) const {
    return pc_at(second, static_cast<double>(slots_[slot].tick) / family_.rate_base);
}

int64_t ZedaBoard::next_sync_from(int64_t from) const {
    if (!receiver_on_) return kNever;
    for (;;) {
        int64_t best = kNever;
        if (sync_every_ > 0) {
            int64_t day = floor_div(from, kDay) * kDay;
            int64_t k = floor_div(from - day + sync_every_ - 1, sync_every_);
            best = std::min(day + k * sync_every_, day + kDay);  // each midnight counts too
        }
        auto listed = std::lower_bound(sync_at_.begin(), sync_at_.end(), from);
        if (listed != sync_at_.end()) best = std::min(best, *listed);
        if (best == kNever) return kNever;
        auto lost = std::find_if(receiver_lost_.begin(), receiver_lost_.end(), [&](const auto& s) {
            return static_cast<double>(best) >= s.first && static_cast<double>(best) < s.second;
        });
        if (lost == receiver_lost_.end()) return best;
        from = std::max(best + 1, static_cast<int64_t>(std::ceil(lost->second)));
    }
}

std::pair<ZedaBoard::ClockEvent, double> ZedaBoard::next_clock_event() const {
    std::pair<ClockEvent, double> next{ClockEvent::none, kInfinity};
    // An event the clock was moved past happens at once.
    if (!jumps_.empty()) next = {ClockEvent::jump, std::max(pc_at(jumps_.back().first, 0), told_)};
    if (next_sync_ != kNever) {
        double at = std::max(static_cast<double>(next_sync_) - receiver_offset_, told_);
        if (at < next.second) next = {ClockEvent::sync, at};
    }
    return next;
}

void ZedaBoard::jump(double at) {
    auto [second, step] = jumps_.back();
    jumps_.pop_back();
    flagged_second_ = kNever;
    // Usually the jump falls on the start of its second, which it replaces by the stepped
    // one. A clock moved onto or past the jump's time steps where it is; if a second begins
    // right there (another jump just landed), that one is replaced.
    int64_t beginning = kNever;
    if (pc_at(second, 0) >= at - kSameInstant) {
        beginning = second;
    } else if (streaming_ && next_slot_ == 0 &&
               std::abs(slot_time(next_second_, 0) - at) < kSameInstant) {
        beginning = next_second_;
    }
    if (beginning == kNever) {
        move_clock(board_time(at) + step, at);
        return;
    }
    anchor_pc_ = at;
    anchor_board_ = static_cast<double>(beginning + step);
    next_second_ = beginning + step;
    next_slot_ = 0;
}

void ZedaBoard::synchronise(double at) {
    const int64_t mark = next_sync_;
    next_sync_ = next_sync_from(mark + 1);
    // The second whose time frame went out last.
    const int64_t current = next_slot_ == 0 ? next_second_ - 1 : next_second_;
    anchor_pc_ = at;
    anchor_board_ = static_cast<double>(mark);
    if (streaming_ && current == mark) {
        // Ahead by a fraction: that second's frame has gone, so it stretches to the mark
        // and the next frame reports the synchronisation.
        flagged_second_ = mark + 1;
    } else {
        // Behind or far off: the marked second begins now, cutting the running one short.
        flagged_second_ = mark;
        next_second_ = mark;
        next_slot_ = 0;
    }
}

void ZedaBoard::move_clock(double new_board_time, double now) {
    anchor_pc_ = now;
    anchor_board_ = new_board_time;
    flagged_second_ = kNever;
    if (streaming_) resume_after(now);
}

void ZedaBoard::resume_after(double now) {
    // Sending always begins with a time frame, at the first whole board second after now.
    next_second_ = static_cast<int64_t>(std::floor(board_time(now))) + 1;
    next_slot_ = 0;
}

uint8_t ZedaBoard::status(int64_t second) const {
    uint8_t s = 0;
    if (input_line_1_) s |= kInputLine1;
    if (input_line_2_) s |= kInputLine2;
    if (second == flagged_second_) s |= kSynchronised;
    if (daylight_time_) s |= kDaylightTime;
    return s;
}

void ZedaBoard::set_receiver_on(bool on) {
    receiver_on_ = on;
    next_sync_ = next_sync_from(static_cast<int64_t>(std::ceil(receiver_time(told_))));
}

void ZedaBoard::set_input_line(int line, bool on) {
    (line == 1 ? input_line_1_ : input_line_2_) = on;
}

void ZedaBoard::set_daylight_time(bool on) {
    daylight_time_ = on;
}

// ---- Sending ----

void ZedaBoard::corrupt(std::string& bytes, double board_time) {
    auto span = std::find_if(garbage_.begin(), garbage_.end(), [&](const GarbageSpan& g) {
        return board_time >= g.from && board_time < g.to;
    });
    if (span == garbage_.end()) return;
    std::string out;
    for (char c : bytes) {
        uint64_t h = mix(seed_ ^ mix(0x6A7BA6E + garbage_bytes_++));
        if (unit(h) < span->replaced)
            c = static_cast<char>(c ^ static_cast<char>(1 + (h & 0xFF) % 255));
        out.push_back(c);
        if (unit(mix(h)) < span->injected) out.push_back(static_cast<char>(mix(h + 1) & 0xFF));
    }
    bytes.swap(out);
}

void ZedaBoard::send(std::string bytes, double now, double board_time) {
    corrupt(bytes, board_time);
    if (outgoing_.empty()) outgoing_since_ = now;
    outgoing_ += bytes;
}

void ZedaBoard::send_slot(double at) {
    // A second begins with its time frame at tick 0, whatever layout the slots had; its
    // samples are placed now, for the second it really is (a jump or a synchronisation
    // may have chosen another one).
    if (next_slot_ == 0 && layout_each_second_) lay_out(next_second_);
    const Slot& slot = slots_[next_slot_];
    const int64_t second = next_second_;
    const double label =
        static_cast<double>(second) + static_cast<double>(slot.tick) / family_.rate_base;
    const bool silent =
        std::any_of(silent_streams_.begin(), silent_streams_.end(),
                    [&](const auto& span) { return label >= span.first && label < span.second; });
    if (silent) {
        // The slot passes with nothing sent.
    } else if (slot.channel < 0) {
        text::DateTime fields = time_frame_fields(family_, second);
        if (!bad_times_.empty() && bad_times_.back().first <= second) {
            switch (bad_times_.back().second) {
                case BadTime::Field::hours:
                    fields.hour = 24;
                    break;
                case BadTime::Field::minutes:
                    fields.minute = 60;
                    break;
                case BadTime::Field::seconds:
                    fields.second = 60;
                    break;
                case BadTime::Field::month:
                    fields.month = 13;
                    break;
            }
            bad_times_.pop_back();
        }
        send(encode_time_frame(family_, fields, status(second)), at, label);
    } else {
        int64_t tick = second * family_.rate_base + slot.tick;
        int32_t value = signal_.at_tick(slot.channel, tick);
        std::string frame = encode_data_frame(family_, slot.channel, value);
        auto due = [&](std::vector<double>& times) {
            if (times.empty() || times.back() > label) return false;
            times.pop_back();
            return true;
        };
        if (due(short_frames_)) frame.erase(frame.size() - 2, 1);
        if (due(unterminated_frames_)) frame.pop_back();
        send(std::move(frame), at, label);
        if (sample_listener) {
            sample_listener(slot.channel, static_cast<double>(tick) / family_.rate_base, value);
        }
    }
    if (++next_slot_ == slots_.size()) {
        next_slot_ = 0;
        ++next_second_;
    }
}

void ZedaBoard::produce(double now) {
    for (;;) {
        const bool sending = connected_ && streaming_;
        const double slot = sending ? slot_time(next_second_, next_slot_) : kInfinity;
        const auto [event, event_time] = next_clock_event();
        if (event != ClockEvent::none && event_time <= slot + kSameInstant &&
            std::min(event_time, slot) <= now) {
            const double at = std::min(event_time, slot);
            if (event == ClockEvent::jump) {
                jump(at);
            } else {
                synchronise(at);
            }
            told_ = std::max(told_, at);
            continue;
        }
        if (slot > now) break;
        send_slot(slot);
        told_ = std::max(told_, slot);
    }
    told_ = std::max(told_, now);
}

void ZedaBoard::lay_out(int64_t second) {
    slots_.assign(1, Slot{0, -1});
    const int64_t first_tick = second * family_.rate_base;
    for (int ch = 0; ch < kChannels; ++ch) {
        const int code = codes_[static_cast<size_t>(ch)];
        if (code == 0) continue;  // channel off
        // A channel samples at every code-th tick of the board's clock, counted on across
        // seconds: a code that does not divide the ticks of a second takes its samples at
        // other places in each second, and the count per second varies around the real rate.
        int tick = static_cast<int>(((-first_tick) % code + code) % code);
        for (; tick < family_.rate_base; tick += code) slots_.push_back({tick, ch});
    }
    // Time order; the time frame, then the channels in order, at equal times.
    std::stable_sort(slots_.begin() + 1, slots_.end(),
                     [](const Slot& a, const Slot& b) { return a.tick < b.tick; });
}

void ZedaBoard::start(const std::array<uint8_t, 4>& codes, double now) {
    codes_ = codes;
    layout_each_second_ = std::any_of(codes.begin(), codes.end(), [&](uint8_t code) {
        return code != 0 && family_.rate_base % code != 0;
    });
    streaming_ = true;
    resume_after(now);
    lay_out(next_second_);
}

void ZedaBoard::apply(const ZedaCommand& command, double now) {
    using Kind = ZedaCommand::Kind;
    const auto& a = command.args;
    switch (command.kind) {
        case Kind::version:
            if (!streaming_ && !mute_handshake_) {
                send(family_.version, now, board_time(now));
            }
            break;
        case Kind::stop:
            streaming_ = false;
            break;
        case Kind::memory_read:
            send(std::string{static_cast<char>(kMemoryReply), static_cast<char>(memory_[a[0]]),
                             static_cast<char>(kTerminator)},
                 now, board_time(now));
            break;
        case Kind::trim_write:
            if (!ignores_trim_write_) std::copy(a.begin(), a.end(), memory_.begin() + kTrimAddress);
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
            if (family_.masked_start) {
                // One code for every channel whose mask bit is set; of the sixteen, the
                // station takes the first four.
                const int mask = a[1] | (a[2] << 8);
                std::array<uint8_t, 4> codes{};
                for (int ch = 0; ch < kChannels; ++ch) {
                    if (mask & (1 << ch)) codes[static_cast<size_t>(ch)] = a[0];
                }
                start(codes, now);
            } else {
                start(a, now);
            }
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
    if (!connected_ || !streaming_) return kInfinity;
    return std::min(slot_time(next_second_, next_slot_), next_clock_event().second);
}

int32_t ZedaBoard::signal_at(int channel, double board_epoch_seconds) const {
    return signal_.at(channel, board_epoch_seconds);
}

void ZedaBoard::set_connected(bool connected) {
    if (connected && !connected_ && streaming_) resume_after(told_);
    connected_ = connected;
}

}  // namespace velkantor::sim
