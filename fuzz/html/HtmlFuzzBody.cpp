#include "fuzz/html/HtmlFuzzBody.h"

#include "support/HTMLParser.h"

#include <QList>
#include <libxml/tree.h>

namespace sondrel::fuzz {
namespace {

// Keeps results alive so the calls are not optimised away.
std::size_t sink = 0;

void consume(const std::optional<QString>& text) {
    sink += text ? static_cast<std::size_t>(text->size()) + 1 : 0;
}

void consume(const std::optional<HTMLNode>& node) {
    sink += node ? 1 : 0;
}

void searchFrom(const HTMLNode& node, const QString& tag, const QString& attribute,
                const QString& value) {
    consume(node.findChildTag(tag));
    sink += static_cast<std::size_t>(node.findChildTags(tag).size());
    for (bool partial : {false, true}) {
        consume(node.findChildWithAttribute(attribute, value, partial));
        sink += static_cast<std::size_t>(
            node.findChildrenWithAttribute(attribute, value, partial).size());
    }
    consume(node.findChildOfClass(value));
    sink += static_cast<std::size_t>(node.findChildrenOfClass(value).size());
}

int exerciseParser(const HTMLParser& parser, const QString& tag, const QString& attribute,
                   const QString& value, int nodeBudget) {
    consume(parser.html());
    consume(parser.head());
    consume(parser.body());
    const std::optional<HTMLNode> doc = parser.doc();
    if (!doc) {
        return 0;
    }
    searchFrom(*doc, tag, attribute, value);
    consume(doc->allContents());
    consume(doc->rawContents());

    // Breadth-first over the tree with a budget: every operation on each node, the
    // whole-subtree ones on the first few only (they cost the subtree's size).
    QList<HTMLNode> queue{*doc};
    int visited = 0;
    for (qsizetype i = 0; i < queue.size() && visited < nodeBudget; ++i, ++visited) {
        const HTMLNode node = queue[i];
        consume(node.parent());
        consume(node.nextSibling());
        consume(node.previousSibling());
        consume(node.firstChild());
        consume(node.tagName());
        consume(node.className());
        consume(node.getAttributeNamed(attribute));
        consume(node.contents());
        sink += static_cast<std::size_t>(node.nodetype());
        if (visited < 24) {
            consume(node.allContents());
            consume(node.rawContents());
            searchFrom(node, tag, attribute, value);
            QString text;
            HTMLNode::appendChildContentsToString(text, node.xmlNode());
            sink += static_cast<std::size_t>(text.size());
        }
        const QList<HTMLNode> children = node.children();
        queue.append(children);
    }
    return visited;
}

// Replaces attribute values on the first elements (after the read-only pass, so the
// tree changes under nothing that still reads it).
void exerciseWrites(const HTMLParser& parser, const QByteArray& attribute,
                    const QByteArray& value) {
    const std::optional<HTMLNode> doc = parser.doc();
    if (!doc) {
        return;
    }
    const QList<HTMLNode> elements =
        doc->findChildrenWithAttribute(QString::fromUtf8(attribute), QString(), true);
    for (qsizetype i = 0; i < elements.size() && i < 8; ++i) {
        consume(setAttributeNamed(elements[i].xmlNode(), attribute.constData(), value.constData()));
        consume(elements[i].getAttributeNamed(QString::fromUtf8(attribute)));
    }
}

} // namespace

int exerciseHtmlPage(const QByteArray& page, const QByteArray& tag, const QByteArray& attribute,
                     const QByteArray& value, int nodeBudget) {
    const QString tagText = QString::fromUtf8(tag);
    const QString attributeText = QString::fromUtf8(attribute);
    const QString valueText = QString::fromUtf8(value);
    int visited = 0;

    HTMLParserError error;
    auto fromText = HTMLParser::initWithString(QString::fromUtf8(page), &error);
    visited += exerciseParser(*fromText, tagText, attributeText, valueText, nodeBudget);
    exerciseWrites(*fromText, attribute, value);

    auto fromBytes = HTMLParser::initWithData(page, &error);
    visited += exerciseParser(*fromBytes, tagText, attributeText, valueText, nodeBudget);
    exerciseWrites(*fromBytes, attribute, value);
    return visited;
}

int fuzzHtmlLayer(const std::uint8_t* data, std::size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const qsizetype lineEnd = input.indexOf('\n');
    const QByteArray header = lineEnd < 0 ? QByteArray() : input.left(lineEnd);
    const QByteArray page = lineEnd < 0 ? input : input.mid(lineEnd + 1);
    const QList<QByteArray> words = header.split(' ');
    const QByteArray tag = words.value(0, "a");
    const QByteArray attribute = words.value(1, "href");
    const QByteArray value = words.value(2, "");
    exerciseHtmlPage(page, tag, attribute, value, 4000);
    return 0;
}

} // namespace sondrel::fuzz
