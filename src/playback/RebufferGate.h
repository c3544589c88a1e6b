#pragma once
// When a player that ran out of bytes may go on. Restarting the moment a few bytes
// arrive chops the sound into slices of tens of milliseconds; instead the player waits
// once, long enough that (at the measured download rate) the rest of the song arrives
// before playback reaches it, but at least a couple of seconds of sound and at most a
// minute of it.
//
// DownloadRate measures the bytes per second of the running transfer. Both are plain
// values owned by the song downloader (main thread).

#include <QElapsedTimer>
#include <cstdint>

namespace sondrel {

struct RebufferInput {
    std::int64_t expected = -1;        // bytes of the whole song, -1 when not known
    std::int64_t have = 0;             // bytes received
    std::int64_t dryAt = 0;            // bytes received when the player ran out
    double audioBytesPerSecond = 0;    // the song's bytes per second of sound (0: unknown)
    double downloadBytesPerSecond = 0; // the transfer's measured rate (0: unknown)
};

// Seconds of sound to hold before going on: at least, at most, and without a length.
inline constexpr double kMinLeadSeconds = 2.0;
inline constexpr double kMaxLeadSeconds = 60.0;
inline constexpr double kUnknownLengthLeadSeconds = 5.0;

// True when enough has arrived since the player ran dry to go on.
bool mayResumeAfterRunningDry(const RebufferInput& in);

class DownloadRate {
public:
    // A (re)started request: counting begins again from `have` bytes.
    void restart(std::int64_t have);
    // Bytes per second since restart() (0 before the first second's worth of data).
    double bytesPerSecond(std::int64_t have) const;

private:
    QElapsedTimer clock;
    std::int64_t startBytes = 0;
};

} // namespace sondrel
