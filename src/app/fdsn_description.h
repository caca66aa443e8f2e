#pragma once

#include <memory>
#include <string>
#include <vector>

#include "runtime/service_port.h"
#include "web/fdsn_station.h"
#include "web/web_settings.h"

namespace velkantor::app {

// The station as the FDSN station service describes it: its codes, place and channels with
// their responses, from the settings as they are now. A channel's epoch begins when its
// description last changed: kept in the station folder's fdsn-epochs.txt across runs, and
// taken from the settings file's time when a change is first seen. Engine thread.
class StationDescriber {
public:
    explicit StationDescriber(runtime::ServicePort& station);
    std::shared_ptr<const web::fdsn::StationInfo> describe(const web::WebSettings& settings);

private:
    runtime::ServicePort& station_;
    std::string path_;
    std::vector<web::fdsn::EpochEntry> epochs_;
    bool told_unwritable_ = false;
};

// Microseconds since 1970 of the system clock.
web::fdsn::MicroTime system_now();

}  // namespace velkantor::app
