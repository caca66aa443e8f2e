#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "stream/miniseed_record.h"
#include "stream/record_ring.h"

namespace velkantor::stream {

// What a SeedLink server tells its clients about itself.
struct SeedLinkIdentity {
    std::string network;      // "XX"
    std::string station;      // "VELK"
    std::string description;  // the greeting's second line
    std::string software;     // "VELKANTOR 2.28"
    MicroTime started = 0;    // shown by INFO ID
};

// One message to the client. Over TCP they are written back to back; over WebSocket each
// is one message.
struct SeedLinkMessage {
    std::string bytes;
    bool binary = false;  // a packet ("SL…" or "SLINFO…"), not a reply line
};

// Bounds on what one client may send.
inline constexpr size_t kMaxCommandLength = 256;
inline constexpr int kMaxCommandsPerSecond = 25;
inline constexpr size_t kMaxSelectors = 32;

// One "SELECT" pattern: [!]LLCCC[.T], [!]CCC[.T], [!][.]T, '?' matching any one character,
// "--" (or "-") for the empty location. T is a record type (D, E, C, O, T or L); a pattern
// for a type this station never sends is still accepted, it just matches nothing.
struct StreamSelector {
    bool negated = false;
    bool any_location = true;
    std::string location;  // two characters, blank-padded, when !any_location
    std::string channel;   // three characters; empty: any channel
    char type = '?';       // 'D' for data, '?' for any
};
std::optional<StreamSelector> parse_selector(std::string_view text);
// Whether a data record of `id` passes the selectors (none = everything).
bool selected(const std::vector<StreamSelector>& selectors, const StreamId& id);

// "YYYY,MM,DD,hh,mm,ss" (a fraction of the second after a '.' is accepted and ignored).
std::optional<MicroTime> parse_seedlink_time(std::string_view text);

// One client's SeedLink 3.1 conversation, fed with what it sends and with the time, reading
// packets from the server's ring. It changes nothing but its own state.
class SeedLinkSession {
public:
    SeedLinkSession(const SeedLinkIdentity& identity, const RecordRing& ring);

    // libmseed reads its byte-order overrides from the environment into unguarded globals
    // on its first pack. Call once on the thread that starts the server, before any other
    // thread packs, so that later packs on any thread only read them.
    static void prepare_packing();

    // Bytes from a TCP client: commands end in CR, LF or CR LF.
    void receive(std::string_view bytes, MicroTime now);
    // One command without its line end (a WebSocket text message).
    void command(std::string_view line, MicroTime now);

    // Adds up to `budget` packets from the ring to the output (with "END" when a dial-up
    // or time-window transfer is complete). Returns how many messages were added.
    size_t pump(size_t budget);
    // Whether packets are waiting in the ring for this client.
    bool behind() const;
    bool streaming() const { return mode_ == Mode::streaming; }
    // Whether a transfer (DATA, FETCH, TIME or END) has begun, finished or not.
    bool transfer_started() const { return mode_ != Mode::commands; }

    std::vector<SeedLinkMessage> take_output();
    bool closed() const { return !close_reason_.empty(); }
    // Why the conversation is over ("BYE", "too many commands", …); empty while open.
    const std::string& close_reason() const { return close_reason_; }

private:
    enum class Mode { commands, streaming, finished };
    enum class Transfer { data, fetch, time };
    struct Request {
        Transfer transfer = Transfer::data;
        std::optional<uint32_t> sequence;
        std::optional<MicroTime> begin;
        std::optional<MicroTime> end;
    };

    bool command_count(MicroTime now);
    void handle(std::string_view line);
    void reply(std::string_view text) { output_.push_back({std::string(text), false}); }
    void error() { reply("ERROR\r\n"); }
    std::optional<Request> parse_request(Transfer transfer, const std::vector<std::string>& args);
    void start(const Request& request);
    void info(std::string_view level);
    void send_info(const std::string& xml);
    std::string station_xml(bool streams) const;
    bool window_complete() const;

    const SeedLinkIdentity& identity_;
    const RecordRing& ring_;
    Mode mode_ = Mode::commands;
    bool station_chosen_ = false;  // STATION seen: multi-station mode, transfer on END
    std::optional<Request> pending_;
    std::vector<StreamSelector> selectors_;
    Request active_;
    uint64_t cursor_ = 0;
    std::string line_;
    bool discarding_ = false;  // the current line grew too long; skip to its end
    bool last_was_cr_ = false;
    MicroTime rate_second_ = 0;
    int rate_count_ = 0;
    MicroTime now_ = 0;
    std::vector<SeedLinkMessage> output_;
    std::string close_reason_;
};

}  // namespace velkantor::stream
