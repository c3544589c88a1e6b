#pragma once
// A thin view of one node of a libxml2 HTML tree: navigation, search by tag name or by
// attribute value, attribute reading and three ways of reading the node's text.
//
// An HTMLNode does not own its node and does not keep the parser alive: it is valid only
// while the HTMLParser whose document holds the node exists. Node objects are cheap
// values; every operation that yields nodes makes new ones.
//
// Tree walks are iterative (they follow the parent links back up), so a deeply nested
// page cannot exhaust the stack. Fields of libxml2 structures that exist only on some
// node kinds (attributes, text content) are read only on nodes of those kinds: the
// document and DTD nodes share the first fields of a node but not the rest.
//
// Threading: none of its own; a parser and its nodes are used by one thread at a time.

#include <QList>
#include <QString>
#include <optional>

struct _xmlNode;

namespace sondrel {

using XmlNode = struct _xmlNode;

// The node kinds, decided by the node's name alone (case-sensitive).
enum HTMLNodeType : int {
    HTMLHrefNode = 0,       // "a"
    HTMLTextNode = 1,       // "text" (libxml2's name for text nodes)
    HTMLUnknownNode = 2,    // any other name, no name, or no node
    HTMLCodeBlockNode = 3,  // "code"
    HTMLSpanNode = 4,       // "span"
    HTMLPNode = 5,          // "p"
    HTMLLiNode = 6,         // "li"
    HTMLUlNode = 7,         // "ul"
    HTMLImageNode = 8,      // "image"
    HTMLOlNode = 9,         // "ol"
    HTMLStrongNode = 10,    // "strong"
    HTMLPreNode = 11,       // "pre"
    HTMLBlockQuoteNode = 12 // "blockquote"
};

class HTMLNode {
public:
    explicit HTMLNode(XmlNode* node) : _node(node) {}
    static HTMLNode initWithXMLNode(XmlNode* node) { return HTMLNode(node); }

    XmlNode* xmlNode() const { return _node; }

    std::optional<HTMLNode> parent() const;
    std::optional<HTMLNode> nextSibling() const;
    std::optional<HTMLNode> previousSibling() const;
    std::optional<HTMLNode> firstChild() const;
    // Every direct child of every kind (text nodes included), in document order.
    QList<HTMLNode> children() const;

    std::optional<QString> tagName() const;
    std::optional<QString> getAttributeNamed(const QString& name) const;
    std::optional<QString> className() const;

    // Searches walk the descendants depth-first in document order.
    std::optional<HTMLNode> findChildTag(const QString& tagName) const;
    QList<HTMLNode> findChildTags(const QString& tagName) const;
    std::optional<HTMLNode> findChildWithAttribute(const QString& attribute, const QString& name,
                                                   bool allowPartial) const;
    QList<HTMLNode> findChildrenWithAttribute(const QString& attribute, const QString& name,
                                              bool allowPartial) const;
    // Whole "class" values only: "menu" does not find class="menu big".
    std::optional<HTMLNode> findChildOfClass(const QString& className) const;
    QList<HTMLNode> findChildrenOfClass(const QString& className) const;

    // The text of the first child when that child carries text, otherwise nothing.
    std::optional<QString> contents() const;
    // All text of the node and its descendants ("" when there is none).
    std::optional<QString> allContents() const;
    // The node written out as HTML, or nothing when that yields no text.
    std::optional<QString> rawContents() const;
    int nodetype() const;

    // Appends the text of `node`, its following siblings and all their descendants.
    static void appendChildContentsToString(QString& text, XmlNode* node);

    // The inner search forms: they start at `node` and also look at its following
    // siblings (the public forms pass the first child).
    static XmlNode* findChildTagInXMLNode(const char* tagName, XmlNode* node);
    static void findChildTagsInXMLNode(const char* tagName, XmlNode* node, QList<HTMLNode>& array);
    static XmlNode* findChildWithAttributeInXMLNode(const char* attribute, const char* name,
                                                    XmlNode* node, bool allowPartial);
    static void findChildrenWithAttributeInXMLNode(const char* attribute, const char* name,
                                                   XmlNode* node, QList<HTMLNode>& array,
                                                   bool allowPartial);

private:
    XmlNode* _node;
};

// Node-level functions, usable without node objects.
std::optional<QString> getAttributeNamed(XmlNode* node, const char* name);
// Replaces the value of the first attribute `name` with a copy of `value` and returns
// the new value; nothing (and no change) when there is no such attribute or it has no
// value.
std::optional<QString> setAttributeNamed(XmlNode* node, const char* name, const char* value);
int nodeType(XmlNode* node);
std::optional<QString> allNodeContents(XmlNode* node);
std::optional<QString> rawContentsOfNode(XmlNode* node);

} // namespace sondrel
