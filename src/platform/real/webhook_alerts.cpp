#include "platform/real/webhook_alerts.h"

#include <curl/curl.h>

#include <chrono>

namespace velkantor::platform {

namespace {

std::once_flag curl_once;

size_t discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

}  // namespace

WebhookAlerts::WebhookAlerts(Options options)
    : options_(std::move(options)), queue_(options_.queue) {}

WebhookAlerts::~WebhookAlerts() {
    stop();
}

void WebhookAlerts::start() {
    std::call_once(curl_once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    if (thread_.joinable()) return;
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
}

void WebhookAlerts::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void WebhookAlerts::send(const alerts::Alert& alert) {
    {
        std::lock_guard lock(mutex_);
        queue_.push(alert);
    }
    wake_.notify_one();
}

uint64_t WebhookAlerts::dropped() const {
    std::lock_guard lock(mutex_);
    return queue_.dropped() + given_up_;
}

uint64_t WebhookAlerts::queue_dropped() const {
    std::lock_guard lock(mutex_);
    return queue_.dropped();
}

std::vector<std::string> WebhookAlerts::take_log_lines() {
    std::lock_guard lock(mutex_);
    std::vector<std::string> lines;
    lines.swap(log_lines_);
    return lines;
}

bool WebhookAlerts::pause(double seconds) {
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return stopping_; });
    return !stopping_;
}

void WebhookAlerts::run() {
    for (;;) {
        alerts::Alert alert;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            alert = *queue_.pop();
        }
        for (const auto& url : options_.urls) {
            std::string failure;
            double wait = options_.first_pause_seconds;
            for (int attempt = 1; attempt <= options_.attempts; ++attempt) {
                failure = post(url, alert.json);
                if (failure.empty() || attempt == options_.attempts) break;
                if (!pause(wait)) return;
                wait *= 2;
            }
            if (!failure.empty()) {
                std::lock_guard lock(mutex_);
                ++given_up_;
                log_lines_.push_back("Alerts: webhook " + url + " failed " +
                                     std::to_string(options_.attempts) + " times (" + failure +
                                     "); the " + alerts::topic_name(alert.topic) +
                                     " alert to it is dropped");
            }
        }
    }
}

std::string WebhookAlerts::post(const std::string& url, const std::string& json) {
    CURL* curl = curl_easy_init();
    if (!curl) return "no HTTP client";
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, json.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(json.size()));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "velkantor");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(options_.timeout_seconds * 1000));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(options_.timeout_seconds * 1000));
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &discard);
    // A stop abandons a POST under way instead of waiting out its timeout.
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(
        curl, CURLOPT_XFERINFOFUNCTION,
        +[](void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) -> int {
            auto* w = static_cast<WebhookAlerts*>(self);
            std::lock_guard lock(w->mutex_);
            return w->stopping_ ? 1 : 0;
        });
    std::string failure;
    CURLcode rc = curl_easy_perform(curl);
    if (rc != CURLE_OK) {
        failure = curl_easy_strerror(rc);
    } else {
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        if (status < 200 || status > 299) failure = "HTTP status " + std::to_string(status);
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return failure;
}

}  // namespace velkantor::platform
