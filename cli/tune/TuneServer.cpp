#include "cli/tune/TuneServer.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <new>
#include <string>
#include <utility>

#include "cli/ExitCodes.h"
#include "cli/tune/PageAssets.h"
#include "cli/tune/Query.h"
#include "cli/tune/Token.h"
#include "cli/tune/TuneSession.h"

namespace kcli {
namespace {

// Nothing the page or the API sends comes near these.
constexpr std::size_t MAX_QUERY_BYTES = 2048;
constexpr std::size_t MAX_HEADERS = 64;
constexpr std::size_t MAX_BODY_BYTES = 4096;
// The plug-in renders one frame at a time; a few threads let a pick or a
// readout be read while a render is encoded, and bound what waits.
constexpr std::size_t SERVER_THREADS = 4;
// The largest eyedropper disc, in pixels.
constexpr int MAX_PICK_RADIUS = 64;

class HttpError : public std::runtime_error {
public:
    HttpError(int status, const std::string& reason) : std::runtime_error(reason), status(status) {}
    int status;
};

void reply(httplib::Response& res, int status, const std::string& reason) {
    res.status = status;
    res.set_content(reason + "\n", "text/plain; charset=utf-8");
}

// Refuses a request that did not come from the page as this server made
// it, before any route sees it.
class Guard {
public:
    Guard(std::string token) : token_(std::move(token)) {}
    void setPort(int port) {
        hosts_ = {"127.0.0.1:" + std::to_string(port), "localhost:" + std::to_string(port)};
        origins_ = {"http://" + hosts_[0], "http://" + hosts_[1]};
    }

    // Empty when the request may proceed, else why not (with its status).
    std::pair<int, std::string> check(const httplib::Request& req) const {
        if (req.headers.size() > MAX_HEADERS) return {431, "too many request headers"};
        const std::size_t q = req.target.find('?');
        if (q != std::string::npos && req.target.size() - q - 1 > MAX_QUERY_BYTES)
            return {414, "the query is longer than " + std::to_string(MAX_QUERY_BYTES) + " bytes"};
        // A page elsewhere that had its own name resolve to 127.0.0.1 (DNS
        // rebinding) still sends that name here.
        if (req.get_header_value_count("Host") != 1 || !oneOf(req.get_header_value("Host"), hosts_))
            return {403, "the Host header must be " + hosts_[0]};
        if (req.has_header("Origin") && !oneOf(req.get_header_value("Origin"), origins_))
            return {403, "cross-origin requests are refused"};
        const std::string site = req.get_header_value("Sec-Fetch-Site");
        if (site == "cross-site" || site == "same-site")
            return {403, "cross-origin requests are refused"};
        if (req.get_param_value_count("token") != 1 ||
            !sameToken(req.get_param_value("token"), token_))
            return {403, "a valid token is required (open the address the tool printed)"};
        return {0, {}};
    }

    const std::string& token() const { return token_; }

private:
    static bool oneOf(const std::string& v, const std::vector<std::string>& set) {
        for (const std::string& s : set)
            if (v == s) return true;
        return false;
    }
    std::string token_;
    std::vector<std::string> hosts_, origins_;
};

template <typename F>
httplib::Server::Handler answered(F f) {
    return [f](const httplib::Request& req, httplib::Response& res) {
        try {
            f(req, res);
        } catch (const HttpError& e) {
            reply(res, e.status, e.what());
        } catch (const BadRequest& e) {
            reply(res, 400, e.what());
        } catch (const Failure& e) {
            reply(res, e.code() == EXIT_BAD_INPUT ? 400 : 500, e.what());
        } catch (const std::bad_alloc&) {
            reply(res, 503, "out of memory");
        } catch (const std::exception& e) {
            reply(res, 500, std::string("internal error: ") + e.what());
        } catch (...) {
            reply(res, 500, "internal error");
        }
    };
}

int frameOf(const TuneSession& s, const Query& q) {
    const int frame = q.integer("frame", s.defaultFrame(), 0, 999999999);
    if (!s.hasFrame(frame))
        throw BadRequest("frame: " + std::to_string(frame) + " is not one of the input's frames");
    return frame;
}

void json(httplib::Response& res, const std::string& body) {
    res.set_content(body, "application/json");
}

// "checker" or a colour: the API never names a file to read.
std::string overOf(const Query& q) {
    const std::string* over = q.find("over");
    if (!over || over->empty()) return {};
    if (*over == "checker") return *over;
    if ((*over)[0] == '#') {
        try {
            parseKeyColor(*over);
            return *over;
        } catch (const Failure&) {
        }
    }
    throw BadRequest("over: '" + *over + "' is not checker or #rrggbb");
}

}  // namespace

struct TuneServer::Impl {
    TuneSession& session;
    Guard guard;
    httplib::Server server;

    Impl(TuneSession& s, std::string token) : session(s), guard(std::move(token)) {
        server.new_task_queue = [] { return new httplib::ThreadPool(SERVER_THREADS); };
        server.set_payload_max_length(MAX_BODY_BYTES);
        server.set_keep_alive_timeout(2);
        server.set_read_timeout(5);
        server.set_write_timeout(5);
        server.set_default_headers({
            {"Cache-Control", "no-store"},
            {"X-Content-Type-Options", "nosniff"},
            {"Referrer-Policy", "no-referrer"},
            {"X-Frame-Options", "DENY"},
            {"Cross-Origin-Resource-Policy", "same-origin"},
            {"Cross-Origin-Opener-Policy", "same-origin"},
            {"Content-Security-Policy",
             "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' blob:; "
             "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
        });
        server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
            const auto [status, reason] = guard.check(req);
            if (status == 0) return httplib::Server::HandlerResponse::Unhandled;
            reply(res, status, reason);
            return httplib::Server::HandlerResponse::Handled;
        });
        server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
            if (res.body.empty())
                reply(res, res.status, res.status == 404 ? "no such page" : "request refused");
        });
        routes();
    }

    void routes() {
        server.Get("/", answered([this](const httplib::Request& req, httplib::Response& res) {
                       Query(req.params, {"token"});
                       const PageAsset* page = findPageAsset("/index.html");
                       std::string html(reinterpret_cast<const char*>(page->data), page->size);
                       // The page's own files are asked for with the token too.
                       for (std::size_t at; (at = html.find("%TOKEN%")) != std::string::npos;)
                           html.replace(at, 7, guard.token());
                       res.set_content(html, page->contentType);
                   }));
        server.Get("/(tune\\.css|tune\\.js)",
                   answered([](const httplib::Request& req, httplib::Response& res) {
                       Query(req.params, {"token"});
                       const PageAsset* a = findPageAsset(req.path);
                       if (!a) throw HttpError(404, "no such page");
                       res.set_content(reinterpret_cast<const char*>(a->data), a->size,
                                       a->contentType);
                   }));
        server.Get("/api/info",
                   answered([this](const httplib::Request& req, httplib::Response& res) {
                       Query(req.params, {"token"});
                       json(res, session.infoJson());
                   }));
        server.Get(
            "/api/render", answered([this](const httplib::Request& req, httplib::Response& res) {
                const Query q(req.params,
                              {"token", KCLI_CONTROL_KEYS, "over", "frame", "scale", "client"});
                RenderRequest r;
                r.controls = controlsOf(q);
                r.frame = frameOf(session, q);
                r.scale = q.number("scale", 1.0, 0.0, 1.0);
                if (!(r.scale > 0.0)) throw BadRequest("scale: must be above 0 (0 < scale <= 1)");
                r.over = overOf(q);
                if (const std::string* c = q.find("client")) r.client = *c;
                const auto png = session.renderPng(r);
                if (!png) throw HttpError(409, "superseded by a newer render of the same client");
                res.set_content(reinterpret_cast<const char*>(png->data()), png->size(),
                                "image/png");
            }));
        server.Get("/api/pick",
                   answered([this](const httplib::Request& req, httplib::Response& res) {
                       const Query q(req.params, {"token", "x", "y", "r", "frame"});
                       if (!q.find("x") || !q.find("y")) throw BadRequest("x and y are required");
                       const int x = q.integer("x", 0, 0, session.width() - 1);
                       const int y = q.integer("y", 0, 0, session.height() - 1);
                       const int r = q.integer("r", 4, 0, MAX_PICK_RADIUS);
                       json(res, session.pickJson(frameOf(session, q), x, y, r));
                   }));
        server.Get("/api/auto",
                   answered([this](const httplib::Request& req, httplib::Response& res) {
                       const Query q(req.params, {"token", "frame"});
                       const auto found = session.autoKeyJson(frameOf(session, q));
                       if (!found)
                           throw HttpError(422, "no green or blue screen found in this frame");
                       json(res, *found);
                   }));
        server.Get("/api/pixel",
                   answered([this](const httplib::Request& req, httplib::Response& res) {
                       const Query q(req.params, {"token", KCLI_CONTROL_KEYS, "x", "y", "frame"});
                       if (!q.find("x") || !q.find("y")) throw BadRequest("x and y are required");
                       const int x = q.integer("x", 0, 0, session.width() - 1);
                       const int y = q.integer("y", 0, 0, session.height() - 1);
                       json(res, session.pixelJson(controlsOf(q), frameOf(session, q), x, y));
                   }));
        server.Get("/api/settings",
                   answered([this](const httplib::Request& req, httplib::Response& res) {
                       Query(req.params, {"token"});
                       json(res, session.settingsJson());
                   }));
        server.Post("/api/settings",
                    answered([this](const httplib::Request& req, httplib::Response& res) {
                        const Query q(req.params, {"token", KCLI_CONTROL_KEYS});
                        if (!req.body.empty())
                            throw BadRequest("the settings go in the query, not the body");
                        if (!session.savesSettings())
                            throw HttpError(
                                409, "no settings file was named: start tune with --settings FILE");
                        const std::string path = session.saveSettings(controlsOf(q));
                        json(res, nlohmann::json{{"saved", path}}.dump());
                    }));
    }
};

TuneServer::TuneServer(TuneSession& session, std::string token)
    : impl_(std::make_unique<Impl>(session, std::move(token))) {}

TuneServer::~TuneServer() = default;

int TuneServer::bind(int port) {
    const int bound = port == 0 ? impl_->server.bind_to_any_port("127.0.0.1")
                                : (impl_->server.bind_to_port("127.0.0.1", port) ? port : -1);
    if (bound <= 0)
        throw Failure(EXIT_IO, "--port: cannot listen on 127.0.0.1:" + std::to_string(port) +
                                   " (in use? try another, or leave --port out for a free one)");
    impl_->guard.setPort(bound);
    return bound;
}

bool TuneServer::run() { return impl_->server.listen_after_bind(); }

void TuneServer::stop() { impl_->server.stop(); }

}  // namespace kcli
