#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "alerts/alert_center.h"

namespace velkantor::platform {

// Alerts as HTTP POSTs of their JSON to each webhook address, through libcurl on one sender
// thread. A POST that fails (no answer in time, an error status) is tried again a few times
// with growing pauses; then the alert is dropped with one event-log line. The engine only
// puts alerts into the bounded queue.
class WebhookAlerts : public alerts::AlertOutput {
  public:
    struct Options {
        std::vector<std::string> urls;
        double timeout_seconds = 5;
        size_t queue = 100;
        int attempts = 3;                // POSTs of one alert to one address
        double first_pause_seconds = 1;  // then doubled
    };
    explicit WebhookAlerts(Options options);
    ~WebhookAlerts() override;
    WebhookAlerts(const WebhookAlerts&) = delete;
    WebhookAlerts& operator=(const WebhookAlerts&) = delete;

    void start();
    // Ends the thread (a POST under way is abandoned).
    void stop();

    void send(const alerts::Alert& alert) override;
    uint64_t dropped() const override;
    // Of those, the ones a full queue pushed out (the others were given up after retries).
    uint64_t queue_dropped() const;
    std::vector<std::string> take_log_lines();

  private:
    void run();
    // One POST; empty when the far side took it, else why not.
    std::string post(const std::string& url, const std::string& json);
    // Waits up to `seconds` unless stopped; false when stopped.
    bool pause(double seconds);

    Options options_;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    alerts::AlertQueue queue_;
    bool stopping_ = false;
    uint64_t given_up_ = 0;
    std::vector<std::string> log_lines_;
};

}  // namespace velkantor::platform
