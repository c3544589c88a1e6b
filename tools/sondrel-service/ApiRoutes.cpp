// The service API: /method/<name> answers one JSON object, {"response": ...} or
// {"error": {"error_code": N, ...}}, always with HTTP status 200. Also the captcha
// pictures that error 14 points to.

#include "CaptchaImage.h"
#include "Files.h"
#include "Json.h"
#include "Routes.h"
#include "ServiceState.h"

#include <algorithm>
#include <charconv>
#include <httplib.h>

namespace standin {
namespace {

constexpr int kMaxSearchCount = 200;
constexpr int kDefaultSearchCount = 30;
const char* const kJsonType = "application/json; charset=utf-8";

const char* errorMessage(int code) {
    switch (code) {
    case 1:
        return "Unknown error occurred";
    case 3:
        return "Unknown method passed";
    case 5:
        return "User authorization failed: invalid access_token.";
    case 6:
        return "Too many requests per second";
    case 10:
        return "Internal server error";
    case 14:
        return "Captcha needed";
    case 15:
        return "Access denied";
    case 100:
        return "One of the parameters specified was missing or invalid";
    default:
        return "Error";
    }
}

std::string param(const httplib::Request& req, const char* name) {
    return req.has_param(name) ? req.get_param_value(name) : std::string();
}

bool toInt64(const std::string& text, std::int64_t& out) {
    const auto* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, out);
    return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

void answerError(ServiceState& state, const httplib::Request& req, httplib::Response& res,
                 const std::string& method, int code, const std::string& detail = {}) {
    JsonWriter w;
    w.beginObject().key("error").beginObject();
    w.field("error_code", code);
    w.field("error_msg", detail.empty() ? std::string(errorMessage(code))
                                        : std::string(errorMessage(code)) + ": " + detail);
    w.key("request_params").beginArray();
    w.beginObject().field("key", "method").field("value", method).endObject();
    for (const auto& [key, value] : req.params) {
        if (key != "access_token" && key != "captcha_key") {
            w.beginObject().field("key", key).field("value", value).endObject();
        }
    }
    w.endArray();
    if (code == 14) {
        const Captcha captcha = state.newCaptcha();
        w.field("captcha_sid", captcha.sid);
        w.field("captcha_img", state.origins().http + "/captcha.php?sid=" + captcha.sid + "&s=1");
    }
    w.endObject().endObject();
    res.set_content(w.str(), kJsonType);
}

void answerResponse(httplib::Response& res, const std::string& responseJson) {
    res.set_content("{\"response\":" + responseJson + "}", kJsonType);
}

void writeSong(JsonWriter& w, const Song& song, const std::string& httpOrigin) {
    w.beginObject();
    writeSongFields(w, song, httpOrigin);
    w.endObject();
}

// The count/offset window of `songs`.
std::vector<const Song*> window(const std::vector<const Song*>& songs, const httplib::Request& req,
                                std::int64_t defaultCount, std::int64_t maxCount) {
    std::int64_t count = defaultCount;
    std::int64_t offset = 0;
    if (std::int64_t v = 0; toInt64(param(req, "count"), v)) {
        count = v;
    }
    if (std::int64_t v = 0; toInt64(param(req, "offset"), v)) {
        offset = v;
    }
    count = std::clamp<std::int64_t>(count, 0, maxCount);
    offset = std::clamp<std::int64_t>(offset, 0, static_cast<std::int64_t>(songs.size()));
    const auto first = songs.begin() + offset;
    const auto last = first + std::min<std::int64_t>(count, songs.end() - first);
    return {first, last};
}

void audioGet(ServiceState& state, const httplib::Request& req, httplib::Response& res,
              std::int64_t userId) {
    std::vector<const Song*> own;
    std::int64_t owner = userId;
    if (std::int64_t v = 0; toInt64(param(req, "owner_id"), v)) {
        owner = v;
    }
    for (const Song& song : state.library().songs()) {
        if (song.ownerId == owner) {
            own.push_back(&song);
        }
    }
    const auto all = static_cast<std::int64_t>(own.size());
    JsonWriter w;
    w.beginArray();
    for (const Song* song : window(own, req, all, all)) {
        writeSong(w, *song, state.origins().http);
    }
    w.endArray();
    answerResponse(res, w.str());
}

void audioSearch(ServiceState& state, const httplib::Request& req, httplib::Response& res) {
    if (!req.has_param("q")) {
        answerError(state, req, res, "audio.search", 100, "q is undefined");
        return;
    }
    const auto found = state.library().search(param(req, "q"));
    JsonWriter w;
    w.beginArray();
    w.value(static_cast<std::int64_t>(found.size()));
    for (const Song* song : window(found, req, kDefaultSearchCount, kMaxSearchCount)) {
        writeSong(w, *song, state.origins().http);
    }
    w.endArray();
    answerResponse(res, w.str());
}

// status.set: "text" and "audio" ("<owner>_<aid>") set the status, an empty text
// without audio clears it. captcha_sid/captcha_key answer an earlier captcha demand.
void statusSet(ServiceState& state, const httplib::Request& req, httplib::Response& res) {
    const std::string audio = param(req, "audio");
    const std::string text = param(req, "text");
    if (!audio.empty()) {
        const auto underscore = audio.find('_');
        std::int64_t owner = 0;
        std::int64_t aid = 0;
        if (underscore == std::string::npos || !toInt64(audio.substr(0, underscore), owner) ||
            !toInt64(audio.substr(underscore + 1), aid) || state.library().find(aid) == nullptr) {
            answerError(state, req, res, "status.set", 100, "audio is invalid");
            return;
        }
    }
    const bool setsSong = !audio.empty();
    if (req.has_param("captcha_sid")) {
        if (!state.solveCaptcha(param(req, "captcha_sid"), param(req, "captcha_key"))) {
            answerError(state, req, res, "status.set", 14);
            return;
        }
    } else if (setsSong && state.countStatusSetForCaptcha()) {
        answerError(state, req, res, "status.set", 14);
        return;
    }
    state.setStatus(text, audio);
    answerResponse(res, "1");
}

// The lyrics the service holds for `song`, as the service sends them: HTML entities for
// the characters that need them, "\n" between lines. Demo songs have a few generated
// lines; a library song has the text of the ".txt" file beside its MP3, if there is one.
std::string lyricsText(const Song& song) {
    if (song.toneHz != 0) {
        return song.title + "\nA pure tone of " + std::to_string(song.toneHz) +
               " Hz &amp; nothing else\nIt&#39;s &quot;quiet&quot; &lt;3";
    }
    const auto dot = song.path.rfind('.');
    const auto text = readWholeFile(song.path.substr(0, dot) + ".txt");
    if (!text) {
        return {};
    }
    std::string escaped;
    for (const char c : *text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\r':
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

// audio.getLyrics: {"lyrics_id": N, "text": "..."}; an empty text when the song has none.
void audioGetLyrics(ServiceState& state, const httplib::Request& req, httplib::Response& res) {
    std::int64_t id = 0;
    const Song* found = nullptr;
    if (toInt64(param(req, "lyrics_id"), id)) {
        for (const Song& song : state.library().songs()) {
            if (song.lyricsId == id) {
                found = &song;
                break;
            }
        }
    }
    if (found == nullptr) {
        answerError(state, req, res, "audio.getLyrics", 100, "lyrics_id is invalid");
        return;
    }
    JsonWriter w;
    w.beginObject().field("lyrics_id", id).field("text", lyricsText(*found)).endObject();
    answerResponse(res, w.str());
}

void handleMethod(ServiceState& state, const httplib::Request& req, httplib::Response& res) {
    const std::string method = req.matches[1].str();
    if (const int code = state.takeApiError(method); code != 0) {
        answerError(state, req, res, method, code);
        return;
    }
    const auto user = state.userForToken(param(req, "access_token"));
    if (!user) {
        answerError(state, req, res, method, 5);
        return;
    }
    if (method == "audio.get") {
        audioGet(state, req, res, *user);
    } else if (method == "audio.search") {
        audioSearch(state, req, res);
    } else if (method == "audio.getLyrics") {
        audioGetLyrics(state, req, res);
    } else if (method == "status.set") {
        statusSet(state, req, res);
    } else {
        answerError(state, req, res, method, 3);
    }
}

} // namespace

void registerApiRoutes(httplib::Server& server, ServiceState& state) {
    const auto handler = [&state](const httplib::Request& req, httplib::Response& res) {
        handleMethod(state, req, res);
    };
    server.Get(R"(/method/([A-Za-z0-9_.]+))", handler);
    server.Post(R"(/method/([A-Za-z0-9_.]+))", handler);

    server.Get("/captcha.php", [&state](const httplib::Request& req, httplib::Response& res) {
        const auto captcha = state.captcha(param(req, "sid"));
        if (!captcha) {
            res.status = 404;
            res.set_content("unknown captcha", "text/plain");
            return;
        }
        res.set_header("Cache-Control", "no-store");
        res.set_content(renderCaptchaPng(captcha->key, captcha->sid), "image/png");
    });
}

} // namespace standin
