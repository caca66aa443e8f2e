#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
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

// What the command line says over network.ini. Each option stands for one key of the file.
struct NetworkOptions {
    std::string seedlink{};               // --seedlink: [seedlink] listen
    std::string archive{};                // --archive: [archive] folder
    std::string web{};                    // --web: [web] listen
    std::string mqtt{};                   // --mqtt: [alerts] mqtt
    std::vector<std::string> webhooks{};  // --webhook: added to [alerts] webhook
    std::string datalink{};               // --datalink: [datalink] server
};

struct IniSection;

// One value given to a key of a section: a line of the file, or a command-line option.
class IniValue {
public:
    const std::string& text() const { return text_; }
    bool from_command_line() const { return !option_.empty(); }
    // The value cannot be used: one problem line, and the section counts as refused.
    // A line of the file: "network.ini, [web] events (line 3): <what><section's suffix>";
    // an option: "--web <value as shown>: <what>".
    void refuse(std::string_view what) const;
    // The value (or a part of it) is passed over and said so; the section still holds.
    void warn(std::string_view what) const;

private:
    friend bool read_section(const IniFile&, const IniSection&, std::vector<std::string>&);
    IniValue(std::string text, std::string option, std::string shown, const IniEntry* entry,
             const IniSection& section, std::vector<std::string>& problems, bool& refused)
        : text_(std::move(text)),
          option_(std::move(option)),
          shown_(std::move(shown)),
          entry_(entry),
          section_(section),
          problems_(problems),
          refused_(refused) {}
    std::string line(std::string_view what) const;

    std::string text_;
    std::string option_;  // "--web"; empty for a line of the file
    std::string shown_;   // the option's value as a message shows it
    const IniEntry* entry_;
    const IniSection& section_;
    std::vector<std::string>& problems_;
    bool& refused_;
};

// A key of a section and what reads its values.
struct IniKey {
    std::string_view name;
    std::function<void(const IniValue&)> read;
};

// A command-line option standing for a key. Its values replace the file's lines of that key,
// or, with `adds`, are read after them.
struct IniOption {
    std::string_view key{};
    std::string_view name{};  // "--web"
    std::vector<std::string> values{};
    bool adds = false;
    // How a value is written in a message (the value itself when not set): a webhook's
    // address may hold a token.
    std::function<std::string(std::string_view)> shown{};
};

// A section read by a table of keys.
struct IniSection {
    std::string_view name{};
    std::vector<IniKey> keys{};
    std::vector<IniOption> options{};
    // Said after every refused line of the file: what a refusal turns off.
    std::string_view refused_suffix{};
    // A key not in the table: said and passed over, or (where a misspelt key must not leave a
    // service running on defaults) refused.
    bool unknown_refused = false;
    std::string_view unknown_text = "unknown key, ignored";
};

// Reads every line of the section in file order with its key's reader (so a later line
// overrides an earlier one), then the options' values. True when no value was refused.
bool read_section(const IniFile& ini, const IniSection& section,
                  std::vector<std::string>& problems);

// A non-empty option value as the one value of an IniOption; none for an empty one.
std::vector<std::string> given(const std::string& value);

// ADDRESS:PORT, [IPv6]:PORT or PORT alone (then `default_address`). Port 1..65535; the
// address is kept as text (the socket layer resolves it). Empty when the text is not one.
struct ListenAddress {
    std::string address;
    int port = 0;
};
std::optional<ListenAddress> parse_listen_address(std::string_view text,
                                                  std::string_view default_address);

// The reader of a server's listen key: PORT alone listens on every address. A good value goes
// into `listen` and sets `on`; a bad one is refused with what `bad` says of its text.
std::function<void(const IniValue&)> listen_key(ListenAddress& listen, bool& on,
                                                std::function<std::string(const std::string&)> bad);

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
