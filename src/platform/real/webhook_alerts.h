#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "alerts/alert_center.h"

namespace velkantor::platform {

// Alerts as HTTP POSTs of their JSON to each webhook address, through libcurl, each address
// with its own sender thread and bounded queue: an address that is down or never answers
// delays no other. A POST that gets no answer in time, a 5xx, 408 or 429 is tried again a
// few times with growing pauses; another 4xx (the address or its token is wrong) is not,
// as trying again cannot help. Either way the alert is then dropped with one event-log line,
// which names the address by scheme, host and port only. The engine only puts alerts into
// the queues.
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
    // Ends the threads (POSTs under way are abandoned).
    void stop();

    void send(const alerts::Alert& alert) override;
    uint64_t dropped() const override;
    // Of those, the ones a full queue pushed out (the others were given up after retries).
    uint64_t queue_dropped() const;
    std::vector<std::string> take_log_lines();

private:
    class Sender;
    Options options_;  // the senders share it
    std::vector<std::unique_ptr<Sender>> senders_;
};

}  // namespace velkantor::platform
