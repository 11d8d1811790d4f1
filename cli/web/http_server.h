// `tovrikctl serve --http`: the front panel, the LXI identification and the JSON API.
//
// HTTP is Boost.Beast's: Debian's cpp-httplib is built as a shared library against OpenSSL,
// brotli and zlib, which neither the Windows cross build can link nor a tovrikctl started
// hundreds of times by scripts should load; Beast is header-only. Beast needs Boost.Asio, which
// cannot share a file with the standalone Asio the instrument runs on, so this header names
// neither, and the web front end has a thread of its own (the web thread) that hands every
// instrument request to the instrument's thread through the Panel.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tovrik::cli::web {

class Panel;

// Connections at once, the event streams among them; beyond, a new one is closed.
inline constexpr std::size_t kMaxHttpConnections = 16;
inline constexpr std::size_t kMaxEventStreams = 8;
// Request line and headers; a body (only the API's small JSON ones are read).
inline constexpr std::size_t kMaxHeaderBytes = 8192;
inline constexpr std::size_t kMaxBodyBytes = 4096;

struct HttpOptions {
    std::string address;  // to listen on
    unsigned short port = 0;
    std::string token;  // writes need "Authorization: Bearer <token>"
    std::function<bool(const std::string& address)> allowed;  // whether a client may in
    std::function<void(std::string line)> log;                // on the instrument's thread
    unsigned short rawPort = 5025;                            // named in the LXI identification
};

// A fresh token from the operating system's random source.
std::string RandomToken();

class HttpServer {
  public:
    // Listens at once (throws std::system_error when it cannot). The panel lives on the
    // instrument's thread and must outlive the server.
    HttpServer(Panel& panel, HttpOptions options);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    unsigned short port() const;
    void Start();
    // Closes every connection and ends the web thread; on the instrument's thread.
    void Stop();

    class Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace tovrik::cli::web
