#include "ServiceState.h"

#include "TextCase.h"

#include <algorithm>
#include <openssl/rand.h>

namespace standin {
namespace {

// Older entries are dropped past this, so a long-running service does not grow
// without bound.
constexpr std::size_t kMaxLoggedRequests = 20000;
constexpr std::size_t kMaxCaptchas = 1000;

// Captcha letters that cannot be confused with each other in the picture.
constexpr char kCaptchaAlphabet[] = "2345678abcdehkmnpqsuvxyz";

} // namespace

ServiceState::ServiceState(Options options, Library library)
    : opts(std::move(options)), songs(std::move(library)),
      allSongsFault(parseFaultQuery(opts.songFault)), feedLink(opts.feedLogoutLink) {
    const auto expires = opts.tokenLifetime > 0
                             ? Clock::now() + std::chrono::seconds(opts.tokenLifetime)
                             : Clock::time_point::max();
    if (opts.demoToken) {
        tokens["demo-token"] = {opts.userId, expires};
    }
    for (const std::string& token : opts.tokens) {
        tokens[token] = {opts.userId, expires};
    }
}

void ServiceState::record(RequestRecord r) {
    std::lock_guard lock(mutex);
    if (log.size() >= kMaxLoggedRequests) {
        log.erase(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(kMaxLoggedRequests / 2));
    }
    log.push_back(std::move(r));
}

std::vector<RequestRecord> ServiceState::requests() const {
    std::lock_guard lock(mutex);
    return log;
}

int ServiceState::countSongRequest(const std::string& target) {
    std::lock_guard lock(mutex);
    return ++songRequestCounts[target];
}

void ServiceState::reset() {
    {
        std::lock_guard lock(mutex);
        log.clear();
        songRequestCounts.clear();
        queuedErrors.clear();
        captchaList.clear();
        statusSetCount = 0;
        profile = {};
        sessions.clear();
        grants.clear();
        feedLink = opts.feedLogoutLink;
        emptyTokens = 0;
    }
    ++generation;
}

std::optional<std::int64_t> ServiceState::userForToken(const std::string& token) const {
    std::lock_guard lock(mutex);
    const auto it = tokens.find(token);
    if (token.empty() || it == tokens.end() || Clock::now() >= it->second.expires) {
        return std::nullopt;
    }
    return it->second.userId;
}

std::string ServiceState::issueToken(std::int64_t userId) {
    std::lock_guard lock(mutex);
    std::string token = randomHex(32);
    TokenInfo info{userId, Clock::time_point::max()};
    if (opts.tokenLifetime > 0) {
        info.expires = Clock::now() + std::chrono::seconds(opts.tokenLifetime);
    }
    tokens[token] = info;
    return token;
}

void ServiceState::expireAllTokens() {
    std::lock_guard lock(mutex);
    const auto now = Clock::now();
    for (auto& [token, info] : tokens) {
        info.expires = std::min(info.expires, now);
    }
}

int ServiceState::takeApiError(const std::string& method) {
    if (opts.forceError != 0) {
        return opts.forceError;
    }
    std::lock_guard lock(mutex);
    for (auto it = queuedErrors.begin(); it != queuedErrors.end(); ++it) {
        if (it->method.empty() || it->method == method) {
            const int code = it->code;
            if (--it->remaining <= 0) {
                queuedErrors.erase(it);
            }
            return code;
        }
    }
    return 0;
}

void ServiceState::queueApiError(int code, const std::string& method, int count) {
    std::lock_guard lock(mutex);
    queuedErrors.push_back({code, method, std::max(1, count)});
}

std::string ServiceState::randomHex(std::size_t bytes) {
    std::string raw(bytes, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(raw.data()), static_cast<int>(bytes)) != 1) {
        // Fall back to a simple generator; the values only need to differ.
        for (char& c : raw) {
            randomState = randomState * 6364136223846793005ULL + 1442695040888963407ULL;
            c = static_cast<char>(randomState >> 56);
        }
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (char c : raw) {
        const auto u = static_cast<unsigned char>(c);
        hex += kHex[u >> 4];
        hex += kHex[u & 15];
    }
    return hex;
}

Captcha ServiceState::newCaptcha() {
    std::lock_guard lock(mutex);
    Captcha c;
    // A decimal id, like the other ids of the service.
    const std::string hex = randomHex(6);
    c.sid = std::to_string(std::stoull(hex, nullptr, 16));
    const std::string keyBytes = randomHex(5);
    for (std::size_t i = 0; i < 5; ++i) {
        const auto v = static_cast<std::size_t>(std::stoi(keyBytes.substr(2 * i, 2), nullptr, 16));
        c.key += kCaptchaAlphabet[v % (sizeof kCaptchaAlphabet - 1)];
    }
    if (captchaList.size() >= kMaxCaptchas) {
        captchaList.erase(captchaList.begin());
    }
    captchaList.push_back(c);
    return c;
}

std::optional<Captcha> ServiceState::captcha(const std::string& sid) const {
    std::lock_guard lock(mutex);
    for (const Captcha& c : captchaList) {
        if (c.sid == sid) {
            return c;
        }
    }
    return std::nullopt;
}

std::vector<Captcha> ServiceState::captchas() const {
    std::lock_guard lock(mutex);
    return captchaList;
}

bool ServiceState::solveCaptcha(const std::string& sid, const std::string& key) {
    std::lock_guard lock(mutex);
    for (Captcha& c : captchaList) {
        if (c.sid == sid && !key.empty() && lowerUtf8(key) == c.key) {
            c.solved = true;
            return true;
        }
    }
    return false;
}

bool ServiceState::countStatusSetForCaptcha() {
    std::lock_guard lock(mutex);
    ++statusSetCount;
    return opts.captchaEvery > 0 && statusSetCount % opts.captchaEvery == 0;
}

void ServiceState::setStatus(const std::string& text, const std::string& audio) {
    std::lock_guard lock(mutex);
    profile.text = text;
    profile.audio = audio;
    ++profile.updates;
}

ProfileStatus ServiceState::status() const {
    std::lock_guard lock(mutex);
    return profile;
}

std::string ServiceState::openSession(std::int64_t userId) {
    std::lock_guard lock(mutex);
    std::string session = randomHex(16);
    sessions[session] = userId;
    return session;
}

std::optional<std::int64_t> ServiceState::sessionUser(const std::string& session) const {
    std::lock_guard lock(mutex);
    const auto it = sessions.find(session);
    if (it == sessions.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::string ServiceState::pageHash(const std::string& text) const {
    std::uint64_t h = 1469598103934665603ULL;
    for (char c : text) {
        h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (int i = 0; i < 16; ++i) {
        hex += kHex[(h >> (4 * i)) & 15];
    }
    return hex;
}

void ServiceState::closeSession(const std::string& session) {
    std::lock_guard lock(mutex);
    sessions.erase(session);
}

bool ServiceState::granted(std::int64_t userId) const {
    std::lock_guard lock(mutex);
    return grants.count(userId) > 0;
}

void ServiceState::grant(std::int64_t userId) {
    std::lock_guard lock(mutex);
    grants.insert(userId);
}

bool ServiceState::feedLogoutLink() const {
    std::lock_guard lock(mutex);
    return feedLink;
}

void ServiceState::setFeedLogoutLink(bool on) {
    std::lock_guard lock(mutex);
    feedLink = on;
}

void ServiceState::queueEmptyTokens(int count) {
    std::lock_guard lock(mutex);
    emptyTokens = std::max(count, 0);
}

bool ServiceState::takeEmptyToken() {
    std::lock_guard lock(mutex);
    if (emptyTokens <= 0) {
        return false;
    }
    --emptyTokens;
    return true;
}

} // namespace standin
