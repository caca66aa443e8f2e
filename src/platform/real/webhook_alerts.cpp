#include "platform/real/webhook_alerts.h"

#include <curl/curl.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "alerts/alert_settings.h"

namespace velkantor::platform {

namespace {

std::once_flag curl_once;

size_t discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

// How one POST went.
struct Outcome {
    std::string failure;  // empty: the far side took it
    bool worth_retry = false;
};

}  // namespace

// One address: its queue and the thread that posts from it.
class WebhookAlerts::Sender {
public:
    Sender(std::string url, const Options& options)
        : url_(std::move(url)),
          shown_(alerts::webhook_for_log(url_)),
          options_(options),
          queue_(options.queue) {}
    ~Sender() { stop(); }

    void start() {
        if (thread_.joinable()) return;
        stopping_ = false;
        thread_ = std::thread([this] { run(); });
    }
    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }
    void send(const alerts::Alert& alert) {
        {
            std::lock_guard lock(mutex_);
            queue_.push(alert);
        }
        wake_.notify_one();
    }
    uint64_t dropped() const {
        std::lock_guard lock(mutex_);
        return queue_.dropped() + given_up_;
    }
    uint64_t queue_dropped() const {
        std::lock_guard lock(mutex_);
        return queue_.dropped();
    }
    void take_log_lines(std::vector<std::string>& into) {
        std::lock_guard lock(mutex_);
        for (auto& line : log_lines_) into.push_back(std::move(line));
        log_lines_.clear();
    }

private:
    void run() {
        for (;;) {
            alerts::Alert alert;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
                if (stopping_) return;
                alert = *queue_.pop();
            }
            Outcome outcome;
            double wait = options_.first_pause_seconds;
            int attempt = 1;
            for (;; ++attempt) {
                outcome = post(alert.json);
                if (outcome.failure.empty() || !outcome.worth_retry ||
                    attempt == options_.attempts) {
                    break;
                }
                if (!pause(wait)) return;
                wait *= 2;
            }
            if (outcome.failure.empty()) continue;
            std::lock_guard lock(mutex_);
            if (stopping_) return;  // abandoned by the stop, not given up
            ++given_up_;
            std::string topic = alerts::topic_name(alert.topic);
            log_lines_.push_back(outcome.worth_retry
                                     ? "Alerts: webhook " + shown_ + " failed " +
                                           std::to_string(attempt) + " times (" + outcome.failure +
                                           "); the " + topic + " alert to it is dropped"
                                     : "Alerts: webhook " + shown_ + " refused the " + topic +
                                           " alert (" + outcome.failure +
                                           "); it is dropped without another try");
        }
    }

    // Waits up to `seconds` unless stopped; false when stopped.
    bool pause(double seconds) {
        std::unique_lock lock(mutex_);
        wake_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return stopping_; });
        return !stopping_;
    }

    Outcome post(const std::string& json) {
        CURL* curl = curl_easy_init();
        if (!curl) return {"no HTTP client", true};
        curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
        curl_easy_setopt(curl, CURLOPT_URL, url_.c_str());
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, json.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(json.size()));
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_USERAGENT, "velkantor");
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        const auto timeout_ms = static_cast<long>(options_.timeout_seconds * 1000);
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeout_ms);
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, timeout_ms);
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &discard);
        // A stop abandons a POST under way instead of waiting out its timeout.
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
        curl_easy_setopt(
            curl, CURLOPT_XFERINFOFUNCTION,
            +[](void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) -> int {
                auto* sender = static_cast<Sender*>(self);
                std::lock_guard lock(sender->mutex_);
                return sender->stopping_ ? 1 : 0;
            });
        Outcome outcome;
        // curl's own words name no address, so they may go to the log as they are.
        CURLcode rc = curl_easy_perform(curl);
        if (rc != CURLE_OK) {
            outcome = {curl_easy_strerror(rc), true};
        } else {
            long status = 0;
            curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
            if (status < 200 || status > 299) {
                // Busy, rate-limited or failing for now; a wrong address or token stays wrong.
                bool transient = status == 408 || status == 429 || status >= 500;
                outcome = {"HTTP status " + std::to_string(status), transient};
            }
        }
        curl_slist_free_all(headers);
        curl_easy_cleanup(curl);
        return outcome;
    }

    const std::string url_;
    const std::string shown_;
    const Options& options_;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    alerts::AlertQueue queue_;
    bool stopping_ = false;
    uint64_t given_up_ = 0;
    std::vector<std::string> log_lines_;
};

WebhookAlerts::WebhookAlerts(Options options) : options_(std::move(options)) {
    for (const auto& url : options_.urls)
        senders_.push_back(std::make_unique<Sender>(url, options_));
}

WebhookAlerts::~WebhookAlerts() {
    stop();
}

void WebhookAlerts::start() {
    std::call_once(curl_once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    for (auto& sender : senders_) sender->start();
}

void WebhookAlerts::stop() {
    for (auto& sender : senders_) sender->stop();
}

void WebhookAlerts::send(const alerts::Alert& alert) {
    for (auto& sender : senders_) sender->send(alert);
}

uint64_t WebhookAlerts::dropped() const {
    uint64_t total = 0;
    for (const auto& sender : senders_) total += sender->dropped();
    return total;
}

uint64_t WebhookAlerts::queue_dropped() const {
    uint64_t total = 0;
    for (const auto& sender : senders_) total += sender->queue_dropped();
    return total;
}

std::vector<std::string> WebhookAlerts::take_log_lines() {
    std::vector<std::string> lines;
    for (auto& sender : senders_) sender->take_log_lines(lines);
    return lines;
}

}  // namespace velkantor::platform
