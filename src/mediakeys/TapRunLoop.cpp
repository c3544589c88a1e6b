#include "mediakeys/TapRunLoop.h"

#include "mediakeys/X11MediaKeyGrab.h"
#include "platform/Log.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace sondrel {

TapRunLoop::TapRunLoop() : wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TapRunLoop::~TapRunLoop() {
    if (wakeFd >= 0) {
        close(wakeFd);
    }
}

void TapRunLoop::wake() {
    const std::uint64_t one = 1;
    // A full counter still wakes the loop, so a failed write needs no handling.
    [[maybe_unused]] const ssize_t written = write(wakeFd, &one, sizeof one);
}

void TapRunLoop::addTimer(std::function<void()> fn) {
    {
        std::lock_guard lock(mutex);
        timers.push_back(std::move(fn));
    }
    wake();
}

void TapRunLoop::stop() {
    {
        std::lock_guard lock(mutex);
        stopped = true;
    }
    wake();
}

void TapRunLoop::run(X11MediaKeyGrab* source) {
    for (;;) {
        if (source && !source->dispatchEvents()) {
            logLine(QStringLiteral("Media key tap lost its X connection"));
            source = nullptr;
        }
        std::vector<std::function<void()>> due;
        {
            std::lock_guard lock(mutex);
            if (stopped) {
                break;
            }
            due.swap(timers);
        }
        for (auto& timer : due) {
            timer();
        }
        if (!due.empty()) {
            continue; // a timer may have queued X requests or events; look again first
        }
        pollfd fds[2] = {{wakeFd, POLLIN, 0}, {source ? source->fileDescriptor() : -1, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) {
            logLine(QStringLiteral("Media key tap thread cannot wait for events"));
            break;
        }
        if (fds[0].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t got = read(wakeFd, &count, sizeof count);
        }
    }
    std::vector<std::function<void()>> dropped;
    {
        std::lock_guard lock(mutex);
        dropped.swap(timers);
        stopped = false;
    }
}

} // namespace sondrel
