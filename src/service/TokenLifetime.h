#pragma once
// How long a stored access token is used, and the clock the sign-in reads.
//
// A token is present when it is stored as a text of at least one character (a logout
// stores "", which means signed out). A present token is usable while now is earlier
// than the moment it was stored plus 86,100 seconds (23 h 55 min); at that instant it
// has expired. The service's own "expires_in" is not read.
//
// The clock is the system clock unless a test puts its own in place (setAuthClock);
// it is read on the main thread and may be replaced from any thread.

#include <QDateTime>
#include <QVariant>
#include <functional>

namespace sondrel {

inline constexpr qint64 kTokenLifetimeSeconds = 86100;

bool isTokenPresent(const QVariant& stored);

bool isTokenUsable(const QDateTime& storedAt, const QDateTime& now);

// What the start-up token check does once the stored values are read.
enum class StartupTokenDecision {
    LoadAuthPage, // no token, an expired one, or a date that is not a date
    AuthComplete, // a usable token
    Nothing,      // a token without a stored date
};

StartupTokenDecision decideStartupToken(bool tokenPresent, const QVariant& storedDate,
                                        const QDateTime& now);

using AuthClock = std::function<QDateTime()>;

// Now, by the sign-in's clock.
QDateTime authNow();
// Replaces the clock; an empty function restores the system clock.
void setAuthClock(AuthClock clock);

} // namespace sondrel
