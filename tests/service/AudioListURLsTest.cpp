#include "service/AudioListURLs.h"

#include <QUrlQuery>
#include <gtest/gtest.h>

namespace {

const QString kBase = QStringLiteral("https://127.0.0.1:47443/method");

TEST(AudioListURLs, OwnListCarriesTheTokenUnchangedAndNoCountOrOffset) {
    EXPECT_EQ(sondrel::allMyAudioAddress(kBase, QStringLiteral("abc.123")),
              QStringLiteral("https://127.0.0.1:47443/method/audio.get?access_token=abc.123&"));
    const QUrl url = sondrel::URLAllMyAudio(kBase, QStringLiteral("abc.123"));
    ASSERT_TRUE(url.isValid());
    EXPECT_EQ(url.path(), QStringLiteral("/method/audio.get"));
    EXPECT_FALSE(url.query().contains(QStringLiteral("count")));
}

TEST(AudioListURLs, SearchTextIsPercentEncodedAndTheAddressParses) {
    struct Row {
        QString text;
        QString encodedQuery; // what follows "q=" up to the fixed tail
    };
    const Row rows[] = {
        {QStringLiteral("foo"), QStringLiteral("foo")},
        {QStringLiteral("two words"), QStringLiteral("two%20words")},
        {QStringLiteral("Кино"), QStringLiteral("%D0%9A%D0%B8%D0%BD%D0%BE")},
        {QStringLiteral("a#b%c"), QStringLiteral("a%23b%25c")},
        // "&" and "+" pass unencoded: an "&" ends the q value.
        {QStringLiteral("rock&roll+1"), QStringLiteral("rock&roll+1")},
        {QString(), QString()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text.toStdString());
        const QString address = sondrel::searchAddress(kBase, QStringLiteral("T0K"), row.text);
        EXPECT_EQ(address, QStringLiteral("https://127.0.0.1:47443/method/audio.search?"
                                          "access_token=T0K&&q=") +
                               row.encodedQuery +
                               QStringLiteral("&auto_complete=1&sort=2&count=200&offset=0"));
        const QUrl url = sondrel::URLSearch(kBase, QStringLiteral("T0K"), row.text);
        ASSERT_TRUE(url.isValid());
        // The percent escapes reach the wire as they are.
        EXPECT_TRUE(QString::fromLatin1(url.toEncoded())
                        .contains(QStringLiteral("q=") + row.encodedQuery +
                                  QStringLiteral("&auto_complete=1")));
    }
}

TEST(AudioListURLs, PlaceholderLikeEscapesInTheTextSurvive) {
    // "%1" and "%20" in the text must not be taken for string placeholders.
    const QString address =
        sondrel::searchAddress(kBase, QStringLiteral("t"), QStringLiteral("%1 %2 100%"));
    EXPECT_TRUE(address.contains(QStringLiteral("q=%251%20%252%20100%25&auto_complete=1")));
}

} // namespace
