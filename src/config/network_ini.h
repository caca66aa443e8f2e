#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velkantor::config {

// The station folder's network.ini: the settings of the services that publish the station
// (streaming, archive, web page, alerts). Kept apart from velkant.ini, whose layout is fixed.
inline constexpr const char* kNetworkFileName = "network.ini";

// One "key = value" line; `line` is its 1-based line number, for messages.
struct IniEntry {
    std::string key;
    std::string value;
    int line = 0;
};

// An INI text read leniently: "[section]" headers, "key = value" lines, comments after ';'
// or '#' (at the start of a line, or after a blank inside one), blank lines. Section and key
// names are case-insensitive and kept in lower case; values are trimmed. A line that is none
// of these is kept in `bad_lines` so that the reader of a section can name it.
class IniFile {
public:
    static IniFile parse(std::string_view text);

    bool has_section(std::string_view section) const;
    // The last value given for the key in the section (later lines override earlier ones).
    const IniEntry* find(std::string_view section, std::string_view key) const;
    const std::vector<IniEntry>& entries(std::string_view section) const;

    struct BadLine {
        std::string section;
        std::string text;
        int line = 0;
    };
    const std::vector<BadLine>& bad_lines() const { return bad_lines_; }

private:
    std::map<std::string, std::vector<IniEntry>, std::less<>> sections_;
    std::vector<BadLine> bad_lines_;
};

// "network.ini, [seedlink] listen (line 4): <what>": how every bad value is reported.
std::string ini_problem(std::string_view section, const IniEntry& entry, std::string_view what);

// ADDRESS:PORT, [IPv6]:PORT or PORT alone (then `default_address`). Port 1..65535; the
// address is kept as text (the socket layer resolves it). Empty when the text is not one.
struct ListenAddress {
    std::string address;
    int port = 0;
};
std::optional<ListenAddress> parse_listen_address(std::string_view text,
                                                  std::string_view default_address);

}  // namespace velkantor::config

namespace velkantor::config {

// A client network of an allow list: "192.168.0.0/16", "10.1.2.3" (one address), "::1/128".
// IPv4 addresses are kept as IPv4-mapped IPv6 (::ffff:a.b.c.d), so that a server listening
// on both families compares alike.
struct IpNetwork {
    std::array<uint8_t, 16> address{};
    int prefix = 128;  // bits of `address` that must match
    bool contains(const std::array<uint8_t, 16>& peer) const;
};
std::optional<IpNetwork> parse_ip_network(std::string_view text);
// "a.b.c.d" or an IPv6 text as the 16 bytes above; nullopt when it is neither.
std::optional<std::array<uint8_t, 16>> parse_ip_address(std::string_view text);

}  // namespace velkantor::config
