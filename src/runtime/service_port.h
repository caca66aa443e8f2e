#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "config/settings.h"
#include "platform/clock.h"
#include "platform/devices.h"
#include "platform/file_system.h"
#include "runtime/run_state.h"
#include "runtime/second_sink.h"
#include "runtime/station_observer.h"

namespace velkantor::runtime {

// A hook held by a service: released (the hook no longer called) when the registration is
// destroyed or reset. Move-only.
class Registration {
public:
    Registration() = default;
    explicit Registration(std::function<void()> release) : release_(std::move(release)) {}
    Registration(Registration&& other) noexcept : release_(std::move(other.release_)) {
        other.release_ = nullptr;
    }
    Registration& operator=(Registration&& other) noexcept {
        if (this != &other) {
            reset();
            release_ = std::move(other.release_);
            other.release_ = nullptr;
        }
        return *this;
    }
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;
    ~Registration() { reset(); }

    void reset() {
        if (release_) {
            auto release = std::move(release_);
            release_ = nullptr;
            release();
        }
    }
    bool active() const { return static_cast<bool>(release_); }

private:
    std::function<void()> release_;
};

// What the services that publish the station (the records, the page, the alerts) see of it:
// the run's facts and the settings, read-only, the files of the station folder, the event
// log to write to, and the moments they may hook into. Nothing here changes how the station
// acquires. Everything is called on the engine's thread; a hook must never wait.
class ServicePort {
public:
    virtual ~ServicePort() = default;

    virtual const config::Settings& settings() const = 0;
    virtual const RunState& run() const = 0;
    virtual bool in_run() const = 0;
    virtual const std::string& folder() const = 0;
    virtual const platform::Clock& clock() const = 0;
    // The platform's files: the services write their own (the archive, event copies).
    virtual platform::FileSystem& fs() const = 0;
    virtual const platform::Devices& devices() const = 0;
    // The acquisition clock's current whole second (epoch seconds of the board time).
    virtual double acquisition_second() const = 0;
    // "L" while the time receiver keeps the board clock locked, "N" otherwise.
    virtual std::string lock_text() const = 0;
    // "DCF" or "GPS".
    virtual std::string time_reference() const = 0;
    // The board time minus UTC, in seconds, of the last board second.
    virtual int utc_offset() const = 0;
    virtual std::string event_log_path() const = 0;

    virtual void log(std::string_view line) = 0;

    // Once a second, after the station's own housekeeping.
    virtual Registration on_second(std::function<void()> hook) = 0;
    // Each event file as it is finished (channel, path): its bytes are final.
    virtual Registration on_event_file(std::function<void(int, const std::string&)> hook) = 0;
    // Events, alarms, a lost board and the disk check (one observer at a time).
    virtual Registration observe(StationObserver& observer) = 0;
    // Every second of samples as the datalog writes them (one sink at a time).
    virtual Registration take_seconds(SecondSink& sink) = 0;
};

}  // namespace velkantor::runtime
