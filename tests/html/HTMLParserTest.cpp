// The HTML layer on small pages that pin down its search, text and navigation rules.

#include "support/HTMLParser.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <libxml/tree.h>

namespace sondrel {
namespace {

std::unique_ptr<HTMLParser> parse(const char* html) {
    return HTMLParser::initWithString(QString::fromUtf8(html));
}

TEST(HTMLParser, EmptyStringReportsNoInputAndAnswersNothing) {
    HTMLParserError error;
    auto parser = HTMLParser::initWithString(QString(), &error);
    ASSERT_TRUE(parser);
    EXPECT_EQ(error.domain, QStringLiteral("HTMLParserdomain"));
    EXPECT_EQ(error.code, 1);
    EXPECT_FALSE(parser->hasDocument());
    EXPECT_FALSE(parser->doc());
    EXPECT_FALSE(parser->html());
    EXPECT_FALSE(parser->head());
    EXPECT_FALSE(parser->body());
}

TEST(HTMLParser, MissingDataReportsNoInputButEmptyDataIsParsed) {
    HTMLParserError missing;
    auto none = HTMLParser::initWithData(std::nullopt, &missing);
    ASSERT_TRUE(none);
    EXPECT_EQ(missing.code, 1);
    EXPECT_FALSE(none->doc());

    HTMLParserError empty;
    auto parsed = HTMLParser::initWithData(QByteArray(""), &empty);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(empty.code, 0); // no error stored
}

TEST(HTMLParser, BytesAreParsedAsUtf8) {
    auto parser = HTMLParser::initWithData(QByteArray("<html><body><p id=\"x\">Gr\xc3\xbc\xc3\x9f"
                                                      "e</p></body></html>"));
    ASSERT_TRUE(parser->body());
    auto p = parser->body()->findChildWithAttribute("id", "x", false);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->allContents(), QString::fromUtf8("Grüße"));
}

TEST(HTMLParser, LogoutLinkFoundOnlyByPartialMatch) {
    auto parser = parse("<html><body><a href=\"/feed?x=1\">feed</a>"
                        "<a href=\"https://m.example/logout_mobile?hash=ab12\">out</a>"
                        "</body></html>");
    auto partial = parser->doc()->findChildWithAttribute("href", "logout_mobile", true);
    ASSERT_TRUE(partial);
    EXPECT_EQ(partial->getAttributeNamed("href"),
              QStringLiteral("https://m.example/logout_mobile?hash=ab12"));
    EXPECT_FALSE(parser->doc()->findChildWithAttribute("href", "logout_mobile", false));
    EXPECT_EQ(parser->doc()->findChildrenWithAttribute("href", "/", true).size(), 2);
}

TEST(HTMLParser, ClassSearchMatchesWholeValueOnly) {
    auto parser = parse("<div><ul class=\"menu big\"><li>x</li></ul></div>");
    auto body = parser->body();
    ASSERT_TRUE(body);
    EXPECT_FALSE(body->findChildOfClass("menu"));
    auto whole = body->findChildOfClass("menu big");
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->tagName(), QStringLiteral("ul"));
    EXPECT_EQ(whole->className(), QStringLiteral("menu big"));
    EXPECT_TRUE(body->findChildrenOfClass("menu").isEmpty());
}

TEST(HTMLParser, ListSearchesGiveMatchThenItsOwnMatchingDescendants) {
    auto parser =
        parse("<div class=\"c\" id=\"outer\"><span>a</span>"
              "<div class=\"c\" id=\"inner\"></div></div><p class=\"c\" id=\"last\"></p>");
    auto found = parser->body()->findChildrenOfClass("c");
    ASSERT_EQ(found.size(), 3);
    EXPECT_EQ(found[0].getAttributeNamed("id"), QStringLiteral("outer"));
    EXPECT_EQ(found[1].getAttributeNamed("id"), QStringLiteral("inner"));
    EXPECT_EQ(found[2].getAttributeNamed("id"), QStringLiteral("last"));

    auto divs = parser->doc()->findChildTags("div");
    ASSERT_EQ(divs.size(), 2);
    EXPECT_EQ(divs[1].getAttributeNamed("id"), QStringLiteral("inner"));
    EXPECT_EQ(parser->doc()->findChildTag("div")->getAttributeNamed("id"), QStringLiteral("outer"));
}

TEST(HTMLParser, ContentsReadsOnlyALeadingTextChild) {
    auto parser =
        parse("<p id=\"bold\"><b>Loud</b> and quiet</p><p id=\"plain\">Plain <i>x</i></p>");
    auto bold = parser->body()->findChildWithAttribute("id", "bold", false);
    ASSERT_TRUE(bold);
    EXPECT_FALSE(bold->contents());
    EXPECT_EQ(bold->allContents(), QStringLiteral("Loud and quiet"));
    auto plain = parser->body()->findChildWithAttribute("id", "plain", false);
    EXPECT_EQ(plain->contents(), QStringLiteral("Plain "));

    QString collected;
    HTMLNode::appendChildContentsToString(collected, bold->xmlNode()->children);
    EXPECT_EQ(collected, QStringLiteral("Loud and quiet"));
}

TEST(HTMLParser, NavigationStopsAtTheEdges) {
    auto parser = parse("<ul><li>one</li>text<li>two</li></ul>");
    EXPECT_FALSE(parser->doc()->parent());
    auto ul = parser->body()->findChildTag("ul");
    ASSERT_TRUE(ul);
    auto kids = ul->children();
    ASSERT_EQ(kids.size(), 3);
    EXPECT_EQ(kids[1].nodetype(), HTMLTextNode);
    EXPECT_EQ(kids[1].tagName(), QStringLiteral("text"));
    EXPECT_FALSE(kids[0].previousSibling());
    EXPECT_FALSE(kids[2].nextSibling());
    EXPECT_EQ(kids[0].nextSibling()->xmlNode(), kids[1].xmlNode());
    EXPECT_EQ(kids[2].parent()->xmlNode(), ul->xmlNode());
    EXPECT_EQ(ul->firstChild()->xmlNode(), kids[0].xmlNode());
    EXPECT_FALSE(kids[1].firstChild());
    EXPECT_TRUE(kids[1].children().isEmpty());
}

TEST(HTMLParser, NodeKindsFollowTheName) {
    auto parser = parse("<a>l</a><b>x</b><div>d</div><!-- c --><code>c</code><span>s</span>"
                        "<p>p</p><ul><li>i</li></ul><ol></ol><strong>s</strong><pre>p</pre>"
                        "<blockquote>q</blockquote>");
    const struct {
        const char* tag;
        int kind;
    } rows[] = {{"a", 0},    {"b", 2},           {"div", 2},    {"code", 3}, {"span", 4},
                {"p", 5},    {"li", 6},          {"ul", 7},     {"ol", 9},   {"strong", 10},
                {"pre", 11}, {"blockquote", 12}, {"comment", 2}};
    for (const auto& row : rows) {
        auto node = parser->doc()->findChildTag(QString::fromLatin1(row.tag));
        ASSERT_TRUE(node) << row.tag;
        EXPECT_EQ(node->nodetype(), row.kind) << row.tag;
    }
    EXPECT_EQ(nodeType(nullptr), HTMLUnknownNode);
    EXPECT_EQ(parser->doc()->nodetype(), HTMLUnknownNode);
}

TEST(HTMLParser, DoctypeIsNotMistakenForTheHtmlElement) {
    auto parser = parse("<!DOCTYPE html><html><head><title>t</title></head><body>b</body></html>");
    auto html = parser->html();
    ASSERT_TRUE(html);
    EXPECT_EQ(html->xmlNode()->type, XML_ELEMENT_NODE);
    EXPECT_EQ(html->children().size(), 2);
    EXPECT_EQ(parser->head()->findChildTag("title")->contents(), QStringLiteral("t"));
    EXPECT_EQ(parser->body()->contents(), QStringLiteral("b"));
}

TEST(HTMLParser, AttributesReadAndReplaced) {
    auto parser = parse("<a href=\"one\" title=\"t\">x</a><input disabled>");
    auto a = parser->body()->findChildTag("a");
    ASSERT_TRUE(a);
    EXPECT_FALSE(a->getAttributeNamed("missing"));
    // The value is stored as given: "&" never starts an entity reference here.
    for (const char* value : {"two", "x?a=1&b=2", "a&b", "a&amp;b", ""}) {
        SCOPED_TRACE(value);
        EXPECT_EQ(setAttributeNamed(a->xmlNode(), "href", value), QString::fromUtf8(value));
        EXPECT_EQ(a->getAttributeNamed("href"), QString::fromUtf8(value));
    }
    EXPECT_FALSE(setAttributeNamed(a->xmlNode(), "missing", "v"));
    EXPECT_FALSE(a->getAttributeNamed("missing"));
    // A boolean attribute's value is its own name in libxml2's tree.
    auto input = parser->body()->findChildTag("input");
    EXPECT_EQ(input->getAttributeNamed("disabled"), QStringLiteral("disabled"));
    // Attributes of non-elements are never read.
    EXPECT_FALSE(getAttributeNamed(parser->doc()->xmlNode(), "href"));
}

TEST(HTMLParser, RawContentsWritesTheNodeAsHtml) {
    auto parser = parse("<p><a href=\"x?a=1&amp;b=2\">T&amp;C</a></p>");
    auto a = parser->body()->findChildTag("a");
    EXPECT_EQ(a->rawContents(), QStringLiteral("<a href=\"x?a=1&amp;b=2\">T&amp;C</a>"));
    EXPECT_TRUE(parser->doc()->rawContents()->contains(QStringLiteral("<body>")));
    EXPECT_FALSE(rawContentsOfNode(nullptr));
    EXPECT_FALSE(allNodeContents(nullptr));
}

TEST(HTMLParser, DeepTreesAreWalkedWithoutRecursion) {
    // libxml2's parser caps the depth it builds, so the deep tree is built directly.
    auto parser = parse("<html><body><div id=\"top\"></div></body></html>");
    XmlNode* node = parser->body()->findChildTag("div")->xmlNode();
    for (int i = 0; i < 200000; ++i) {
        node = xmlNewChild(node, nullptr, reinterpret_cast<const xmlChar*>("div"), nullptr);
    }
    XmlNode* span = xmlNewChild(node, nullptr, reinterpret_cast<const xmlChar*>("span"),
                                reinterpret_cast<const xmlChar*>("bottom"));
    xmlNewProp(span, reinterpret_cast<const xmlChar*>("class"),
               reinterpret_cast<const xmlChar*>("deep"));

    auto deep = parser->doc()->findChildOfClass("deep");
    ASSERT_TRUE(deep);
    EXPECT_EQ(deep->contents(), QStringLiteral("bottom"));
    EXPECT_EQ(parser->doc()->findChildTags("div").size(), 200001);
    QString text;
    HTMLNode::appendChildContentsToString(text, parser->body()->xmlNode());
    EXPECT_EQ(text, QStringLiteral("bottom"));
}

TEST(HTMLParser, DeepPagesParseWithoutCrashing) {
    QByteArray page = "<html><body>";
    for (int i = 0; i < 100000; ++i) {
        page += "<div>";
    }
    page += "<span class=\"deep\">bottom</span>";
    auto fromText = HTMLParser::initWithString(QString::fromUtf8(page));
    ASSERT_TRUE(fromText->body());
    EXPECT_GT(fromText->doc()->findChildTags("div").size(), 100);
    auto fromBytes = HTMLParser::initWithData(page);
    EXPECT_TRUE(fromBytes->doc());
}

TEST(HTMLParser, ContentsOfUrlReadsFilesAndReportsMissingOnes) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("page.html"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<html><body><a href=\"logout_mobile\">x</a></body></html>");
    file.close();

    HTMLParserError error;
    auto parser = HTMLParser::initWithContentsOfURL(QUrl::fromLocalFile(path), &error);
    ASSERT_TRUE(parser);
    EXPECT_TRUE(parser->body()->findChildWithAttribute("href", "logout", true));

    auto missing = HTMLParser::initWithContentsOfURL(
        QUrl::fromLocalFile(dir.filePath(QStringLiteral("none.html"))), &error);
    EXPECT_FALSE(missing);
    EXPECT_FALSE(error.description.isEmpty());
}

} // namespace
} // namespace sondrel
