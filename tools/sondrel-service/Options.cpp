#include "Options.h"

#include "Files.h"

#include <charconv>
#include <functional>
#include <map>

namespace standin {
namespace {

bool parseInt(const std::string& text, std::int64_t min, std::int64_t max, std::int64_t& out) {
    std::int64_t value = 0;
    const auto* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (text.empty() || result.ec != std::errc() || result.ptr != end || value < min ||
        value > max) {
        return false;
    }
    out = value;
    return true;
}

} // namespace

std::string usageText() {
    return R"(Usage: sondrel-service [OPTIONS]

A small stand-in for the music service the Sondrel player talks to: the audio list
methods, audio.getLyrics (for a library song: the .txt file beside its MP3), status.set
with captcha demands, the sign-in/grant/feed/logout pages, song files and captcha
pictures, on 127.0.0.1 over HTTPS and plain HTTP (both listeners
serve the same routes).

Listeners and files:
  --https-port N          HTTPS port (default 47443; 0 = any free port)
  --http-port N           HTTP port (default 47080; 0 = any free port)
  --cert-dir DIR          where the self-signed certificate and key are kept; generated
                          on first start, reused later
                          (default $XDG_DATA_HOME or ~/.local/share, + /sondrel-service)
  --info FILE             information file written at start (default
                          $XDG_RUNTIME_DIR/sondrel-service.json, or the temp folder's;
                          the player finds it by itself only in $XDG_RUNTIME_DIR, and
                          elsewhere needs --service-info FILE)
  --cache-dir DIR         where generated demo songs are kept
                          (default $XDG_CACHE_HOME or ~/.cache, + /sondrel-service)
  --client-id ID          the application's client id (default 4713298)

Songs:
  --library DIR           serve the MP3 files under DIR (tags read with TagLib;
                          "Artist - Title.mp3" file names as fallback)
  --demo                  serve generated demo songs (the default without --library)
  --demo-count N          number of demo songs (default 12)
  --demo-seconds S        length of each demo song in seconds (default 20)
  --song-fault QUERY      fault applied to every song request, in the same form as the
                          song address parameters, e.g. "fault=drop&after=1000"

Tokens and errors:
  --token T               accept access token T (repeatable)
  --no-demo-token         do not accept the built-in token "demo-token"
  --token-lifetime S      tokens expire S seconds after they were issued (the --token
                          ones: after start); 0 = never (default 0)
  --force-error CODE      answer every API call with error CODE (14 carries a captcha)

Sign-in and status:
  --user-id ID            the demo account's user id (default 1001)
  --login NAME            the demo account's login (default demo)
  --password PW           the demo account's password (default demo)
  --captcha-every N       every Nth status.set that sets a song demands a captcha
                          (default 0 = never)
  --feed-without-logout   the feed page carries no logout link

Other:
  --verbose               log every request on stderr (access tokens as <hidden>)
  --help                  this text
  --version               the version

Song address parameters (http(s)://HOST/audio/<aid>.mp3?...):
  fault=drop&after=N      close the connection after byte N of the file
  fault=stall&after=N&seconds=S
                          stop sending at byte N for S seconds (no seconds: until the
                          service stops or /control/reset)
  fault=garbage           bytes that are no MP3 at all, of the file's length
  rate=N                  send at most N bytes per second
  status=CODE             answer HTTP status CODE with an HTML page instead of the song
  chunked=1               chunked transfer encoding, no Content-Length
  id3pad=N                prepend an ID3v2 tag of N bytes to the song
  once=1                  drop/stall only the first request for this address
  norange=1               ignore Range: always the whole file with status 200
  changed=1               requests after the first for this address get another
                          version of the file (4 KB more tag, other ETag/Last-Modified)
  Byte positions (after=N) count from the start of the whole file, so a Range
  request starting past N is not affected. Range requests are honoured; songs carry
  an ETag and a Last-Modified, and a Range with an If-Range that matches neither is
  answered with the whole file.

Control endpoints (HTTP listener only):
  GET  /control/requests             every request served so far, as JSON
  POST /control/reset                forget requests, sessions, grants, captchas and
                                     status; release stalled songs
  POST /control/next-api-error?code=C[&method=M][&count=N]
                                     the next (N) API call(s) (of method M) answer C
  POST /control/expire-tokens        every token issued or given so far expires now
  POST /control/feed?logout_link=0|1 whether the feed page carries the logout link
  POST /control/empty-token[?count=N]
                                     the next (N) sign-in redirect(s) carry an empty token
  GET  /control/library              the song list as JSON
  GET  /control/captchas             captchas handed out: sid, key, solved
  GET  /control/status               the profile status last set by status.set
)";
}

std::optional<Options> parseOptions(int argc, char** argv, std::string& error) {
    Options options;
    options.certDir = defaultDataDir();
    options.cacheDir = defaultCacheDir();
    options.infoPath = defaultInfoPath();

    auto intSetter = [&](int& field, std::int64_t min, std::int64_t max) {
        return std::function<bool(const std::string&)>([&field, min, max](const std::string& v) {
            std::int64_t n = 0;
            if (!parseInt(v, min, max, n)) {
                return false;
            }
            field = static_cast<int>(n);
            return true;
        });
    };
    auto stringSetter = [](std::string& field) {
        return std::function<bool(const std::string&)>([&field](const std::string& v) {
            field = v;
            return true;
        });
    };
    std::map<std::string, std::function<bool(const std::string&)>> withValue = {
        {"--https-port", intSetter(options.httpsPort, 0, 65535)},
        {"--http-port", intSetter(options.httpPort, 0, 65535)},
        {"--cert-dir", stringSetter(options.certDir)},
        {"--info", stringSetter(options.infoPath)},
        {"--cache-dir", stringSetter(options.cacheDir)},
        {"--client-id", stringSetter(options.clientId)},
        {"--library", stringSetter(options.libraryDir)},
        {"--demo-count", intSetter(options.demoCount, 1, 1000)},
        {"--demo-seconds", intSetter(options.demoSeconds, 1, 3600)},
        {"--song-fault", stringSetter(options.songFault)},
        {"--force-error", intSetter(options.forceError, 1, 100000)},
        {"--user-id",
         [&](const std::string& v) {
             return parseInt(v, 1, std::int64_t(1) << 52, options.userId);
         }},
        {"--login", stringSetter(options.login)},
        {"--password", stringSetter(options.password)},
        {"--captcha-every", intSetter(options.captchaEvery, 0, 1000000)},
        {"--token",
         [&](const std::string& v) {
             options.tokens.push_back(v);
             return !v.empty();
         }},
        {"--token-lifetime",
         [&](const std::string& v) {
             return parseInt(v, 0, std::int64_t(1) << 40, options.tokenLifetime);
         }},
    };
    std::map<std::string, std::function<void()>> flags = {
        {"--demo", [&] { options.libraryDir.clear(); }},
        {"--no-demo-token", [&] { options.demoToken = false; }},
        {"--feed-without-logout", [&] { options.feedLogoutLink = false; }},
        {"--verbose", [&] { options.verbose = true; }},
        {"--help", [&] { options.help = true; }},
        {"-h", [&] { options.help = true; }},
    };

    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool hasInlineValue = false;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasInlineValue = true;
        }
        if (auto flag = flags.find(arg); flag != flags.end() && !hasInlineValue) {
            flag->second();
            continue;
        }
        auto setter = withValue.find(arg);
        if (setter == withValue.end()) {
            error = "unknown option " + arg;
            return std::nullopt;
        }
        if (!hasInlineValue) {
            if (i + 1 >= argc) {
                error = "option " + arg + " needs a value";
                return std::nullopt;
            }
            value = argv[++i];
        }
        if (!setter->second(value)) {
            error = "bad value for " + arg + ": " + value;
            return std::nullopt;
        }
    }
    return options;
}

} // namespace standin
