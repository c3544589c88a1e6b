// Control and inspection endpoints for tests, on the HTTP listener only. They are not
// recorded in the request log, so a test's own questions never show up in the answers.

#include "Json.h"
#include "Routes.h"
#include "ServiceState.h"

#include <charconv>
#include <httplib.h>

namespace standin {
namespace {

const char* const kJsonType = "application/json; charset=utf-8";

void ok(httplib::Response& res) {
    res.set_content("{\"ok\":true}", kJsonType);
}

void badRequest(httplib::Response& res, const std::string& why) {
    res.status = 400;
    JsonWriter w;
    w.beginObject().field("ok", false).field("error", why).endObject();
    res.set_content(w.str(), kJsonType);
}

int intParam(const httplib::Request& req, const char* name, int fallback) {
    if (!req.has_param(name)) {
        return fallback;
    }
    const std::string text = req.get_param_value(name);
    int value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return (result.ec == std::errc() && result.ptr == text.data() + text.size()) ? value : fallback;
}

using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

// Mutating endpoints answer POST, and GET too so they can be tried from a browser.
void both(httplib::Server& server, const std::string& path, const Handler& handler) {
    server.Post(path, handler);
    server.Get(path, handler);
}

} // namespace

void registerControlRoutes(httplib::Server& server, ServiceState& state) {
    server.Get("/control/requests", [&state](const httplib::Request&, httplib::Response& res) {
        JsonWriter w;
        w.beginArray();
        for (const RequestRecord& r : state.requests()) {
            w.beginObject();
            w.field("scheme", r.scheme);
            w.field("method", r.method);
            w.field("path", r.path);
            w.field("query", r.query);
            w.field("target", r.target);
            if (!r.range.empty()) {
                w.field("range", r.range);
            }
            if (!r.acceptEncoding.empty()) {
                w.field("accept_encoding", r.acceptEncoding);
            }
            w.endObject();
        }
        w.endArray();
        res.set_content(w.str(), kJsonType);
    });

    both(server, "/control/reset", [&state](const httplib::Request&, httplib::Response& res) {
        state.reset();
        ok(res);
    });

    both(server, "/control/next-api-error",
         [&state](const httplib::Request& req, httplib::Response& res) {
             const int code = intParam(req, "code", 0);
             if (code <= 0) {
                 badRequest(res, "code must be a positive number");
                 return;
             }
             const std::string method =
                 req.has_param("method") ? req.get_param_value("method") : "";
             state.queueApiError(code, method, intParam(req, "count", 1));
             ok(res);
         });

    both(server, "/control/expire-tokens",
         [&state](const httplib::Request&, httplib::Response& res) {
             state.expireAllTokens();
             ok(res);
         });

    both(server, "/control/feed", [&state](const httplib::Request& req, httplib::Response& res) {
        state.setFeedLogoutLink(intParam(req, "logout_link", 1) != 0);
        ok(res);
    });

    both(server, "/control/empty-token",
         [&state](const httplib::Request& req, httplib::Response& res) {
             state.queueEmptyTokens(intParam(req, "count", 1));
             ok(res);
         });

    server.Get("/control/library", [&state](const httplib::Request&, httplib::Response& res) {
        JsonWriter w;
        w.beginArray();
        for (const Song& song : state.library().songs()) {
            w.beginObject();
            writeSongFields(w, song, state.origins().http);
            w.field("path", song.path);
            w.field("size", static_cast<std::int64_t>(song.size));
            w.endObject();
        }
        w.endArray();
        res.set_content(w.str(), kJsonType);
    });

    server.Get("/control/captchas", [&state](const httplib::Request&, httplib::Response& res) {
        JsonWriter w;
        w.beginArray();
        for (const Captcha& c : state.captchas()) {
            w.beginObject().field("sid", c.sid).field("key", c.key).field("solved", c.solved);
            w.endObject();
        }
        w.endArray();
        res.set_content(w.str(), kJsonType);
    });

    server.Get("/control/status", [&state](const httplib::Request&, httplib::Response& res) {
        const ProfileStatus status = state.status();
        JsonWriter w;
        w.beginObject()
            .field("text", status.text)
            .field("audio", status.audio)
            .field("updates", status.updates)
            .endObject();
        res.set_content(w.str(), kJsonType);
    });
}

} // namespace standin
