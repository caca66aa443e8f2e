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
//
// Files go out from disk in chunks; all connections together hold at most
// `file_buffer_bytes` of them, and a download lives as long as its bytes keep flowing (each
// write gets `idle` anew). When every connection slot is taken, the one that has waited
// longest for a request is closed to let a newcomer in: idle connections never lock the
// page; only connections busy answering make a newcomer hear 503.
class WebServer {
public:
    struct Limits {
        int connections = 32;
        size_t header_bytes = 8192;
        int header_fields = 64;
        size_t body_bytes = 1024;
        std::chrono::milliseconds idle{15000};
        size_t file_chunk_bytes = 64 * 1024;
        size_t file_buffer_bytes = 2 * 1024 * 1024;
    };
    // File bytes read from disk and not yet taken by the sockets, now and at most so far.
    struct Stats {
        size_t file_bytes_buffered = 0;
        size_t file_bytes_buffered_peak = 0;
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
    // Any thread.
    Stats stats() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace velkantor::platform
