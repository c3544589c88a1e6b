#include "fuzz/signin/SignInFuzzBody.h"

#include "fuzz/FuzzSupport.h"
#include "service/AuthAddresses.h"

#include <QUrl>

namespace sondrel::fuzz {
namespace {

const QString kTokenMarker = QStringLiteral("access_token=");
const QString kUserIdMarker = QStringLiteral("&user_id=");

const AuthAddresses& addresses() {
    static const AuthAddresses fixed = AuthAddresses::from(ServiceConfig{
        QStringLiteral("https://127.0.0.1:47443"), QStringLiteral("http://127.0.0.1:47080"),
        QStringLiteral("https://127.0.0.1:47443"), QStringLiteral("http://127.0.0.1:47080"),
        QStringLiteral("4713298"), QString(), QString()});
    return fixed;
}

void checkAddress(const QString& address) {
    const FinishedLoadTests tests = testFinishedLoad(address, addresses());
    require(tests.logoutCompleted == address.contains(QStringLiteral("act=logout")));

    const TokenAddress read = readTokenAddress(address);
    if (!address.contains(QStringLiteral("access_token"))) {
        require(!read.token && !read.userId);
        return;
    }
    require(!read.loadAuthPage && read.userId.has_value());
    require(address.endsWith(*read.userId) && !read.userId->contains(kUserIdMarker));
    const qsizetype marker = address.indexOf(kTokenMarker);
    if (marker >= 0) {
        const QString after = address.mid(marker + kTokenMarker.size());
        // Up to the next "&" (a second "access_token=" ends it earlier).
        const QString upToAmpersand = after.left(after.indexOf(QLatin1Char('&')));
        require(upToAmpersand.startsWith(read.token.value_or(QString())));
    }
    if (read.token) {
        require(!read.token->isEmpty() && !read.token->contains(QLatin1Char('&')));
    }
}

} // namespace

int fuzzSignIn(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes = inputBytes(data, size);
    const QString address = QString::fromUtf8(bytes);
    checkAddress(address);
    checkAddress(addressText(QUrl(address)));

    if (const std::optional<QString> link = logoutLinkFromFeedPage(bytes)) {
        require(!link->isEmpty());
    }
    return 0;
}

} // namespace sondrel::fuzz
