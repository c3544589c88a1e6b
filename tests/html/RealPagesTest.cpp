// Real pages that Debian's documentation packages install, parsed from text and from
// bytes with every node operation run over them.

#include "fuzz/html/HtmlFuzzBody.h"
#include "support/HTMLParser.h"

#include <QDirIterator>
#include <QFile>
#include <gtest/gtest.h>

namespace sondrel {
namespace {

QStringList installedPages(int limit) {
    QStringList pages;
    QDirIterator it(QStringLiteral("/usr/share/doc"),
                    {QStringLiteral("*.html"), QStringLiteral("*.htm")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext() && pages.size() < limit) {
        pages.append(it.next());
    }
    pages.sort();
    return pages;
}

TEST(HTMLRealPages, InstalledDocumentationParsesAndWalks) {
    const QStringList pages = installedPages(400);
    // base-passwd (always installed) ships users-and-groups.html.
    ASSERT_FALSE(pages.isEmpty()) << "no HTML page under /usr/share/doc";
    // Every page is parsed both ways and searched; the first ones also get every node
    // operation (that costs far more, above all under the sanitizers).
    int visited = 0;
    int links = 0;
    for (qsizetype i = 0; i < pages.size(); ++i) {
        const QString& path = pages[i];
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
        const QByteArray page = file.readAll();
        if (i < 16) {
            visited += fuzz::exerciseHtmlPage(page, "a", "href", "html", 1500);
        }
        auto fromBytes = HTMLParser::initWithData(page);
        auto fromText = HTMLParser::initWithString(QString::fromUtf8(page));
        if (page.contains("<body") || page.contains("<BODY")) {
            EXPECT_TRUE(fromBytes->body()) << path.toStdString();
            EXPECT_TRUE(fromText->body()) << path.toStdString();
        }
        if (fromText->doc()) {
            links += static_cast<int>(
                fromText->doc()->findChildrenWithAttribute("href", "", true).size());
        }
    }
    EXPECT_GT(visited, 0);
    std::printf("%lld pages, %d nodes visited, %d links\n", static_cast<long long>(pages.size()),
                visited, links);
}

TEST(HTMLRealPages, LinksOfAKnownPageAreFound) {
    const QString path = QStringLiteral("/usr/share/doc/base-passwd/users-and-groups.html");
    if (!QFile::exists(path)) {
        GTEST_SKIP() << "base-passwd's page is not installed";
    }
    HTMLParserError error;
    auto parser = HTMLParser::initWithContentsOfURL(QUrl::fromLocalFile(path), &error);
    ASSERT_TRUE(parser);
    ASSERT_TRUE(parser->head());
    EXPECT_TRUE(
        parser->head()->findChildTag("title")->allContents()->contains(QStringLiteral("Users")));
    const auto links = parser->doc()->findChildTags("a");
    EXPECT_FALSE(links.isEmpty());
    const auto withHref = parser->doc()->findChildrenWithAttribute("href", "", true);
    for (const HTMLNode& link : withHref) {
        EXPECT_TRUE(link.getAttributeNamed("href").has_value());
    }
}

} // namespace
} // namespace sondrel
