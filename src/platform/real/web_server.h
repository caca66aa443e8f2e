#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "web/router.h"

namespace velkantor::platform {

// The station's web page on one service thread (Boost.Beast HTTP/1.1). Requests are read
// with bounded size, header count and time; every answer comes from `handler`, called on the
// service thread. The engine talks to it only through what the handler reads.
class WebServer {
  public:
    struct Limits {
        int connections = 32;
        size_t header_bytes = 8192;
        int header_fields = 64;
        size_t body_bytes = 1024;
        std::chrono::milliseconds idle{15000};
    };
    using Handler = std::function<web::Response(const web::Request&)>;

    WebServer(Handler handler, Limits limits);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Binds and starts the thread. Empty text, or why not (a port in use).
    std::string start(const std::string& address, int port);
    void stop();
    // The bound port (useful with port 0).
    int port() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace velkantor::platform
