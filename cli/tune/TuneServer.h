// The tune page's HTTP server: loopback only, every request checked for the
// token, the Host header and cross-origin use before any route sees it.
#pragma once

#include <memory>
#include <string>

namespace kcli {

class TuneSession;

class TuneServer {
public:
    TuneServer(TuneSession& session, std::string token);
    ~TuneServer();
    TuneServer(const TuneServer&) = delete;
    TuneServer& operator=(const TuneServer&) = delete;

    // Binds 127.0.0.1:port (0: a free port) and returns the port. Throws
    // Failure naming --port when the port cannot be had.
    int bind(int port);
    // Serves until stop(); returns false if serving failed.
    bool run();
    // Safe from any thread.
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kcli
