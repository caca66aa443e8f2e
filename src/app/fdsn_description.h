#pragma once

#include <memory>

#include "acquisition/service_port.h"
#include "web/fdsn_station.h"
#include "web/web_settings.h"

namespace velkantor::app {

// The station as the FDSN station service describes it: its codes, place and channels with
// their responses, from the settings as they are now. Engine thread.
std::shared_ptr<const web::fdsn::StationInfo> describe_station(acquisition::ServicePort& station,
                                                               const web::WebSettings& settings);

// Microseconds since 1970 of the system clock.
web::fdsn::MicroTime system_now();

}  // namespace velkantor::app
