#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "alerts/alert_center.h"

struct mosquitto;

namespace velkantor::platform {

// Alerts to an MQTT broker through libmosquitto, whose own network thread connects,
// reconnects with back-off and sends. The engine only puts messages into a bounded queue;
// the network thread takes them while connected, QoS 1, at most a few unacknowledged at a
// time. `<prefix>/state` is retained and the last will sets it to offline.
class MqttAlerts : public alerts::AlertOutput {
public:
    struct Options {
        std::string host;
        int port = 1883;
        std::string client_id;
        std::string user;
        std::string password;
        std::string prefix;
        std::string station;  // for the last will
        size_t queue = 100;
    };
    explicit MqttAlerts(Options options);
    ~MqttAlerts() override;
    MqttAlerts(const MqttAlerts&) = delete;
    MqttAlerts& operator=(const MqttAlerts&) = delete;

    // Starts the network thread; false (with `error()`) when the library refuses.
    bool start();
    // The retained state set to offline (waits at most two seconds for the broker's
    // acknowledgement), then disconnects and ends the thread, also when it is stuck in a
    // connect: bounded, whatever the network does.
    void stop();
    const std::string& error() const { return error_; }

    void send(const alerts::Alert& alert) override;
    void state(const std::string& json) override;
    uint64_t dropped() const override;
    bool ever_connected() const {
        std::lock_guard lock(mutex_);
        return ever_connected_;
    }
    // Of those, the ones a full queue pushed out.
    uint64_t queue_dropped() const { return dropped(); }

    // Lines for the event log (connection lost and back), taken on the engine's thread.
    std::vector<std::string> take_log_lines();
    // Hands the library what may go now (connected, few enough unacknowledged). Called by
    // `send` and `state`, and each second, which also covers a connection made meanwhile.
    void pump();

private:
    static constexpr int kInFlight = 8;

    Options options_;
    mosquitto* client_ = nullptr;
    std::string error_;
    bool started_ = false;

    // `mutex_` guards the fields below and is never held while calling the library, whose
    // callbacks take it on the network thread. `publish_mutex_` keeps one publisher at a
    // time, so the alerts leave in order; the callbacks never take it.
    std::mutex publish_mutex_;
    mutable std::mutex mutex_;
    alerts::AlertQueue queue_;
    std::string state_;  // the latest state, sent again at each connect
    bool state_pending_ = false;
    bool connected_ = false;
    bool ever_connected_ = false;
    bool told_down_ = false;
    int in_flight_ = 0;
    int offline_mid_ = -1;
    std::vector<int> acked_;  // the ids of the last acknowledged messages
    std::vector<std::string> log_lines_;

    friend struct MqttCallbacks;
};

}  // namespace velkantor::platform
