#include "platform/real/mqtt_alerts.h"

#include <mosquitto.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace velkantor::platform {

namespace {

std::once_flag library_once;

}  // namespace

struct MqttCallbacks {
    static void on_connect(mosquitto*, void* self, int rc) {
        auto* m = static_cast<MqttAlerts*>(self);
        {
            std::lock_guard lock(m->mutex_);
            if (rc != 0) {
                if (!m->told_down_) {
                    m->told_down_ = true;
                    m->log_lines_.push_back(
                        "Alerts: the MQTT broker " + m->options_.host + ":" +
                        std::to_string(m->options_.port) +
                        " refused the connection: " + mosquitto_connack_string(rc));
                }
                return;
            }
            m->connected_ = true;
            m->in_flight_ = 0;
            m->state_pending_ = !m->state_.empty();
            if (m->told_down_ || !m->ever_connected_) {
                m->log_lines_.push_back("Alerts: connected to the MQTT broker " + m->options_.host +
                                        ":" + std::to_string(m->options_.port));
            }
            m->ever_connected_ = true;
            m->told_down_ = false;
        }
    }
    static void on_disconnect(mosquitto*, void* self, int rc) {
        auto* m = static_cast<MqttAlerts*>(self);
        std::lock_guard lock(m->mutex_);
        m->connected_ = false;
        if (rc != 0 && !m->told_down_) {
            m->told_down_ = true;
            m->log_lines_.push_back("Alerts: the MQTT broker " + m->options_.host + ":" +
                                    std::to_string(m->options_.port) +
                                    " is gone; connecting again");
        }
    }
    static void on_publish(mosquitto*, void* self, int mid) {
        auto* m = static_cast<MqttAlerts*>(self);
        std::lock_guard lock(m->mutex_);
        // The acknowledgement may come before the publisher has learnt the message's id.
        m->acked_.push_back(mid);
        if (m->acked_.size() > 64) m->acked_.erase(m->acked_.begin());
        if (m->in_flight_ > 0) --m->in_flight_;
    }
};

MqttAlerts::MqttAlerts(Options options) : options_(std::move(options)), queue_(options_.queue) {}

MqttAlerts::~MqttAlerts() {
    stop();
}

bool MqttAlerts::start() {
    std::call_once(library_once, [] { mosquitto_lib_init(); });
    client_ = mosquitto_new(options_.client_id.c_str(), true, this);
    if (!client_) {
        error_ = "the MQTT client cannot be made";
        return false;
    }
    mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(client_, &MqttCallbacks::on_connect);
    mosquitto_disconnect_callback_set(client_, &MqttCallbacks::on_disconnect);
    mosquitto_publish_callback_set(client_, &MqttCallbacks::on_publish);
    if (!options_.user.empty()) {
        mosquitto_username_pw_set(client_, options_.user.c_str(),
                                  options_.password.empty() ? nullptr : options_.password.c_str());
    }
    const std::string will = alerts::offline_json(options_.station);
    const std::string will_topic = options_.prefix + "/state";
    mosquitto_will_set(client_, will_topic.c_str(), static_cast<int>(will.size()), will.data(), 1,
                       true);
    // From 2 s up to a minute between attempts while the broker is away.
    mosquitto_reconnect_delay_set(client_, 2, 60, true);
    int rc = mosquitto_connect_async(client_, options_.host.c_str(), options_.port, 30);
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_ERRNO) {
        // A name that does not resolve now may resolve later; the loop retries it.
        error_ = mosquitto_strerror(rc);
    }
    rc = mosquitto_loop_start(client_);
    if (rc != MOSQ_ERR_SUCCESS) {
        error_ = std::string("the MQTT thread does not start: ") + mosquitto_strerror(rc);
        mosquitto_destroy(client_);
        client_ = nullptr;
        return false;
    }
    started_ = true;
    return true;
}

void MqttAlerts::stop() {
    if (!client_) return;
    if (started_) {
        pump();  // what is queued goes before the offline state
        {
            std::lock_guard publishing(publish_mutex_);
            bool connected = false;
            {
                std::lock_guard lock(mutex_);
                connected = connected_;
            }
            if (connected) {
                const std::string offline = alerts::offline_json(options_.station);
                const std::string topic = options_.prefix + "/state";
                int mid = 0;
                if (mosquitto_publish(client_, &mid, topic.c_str(),
                                      static_cast<int>(offline.size()), offline.data(), 1,
                                      true) == MOSQ_ERR_SUCCESS) {
                    std::lock_guard lock(mutex_);
                    offline_mid_ = mid;
                    ++in_flight_;
                }
            }
        }
        // The program ends: a moment (at most two seconds) for the broker to take the last
        // alerts and the offline state.
        for (int i = 0; i < 100; ++i) {
            {
                std::lock_guard lock(mutex_);
                bool acked = std::find(acked_.begin(), acked_.end(), offline_mid_) != acked_.end();
                if (offline_mid_ < 0 || !connected_ || (acked && in_flight_ == 0)) break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        bool connected = false;
        {
            std::lock_guard lock(mutex_);
            connected = connected_;
        }
        mosquitto_disconnect(client_);
        // Connected, the network thread sends the DISCONNECT and ends at once. Otherwise it
        // may be inside a connect or a name look-up that blocks for minutes (a broker behind
        // a firewall that drops packets): it is cancelled there, so that the stop never waits
        // on the network. After the disconnect above it starts no new attempt.
        mosquitto_loop_stop(client_, !connected);
        started_ = false;
    }
    mosquitto_destroy(client_);
    client_ = nullptr;
}

void MqttAlerts::send(const alerts::Alert& alert) {
    {
        std::lock_guard lock(mutex_);
        queue_.push(alert);
    }
    pump();
}

void MqttAlerts::state(const std::string& json) {
    {
        std::lock_guard lock(mutex_);
        state_ = json;
        state_pending_ = true;
    }
    pump();
}

uint64_t MqttAlerts::dropped() const {
    std::lock_guard lock(mutex_);
    return queue_.dropped();
}

std::vector<std::string> MqttAlerts::take_log_lines() {
    std::lock_guard lock(mutex_);
    std::vector<std::string> lines;
    lines.swap(log_lines_);
    return lines;
}

void MqttAlerts::pump() {
    std::lock_guard publishing(publish_mutex_);
    if (!client_) return;
    std::string state;
    bool send_state = false;
    std::vector<alerts::Alert> going;
    {
        std::lock_guard lock(mutex_);
        if (!connected_) return;
        if (state_pending_) {
            state = state_;
            send_state = true;
            state_pending_ = false;
            ++in_flight_;
        }
        while (in_flight_ < kInFlight && !queue_.empty()) {
            going.push_back(*queue_.pop());
            ++in_flight_;
        }
    }
    // In threaded mode mosquitto_publish only queues the packet for the network thread.
    if (send_state) {
        const std::string topic = options_.prefix + "/state";
        if (mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(state.size()),
                              state.data(), 1, true) != MOSQ_ERR_SUCCESS) {
            std::lock_guard lock(mutex_);
            state_pending_ = true;  // the next connect sends the latest state anyway
            --in_flight_;
        }
    }
    for (size_t i = 0; i < going.size(); ++i) {
        const auto& alert = going[i];
        const std::string topic = options_.prefix + "/" + alerts::topic_name(alert.topic);
        if (mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(alert.json.size()),
                              alert.json.data(), 1, false) == MOSQ_ERR_SUCCESS) {
            continue;
        }
        // The connection went meanwhile: these wait for the next one, oldest first.
        std::lock_guard lock(mutex_);
        for (size_t k = going.size(); k > i; --k) {
            queue_.put_back(std::move(going[k - 1]));
            --in_flight_;
        }
        break;
    }
}

}  // namespace velkantor::platform
