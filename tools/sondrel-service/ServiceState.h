#pragma once
// Everything the service remembers while it runs: the request log, accepted tokens,
// queued errors, captchas, sign-in sessions and grants, and the profile status.
// One mutex guards all of it; the HTTP worker threads of both listeners call in here.
// The library and the options are fixed before the listeners start and are read
// without the lock.

#include "Options.h"
#include "Song.h"
#include "SongFault.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace standin {

struct Origins {
    std::string https; // https://127.0.0.1:PORT
    std::string http;  // http://127.0.0.1:PORT
};

struct RequestRecord {
    std::string scheme; // "http" or "https"
    std::string method;
    std::string path;
    std::string query; // raw, as sent
    std::string target;
    std::string range;          // the Range header, if any
    std::string acceptEncoding; // the Accept-Encoding header, if any
};

struct Captcha {
    std::string sid;
    std::string key;
    bool solved = false;
};

struct ProfileStatus {
    std::string text;
    std::string audio; // "<owner>_<aid>" or empty
    int updates = 0;   // successful status.set calls
};

class ServiceState {
public:
    ServiceState(Options options, Library library);

    const Options& options() const { return opts; }
    const Library& library() const { return songs; }
    // The --song-fault flag, parsed.
    const SongFault& songFault() const { return allSongsFault; }
    // Set once the listeners are bound, before they serve.
    void setOrigins(Origins o) { origins_ = std::move(o); }
    const Origins& origins() const { return origins_; }

    // Request log (the control endpoint reads it).
    void record(RequestRecord r);
    std::vector<RequestRecord> requests() const;

    // Counts a request for a song address (path and query, not the Range header):
    // 1 for the first since start or reset, 2 for the next...
    int countSongRequest(const std::string& target);

    // Forgets requests, song request counts, sessions, grants, captchas, status and queued errors;
    // wakes every stalled song transfer. Accepted tokens stay.
    void reset();
    // Bumped by reset(); a stalled transfer ends its stall when it changes.
    std::uint64_t resetGeneration() const { return generation.load(); }
    bool stopping() const { return stopFlag.load(); }
    void stop() { stopFlag = true; }

    // Tokens. Returns the token's user id while it is accepted.
    std::optional<std::int64_t> userForToken(const std::string& token) const;
    std::string issueToken(std::int64_t userId);
    void expireAllTokens();

    // API errors on demand. Returns the code the next call of `method` must answer,
    // or 0 (the --force-error flag first, then queued errors).
    int takeApiError(const std::string& method);
    void queueApiError(int code, const std::string& method, int count);

    // Captchas.
    Captcha newCaptcha();
    std::optional<Captcha> captcha(const std::string& sid) const;
    std::vector<Captcha> captchas() const;
    // True (and marks it solved) when `key` answers captcha `sid`, ignoring case. A
    // solved captcha keeps accepting its answer.
    bool solveCaptcha(const std::string& sid, const std::string& key);
    // Counts a status.set that sets a song; true when --captcha-every says this one
    // must demand a captcha.
    bool countStatusSetForCaptcha();

    // Profile status.
    void setStatus(const std::string& text, const std::string& audio);
    ProfileStatus status() const;

    // Sign-in sessions (the session cookie's value) and the per-user grants.
    std::string openSession(std::int64_t userId);
    std::optional<std::int64_t> sessionUser(const std::string& session) const;
    // A short hex digest of `text` (a purpose and a session id): the hash that grant
    // and logout links carry, so only pages shown to that session hold valid links.
    std::string pageHash(const std::string& text) const;
    void closeSession(const std::string& session);
    bool granted(std::int64_t userId) const;
    void grant(std::int64_t userId);

    bool feedLogoutLink() const;
    void setFeedLogoutLink(bool on);

    // The next `count` sign-in redirects carry an empty access token.
    void queueEmptyTokens(int count);
    // True (and counts one down) when this redirect must carry an empty token.
    bool takeEmptyToken();

private:
    using Clock = std::chrono::steady_clock;
    struct TokenInfo {
        std::int64_t userId = 0;
        Clock::time_point expires = Clock::time_point::max();
    };
    struct QueuedError {
        int code = 0;
        std::string method; // empty: any method
        int remaining = 0;
    };

    std::string randomHex(std::size_t bytes);

    const Options opts;
    const Library songs;
    const SongFault allSongsFault;
    Origins origins_;
    std::atomic<std::uint64_t> generation{0};
    std::atomic<bool> stopFlag{false};

    mutable std::mutex mutex;
    std::vector<RequestRecord> log;               // guarded by mutex
    std::map<std::string, int> songRequestCounts; // guarded by mutex
    std::map<std::string, TokenInfo> tokens;      // guarded by mutex
    std::vector<QueuedError> queuedErrors;        // guarded by mutex
    std::vector<Captcha> captchaList;             // guarded by mutex
    std::int64_t statusSetCount = 0;              // guarded by mutex
    ProfileStatus profile;                        // guarded by mutex
    std::map<std::string, std::int64_t> sessions; // guarded by mutex
    std::set<std::int64_t> grants;                // guarded by mutex
    bool feedLink = true;                         // guarded by mutex
    int emptyTokens = 0;                          // guarded by mutex
    std::uint64_t randomState = 0;                // guarded by mutex
};

} // namespace standin
