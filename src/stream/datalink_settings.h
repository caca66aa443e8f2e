#pragma once

#include <string>
#include <vector>

#include "config/network_ini.h"

namespace velkantor::stream {

// `[datalink]` of network.ini: the server the station pushes its records to.
struct DataLinkSettings {
    bool enabled = false;
    std::string host;
    int port = 0;
    // Who the station says it is to the server (the user part of its ID); empty: NET_STA.
    std::string client_id;
    // Records not acknowledged are sent later from the miniSEED archive (when there is one).
    bool backfill = true;
    // Records per second the backfill may send beside the live ones.
    double backfill_rate = 20;
    // Written records the server has not acknowledged this long mean it is gone.
    double timeout_seconds = 30;
};

// Reads [datalink] with the command line's --datalink (for `server`). A bad value is a line in
// `problems` and leaves the sender off.
DataLinkSettings ParseDataLinkSettings(const config::IniFile& ini,
                                       std::vector<std::string>& problems,
                                       const config::NetworkOptions& options = {});

}  // namespace velkantor::stream
