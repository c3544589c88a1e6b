#include "service/TokenLifetime.h"

#include <mutex>

namespace sondrel {
namespace {

std::mutex clockMutex;

AuthClock& clockOverride() { // guarded by clockMutex
    static AuthClock clock;
    return clock;
}

} // namespace

bool isTokenPresent(const QVariant& stored) {
    return stored.typeId() == QMetaType::QString && !stored.toString().isEmpty();
}

bool isTokenUsable(const QDateTime& storedAt, const QDateTime& now) {
    return storedAt.isValid() && now.isValid() && now < storedAt.addSecs(kTokenLifetimeSeconds);
}

StartupTokenDecision decideStartupToken(bool tokenPresent, const QVariant& storedDate,
                                        const QDateTime& now) {
    if (!tokenPresent) {
        return StartupTokenDecision::LoadAuthPage;
    }
    if (!storedDate.isValid()) {
        return StartupTokenDecision::Nothing;
    }
    // A stored value that is no date cannot prove the token fresh: sign in again.
    const QDateTime storedAt =
        storedDate.typeId() == QMetaType::QDateTime ? storedDate.toDateTime() : QDateTime();
    return isTokenUsable(storedAt, now) ? StartupTokenDecision::AuthComplete
                                        : StartupTokenDecision::LoadAuthPage;
}

QDateTime authNow() {
    AuthClock clock;
    {
        std::lock_guard lock(clockMutex);
        clock = clockOverride();
    }
    return clock ? clock() : QDateTime::currentDateTimeUtc();
}

void setAuthClock(AuthClock clock) {
    std::lock_guard lock(clockMutex);
    clockOverride() = std::move(clock);
}

} // namespace sondrel
