#include "playback/RebufferGate.h"

#include <algorithm>

namespace sondrel {
namespace {

// 128 kbit/s, the common MP3 rate, when the song's own rate is not known yet.
constexpr double kFallbackAudioBytesPerSecond = 16000.0;
// The download must finish this much ahead of playback (a margin for jitter).
constexpr double kSafety = 0.9;
// Rates measured over less time than this are noise.
constexpr qint64 kMinRateWindowMs = 500;

} // namespace

bool mayResumeAfterRunningDry(const RebufferInput& in) {
    const double audioRate =
        in.audioBytesPerSecond > 0 ? in.audioBytesPerSecond : kFallbackAudioBytesPerSecond;
    const double ahead = double(in.have - in.dryAt);
    if (in.expected <= 0) {
        return ahead >= kUnknownLengthLeadSeconds * audioRate;
    }
    const double unheard = double(in.expected - in.dryAt);
    if (ahead >= unheard) {
        return true; // everything is here
    }
    double lead = kMinLeadSeconds * audioRate;
    if (in.downloadBytesPerSecond > 0) {
        // Go on once the rest downloads faster than what is not heard yet plays:
        // (expected - have) / rate <= kSafety * unheard / audioRate.
        const double haveNeeded =
            double(in.expected) - kSafety * in.downloadBytesPerSecond * unheard / audioRate;
        lead = std::max(lead, haveNeeded - double(in.dryAt));
    }
    lead = std::min(lead, kMaxLeadSeconds * audioRate);
    return ahead >= lead;
}

void DownloadRate::restart(std::int64_t have) {
    clock.start();
    startBytes = have;
}

double DownloadRate::bytesPerSecond(std::int64_t have) const {
    if (!clock.isValid()) {
        return 0;
    }
    const qint64 ms = clock.elapsed();
    if (ms < kMinRateWindowMs || have <= startBytes) {
        return 0;
    }
    return double(have - startBytes) * 1000.0 / double(ms);
}

} // namespace sondrel
