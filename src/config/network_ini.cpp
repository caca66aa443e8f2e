#include "config/network_ini.h"

#include <algorithm>
#include <cctype>

#include "text/strings.h"

namespace velkantor::config {

namespace {

// A comment starts at ';' or '#' at the line's start or after a blank.
std::string_view without_comment(std::string_view line) {
    for (size_t i = 0; i < line.size(); ++i) {
        if ((line[i] == ';' || line[i] == '#') &&
            (i == 0 || std::isspace(static_cast<unsigned char>(line[i - 1])))) {
            return line.substr(0, i);
        }
    }
    return line;
}

const std::vector<IniEntry> kNoEntries;

}  // namespace

IniFile IniFile::parse(std::string_view text) {
    IniFile file;
    std::string section;
    int number = 0;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view raw = text.substr(at, end - at);
        at = end + 1;
        ++number;
        if (number == 1 && raw.substr(0, 3) == "\xEF\xBB\xBF") raw.remove_prefix(3);
        std::string_view line = text::trim(without_comment(raw));
        if (line.empty()) continue;
        if (line.front() == '[' && line.back() == ']') {
            section = text::to_lower(text::trim(line.substr(1, line.size() - 2)));
            file.sections_[section];
            continue;
        }
        size_t equals = line.find('=');
        std::string key = equals == std::string_view::npos
                              ? ""
                              : text::to_lower(text::trim(line.substr(0, equals)));
        if (key.empty()) {
            file.bad_lines_.push_back({section, std::string(text::trim(raw)), number});
            continue;
        }
        file.sections_[section].push_back(
            {key, std::string(text::trim(line.substr(equals + 1))), number});
    }
    return file;
}

bool IniFile::has_section(std::string_view section) const {
    return sections_.find(section) != sections_.end();
}

const IniEntry* IniFile::find(std::string_view section, std::string_view key) const {
    auto it = sections_.find(section);
    if (it == sections_.end()) return nullptr;
    const IniEntry* found = nullptr;
    for (const auto& entry : it->second) {
        if (entry.key == key) found = &entry;
    }
    return found;
}

const std::vector<IniEntry>& IniFile::entries(std::string_view section) const {
    auto it = sections_.find(section);
    return it == sections_.end() ? kNoEntries : it->second;
}

std::string ini_problem(std::string_view section, const IniEntry& entry, std::string_view what) {
    return std::string(kNetworkFileName) + ", [" + std::string(section) + "] " + entry.key +
           " (line " + std::to_string(entry.line) + "): " + std::string(what);
}

void IniValue::refuse(std::string_view what) const {
    refused_ = true;
    problems_.push_back(entry_ ? line(std::string(what) + std::string(section_.refused_suffix))
                               : line(what));
}

void IniValue::warn(std::string_view what) const {
    problems_.push_back(line(what));
}

std::string IniValue::line(std::string_view what) const {
    if (entry_) return ini_problem(section_.name, *entry_, what);
    return option_ + " " + shown_ + ": " + std::string(what);
}

bool read_section(const IniFile& ini, const IniSection& section,
                  std::vector<std::string>& problems) {
    bool refused = false;
    auto key_of = [&](std::string_view name) -> const IniKey* {
        for (const auto& key : section.keys) {
            if (key.name == name) return &key;
        }
        return nullptr;
    };
    auto replaced = [&](std::string_view name) {
        return std::any_of(section.options.begin(), section.options.end(), [&](const IniOption& o) {
            return o.key == name && !o.adds && !o.values.empty();
        });
    };
    for (const auto& entry : ini.entries(section.name)) {
        IniValue value(entry.value, "", "", &entry, section, problems, refused);
        if (const IniKey* key = key_of(entry.key)) {
            if (!replaced(key->name)) key->read(value);
        } else if (section.unknown_refused) {
            value.refuse(section.unknown_text);
        } else {
            value.warn(section.unknown_text);
        }
    }
    for (const auto& option : section.options) {
        const IniKey* key = key_of(option.key);
        if (!key) continue;
        for (const auto& text : option.values) {
            std::string shown = option.shown ? option.shown(text) : text;
            key->read(IniValue(text, std::string(option.name), shown, nullptr, section, problems,
                               refused));
        }
    }
    return !refused;
}

std::vector<std::string> given(const std::string& value) {
    if (value.empty()) return {};
    return {value};
}

std::function<void(const IniValue&)> listen_key(
    ListenAddress& listen, bool& on, std::function<std::string(const std::string&)> bad) {
    return [&listen, &on, bad = std::move(bad)](const IniValue& value) {
        if (auto address = parse_listen_address(value.text(), "0.0.0.0")) {
            listen = *address;
            on = true;
        } else {
            value.refuse(bad(value.text()));
        }
    };
}

std::optional<ListenAddress> parse_listen_address(std::string_view text,
                                                  std::string_view default_address) {
    text = text::trim(text);
    ListenAddress result{std::string(default_address), 0};
    std::string_view port = text;
    if (!text.empty() && text.front() == '[') {
        size_t close = text.find(']');
        if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            return std::nullopt;
        }
        result.address = std::string(text.substr(1, close - 1));
        port = text.substr(close + 2);
    } else if (size_t colon = text.rfind(':'); colon != std::string_view::npos) {
        if (text.find(':') != colon) return std::nullopt;  // a bare IPv6 address needs [ ]
        result.address = std::string(text.substr(0, colon));
        port = text.substr(colon + 1);
    }
    if (result.address.empty() || port.empty() || port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    result.port = std::stoi(std::string(port));
    if (result.port < 1 || result.port > 65535) return std::nullopt;
    return result;
}

}  // namespace velkantor::config

namespace velkantor::config {

namespace {

std::optional<std::array<uint8_t, 4>> parse_ipv4(std::string_view text) {
    std::array<uint8_t, 4> bytes{};
    size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        size_t end = part < 3 ? text.find('.', at) : text.size();
        if (end == std::string_view::npos) return std::nullopt;
        std::string_view digits = text.substr(at, end - at);
        if (digits.empty() || digits.size() > 3 ||
            !std::all_of(digits.begin(), digits.end(),
                         [](char c) { return c >= '0' && c <= '9'; })) {
            return std::nullopt;
        }
        int value = std::stoi(std::string(digits));
        if (value > 255) return std::nullopt;
        bytes[static_cast<size_t>(part)] = static_cast<uint8_t>(value);
        at = end + 1;
    }
    return bytes;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::array<uint8_t, 16>> parse_ipv6(std::string_view text) {
    // Groups before and after a "::" (at most one), each 1-4 hex digits; a dotted IPv4 tail
    // counts as two groups.
    std::vector<uint16_t> head, tail;
    bool gap = false;
    std::vector<uint16_t>* groups = &head;
    size_t at = 0;
    if (text.substr(0, 2) == "::") {
        gap = true;
        groups = &tail;
        at = 2;
    }
    while (at < text.size()) {
        size_t end = text.find(':', at);
        std::string_view group =
            text.substr(at, end == std::string_view::npos ? text.size() - at : end - at);
        if (end == std::string_view::npos && group.find('.') != std::string_view::npos) {
            auto v4 = parse_ipv4(group);
            if (!v4) return std::nullopt;
            groups->push_back(static_cast<uint16_t>((*v4)[0] << 8 | (*v4)[1]));
            groups->push_back(static_cast<uint16_t>((*v4)[2] << 8 | (*v4)[3]));
            break;
        }
        if (group.empty() || group.size() > 4) return std::nullopt;
        unsigned value = 0;
        for (char c : group) {
            int digit = hex_digit(c);
            if (digit < 0) return std::nullopt;
            value = value * 16 + static_cast<unsigned>(digit);
        }
        groups->push_back(static_cast<uint16_t>(value));
        if (end == std::string_view::npos) break;
        at = end + 1;
        if (at < text.size() && text[at] == ':') {
            if (gap) return std::nullopt;
            gap = true;
            groups = &tail;
            ++at;
        } else if (at == text.size()) {
            return std::nullopt;  // a trailing single ':'
        }
    }
    size_t total = head.size() + tail.size();
    if (gap ? total > 7 : total != 8) return std::nullopt;
    std::array<uint8_t, 16> bytes{};
    auto put = [&](size_t index, uint16_t value) {
        bytes[index * 2] = static_cast<uint8_t>(value >> 8);
        bytes[index * 2 + 1] = static_cast<uint8_t>(value & 0xFF);
    };
    for (size_t i = 0; i < head.size(); ++i) put(i, head[i]);
    for (size_t i = 0; i < tail.size(); ++i) put(8 - tail.size() + i, tail[i]);
    return bytes;
}

}  // namespace

std::optional<std::array<uint8_t, 16>> parse_ip_address(std::string_view text) {
    if (auto v4 = parse_ipv4(text)) {
        std::array<uint8_t, 16> bytes{};
        bytes[10] = 0xFF;
        bytes[11] = 0xFF;
        std::copy(v4->begin(), v4->end(), bytes.begin() + 12);
        return bytes;
    }
    return parse_ipv6(text);
}

std::optional<IpNetwork> parse_ip_network(std::string_view text) {
    text = text::trim(text);
    size_t slash = text.find('/');
    std::string_view address = text.substr(0, slash);
    auto bytes = parse_ip_address(address);
    if (!bytes) return std::nullopt;
    bool v4 = parse_ipv4(address).has_value();
    int prefix = v4 ? 32 : 128;
    if (slash != std::string_view::npos) {
        std::string_view digits = text.substr(slash + 1);
        if (digits.empty() || digits.size() > 3 ||
            !std::all_of(digits.begin(), digits.end(),
                         [](char c) { return c >= '0' && c <= '9'; })) {
            return std::nullopt;
        }
        prefix = std::stoi(std::string(digits));
        if (prefix > (v4 ? 32 : 128)) return std::nullopt;
    }
    IpNetwork network;
    network.address = *bytes;
    network.prefix = v4 ? prefix + 96 : prefix;
    return network;
}

bool IpNetwork::contains(const std::array<uint8_t, 16>& peer) const {
    for (int bit = 0; bit < prefix; ++bit) {
        auto byte = static_cast<size_t>(bit / 8);
        auto mask = static_cast<uint8_t>(0x80 >> (bit % 8));
        if ((address[byte] & mask) != (peer[byte] & mask)) return false;
    }
    return true;
}

}  // namespace velkantor::config
