// Preloaded into a player by the playback benchmark: notes the moment the player hands
// its first samples to PulseAudio (the first pa_stream_write of the process), as
// CLOCK_MONOTONIC seconds in the file named by SONDREL_BENCH_STAMP, then passes every
// call on unchanged. Works the same for any PulseAudio client (sondrel-play, mpv).

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dlfcn.h>

namespace {
std::atomic<bool> stamped{false};
}

extern "C" int pa_stream_write(void* stream, const void* data, size_t nbytes, void (*freeCb)(void*),
                               std::int64_t offset, int seek) {
    using Real = int (*)(void*, const void*, size_t, void (*)(void*), std::int64_t, int);
    static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "pa_stream_write"));
    if (nbytes > 0 && !stamped.exchange(true)) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (const char* path = std::getenv("SONDREL_BENCH_STAMP")) {
            if (FILE* f = std::fopen(path, "w")) {
                std::fprintf(f, "%ld.%09ld\n", long(now.tv_sec), long(now.tv_nsec));
                std::fclose(f);
            }
        }
    }
    return real ? real(stream, data, nbytes, freeCb, offset, seek) : -1;
}
