#include "zeda_command_parser.h"

#include <deque>

#include "text/date_time.h"

namespace velkantor::sim {

namespace {

constexpr std::string_view kStartPrefix = "DUMMY";
constexpr size_t kCommandLength = 6;
constexpr size_t kStartLength = 11;  // "DUMMY", 0x84, four codes, 0x00

uint8_t byte_at(const std::string& s, size_t i) {
    return static_cast<uint8_t>(s[i]);
}

// Whether byte i (present in the candidate) may stand there in a 6-byte command with this
// lead byte. Fields that hold numbers must be in range, padding must be zero: that is what
// tells a command from noise that happens to begin with a command byte.
bool byte_fits(const std::string& s, size_t i) {
    uint8_t b = byte_at(s, i);
    switch (byte_at(s, 0)) {
        case 0x81:  // version
        case 0x84:  // stop
            return b == 0;
        case 0x82:  // time zone: the same byte five times
            return i == 1 || b == byte_at(s, 1);
        case 0x83:  // set time
            if (i == 1 || i == 2) return b < 60;
            if (i == 3) return b < 24;
            return b == 0;
        case 0x85:  // trim write
            return i <= 4 || b == 0;
        case 0x86:  // memory read
            return i == 1 || b == 0;
        case 0x87:  // set date
            if (i == 1) return b < 100;
            if (i == 2) return b >= 1 && b <= 12;
            if (i == 3) return text::is_valid_date(2000 + byte_at(s, 1), byte_at(s, 2), b);
            return b == 0;
        default:
            return false;
    }
}

}  // namespace

ZedaCommandParser::Fit ZedaCommandParser::fit(const std::string& s) {
    if (s.empty()) return Fit::partial;
    if (s[0] == kStartPrefix[0]) {
        for (size_t i = 0; i < s.size(); ++i) {
            if (i < kStartPrefix.size() && s[i] != kStartPrefix[i]) return Fit::invalid;
            if (i == kStartPrefix.size() && byte_at(s, i) != 0x84) return Fit::invalid;
            if (i == kStartLength - 1 && byte_at(s, i) != 0) return Fit::invalid;
        }
        return s.size() == kStartLength ? Fit::complete : Fit::partial;
    }
    uint8_t lead = byte_at(s, 0);
    if (lead < 0x81 || lead > 0x87) return Fit::invalid;
    for (size_t i = 1; i < s.size(); ++i) {
        if (!byte_fits(s, i)) return Fit::invalid;
    }
    return s.size() == kCommandLength ? Fit::complete : Fit::partial;
}

ZedaCommand ZedaCommandParser::decode(const std::string& s) {
    using Kind = ZedaCommand::Kind;
    ZedaCommand c{Kind::stop, {}};
    if (s.size() == kStartLength) {
        c.kind = Kind::start;
        for (size_t i = 0; i < 4; ++i) c.args[i] = byte_at(s, kStartPrefix.size() + 1 + i);
        return c;
    }
    switch (byte_at(s, 0)) {
        case 0x81:
            c.kind = Kind::version;
            break;
        case 0x82:
            c.kind = Kind::time_zone;
            break;
        case 0x83:
            c.kind = Kind::set_time;
            break;
        case 0x84:
            c.kind = Kind::stop;
            break;
        case 0x85:
            c.kind = Kind::trim_write;
            break;
        case 0x86:
            c.kind = Kind::memory_read;
            break;
        default:
            c.kind = Kind::set_date;
            break;
    }
    for (size_t i = 0; i < 4; ++i) c.args[i] = byte_at(s, i + 1);
    return c;
}

std::vector<ZedaCommand> ZedaCommandParser::feed(std::string_view bytes) {
    std::vector<ZedaCommand> out;
    std::deque<char> input(bytes.begin(), bytes.end());
    while (!input.empty()) {
        pending_.push_back(input.front());
        input.pop_front();
        switch (fit(pending_)) {
            case Fit::partial:
                break;
            case Fit::complete:
                out.push_back(decode(pending_));
                pending_.clear();
                break;
            case Fit::invalid:
                // Drop the first byte only; the rest may hold the start of a real command.
                input.insert(input.begin(), pending_.begin() + 1, pending_.end());
                pending_.clear();
                break;
        }
    }
    return out;
}

}  // namespace velkantor::sim
