#include "support/HTMLNode.h"

#include <cstring>
#include <libxml/HTMLparser.h>
#include <libxml/HTMLtree.h>
#include <libxml/tree.h>

namespace sondrel {
namespace {

const char* asChars(const xmlChar* text) {
    return reinterpret_cast<const char*>(text);
}

QString fromXml(const xmlChar* text) {
    return QString::fromUtf8(asChars(text));
}

// Only these node kinds hold their text in the `content` field; other kinds (document,
// DTD, declarations) lay other data out at that place.
bool carriesText(const XmlNode* node) {
    switch (node->type) {
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
        return node->content != nullptr;
    default:
        return false;
    }
}

// Entity references point at their declaration, whose parent is the DTD: walking into
// them would leave the subtree.
bool hasWalkableChildren(const XmlNode* node) {
    return node->children != nullptr && node->type != XML_ENTITY_REF_NODE &&
           node->type != XML_ATTRIBUTE_NODE;
}

// The document type declaration carries the root element's name ("html"), but it is
// not a tag of the page; neither are the DTD's declarations.
bool isDeclaration(const XmlNode* node) {
    switch (node->type) {
    case XML_DTD_NODE:
    case XML_ELEMENT_DECL:
    case XML_ATTRIBUTE_DECL:
    case XML_ENTITY_DECL:
    case XML_NAMESPACE_DECL:
        return true;
    default:
        return false;
    }
}

// Visits `start`, its following siblings and all their descendants depth-first in
// document order (a node, then its children, then its next sibling) until `visit`
// returns true; returns that node, or null when the walk ended.
template <typename Visit> XmlNode* walk(XmlNode* start, Visit visit) {
    if (start == nullptr) {
        return nullptr;
    }
    XmlNode* const boundary = start->parent;
    XmlNode* node = start;
    while (node != nullptr) {
        if (visit(node)) {
            return node;
        }
        if (hasWalkableChildren(node)) {
            node = node->children;
            continue;
        }
        while (node != nullptr && node->next == nullptr) {
            node = node->parent;
            if (node == boundary) {
                return nullptr;
            }
        }
        if (node != nullptr) {
            node = node->next;
        }
    }
    return nullptr;
}

bool tagMatches(const XmlNode* node, const char* tagName) {
    return node->name != nullptr && !isDeclaration(node) &&
           std::strcmp(asChars(node->name), tagName) == 0;
}

xmlAttr* firstAttributeNamed(XmlNode* node, const char* name) {
    if (node == nullptr || node->type != XML_ELEMENT_NODE) {
        return nullptr;
    }
    for (xmlAttr* attr = node->properties; attr != nullptr; attr = attr->next) {
        if (attr->name != nullptr && std::strcmp(asChars(attr->name), name) == 0) {
            return attr;
        }
    }
    return nullptr;
}

bool attributeMatches(XmlNode* node, const char* attribute, const char* wanted, bool allowPartial) {
    xmlAttr* attr = firstAttributeNamed(node, attribute);
    if (attr == nullptr) {
        return false;
    }
    for (XmlNode* piece = attr->children; piece != nullptr; piece = piece->next) {
        if (!carriesText(piece)) {
            continue;
        }
        const char* text = asChars(piece->content);
        const bool match =
            allowPartial ? std::strstr(text, wanted) != nullptr : std::strcmp(text, wanted) == 0;
        if (match) {
            return true;
        }
    }
    return false;
}

std::optional<HTMLNode> wrap(XmlNode* node) {
    if (node == nullptr) {
        return std::nullopt;
    }
    return HTMLNode(node);
}

XmlNode* firstChildOf(XmlNode* node) {
    return node != nullptr && hasWalkableChildren(node) ? node->children : nullptr;
}

} // namespace

std::optional<HTMLNode> HTMLNode::parent() const {
    return wrap(_node ? _node->parent : nullptr);
}
std::optional<HTMLNode> HTMLNode::nextSibling() const {
    return wrap(_node ? _node->next : nullptr);
}
std::optional<HTMLNode> HTMLNode::previousSibling() const {
    return wrap(_node ? _node->prev : nullptr);
}
std::optional<HTMLNode> HTMLNode::firstChild() const {
    return wrap(firstChildOf(_node));
}

QList<HTMLNode> HTMLNode::children() const {
    QList<HTMLNode> list;
    for (XmlNode* child = firstChildOf(_node); child != nullptr; child = child->next) {
        list.append(HTMLNode(child));
    }
    return list;
}

std::optional<QString> HTMLNode::tagName() const {
    if (_node == nullptr || _node->name == nullptr) {
        return std::nullopt;
    }
    return fromXml(_node->name);
}

std::optional<QString> HTMLNode::getAttributeNamed(const QString& name) const {
    return sondrel::getAttributeNamed(_node, name.toUtf8().constData());
}

std::optional<QString> HTMLNode::className() const {
    return sondrel::getAttributeNamed(_node, "class");
}

std::optional<HTMLNode> HTMLNode::findChildTag(const QString& tagName) const {
    return wrap(findChildTagInXMLNode(tagName.toUtf8().constData(), firstChildOf(_node)));
}

QList<HTMLNode> HTMLNode::findChildTags(const QString& tagName) const {
    QList<HTMLNode> list;
    findChildTagsInXMLNode(tagName.toUtf8().constData(), firstChildOf(_node), list);
    return list;
}

std::optional<HTMLNode> HTMLNode::findChildWithAttribute(const QString& attribute,
                                                         const QString& name,
                                                         bool allowPartial) const {
    return wrap(findChildWithAttributeInXMLNode(attribute.toUtf8().constData(),
                                                name.toUtf8().constData(), firstChildOf(_node),
                                                allowPartial));
}

QList<HTMLNode> HTMLNode::findChildrenWithAttribute(const QString& attribute, const QString& name,
                                                    bool allowPartial) const {
    QList<HTMLNode> list;
    findChildrenWithAttributeInXMLNode(attribute.toUtf8().constData(), name.toUtf8().constData(),
                                       firstChildOf(_node), list, allowPartial);
    return list;
}

std::optional<HTMLNode> HTMLNode::findChildOfClass(const QString& className) const {
    return findChildWithAttribute(QStringLiteral("class"), className, false);
}

QList<HTMLNode> HTMLNode::findChildrenOfClass(const QString& className) const {
    return findChildrenWithAttribute(QStringLiteral("class"), className, false);
}

std::optional<QString> HTMLNode::contents() const {
    XmlNode* child = firstChildOf(_node);
    if (child == nullptr || !carriesText(child)) {
        return std::nullopt;
    }
    return fromXml(child->content);
}

std::optional<QString> HTMLNode::allContents() const {
    return allNodeContents(_node);
}

std::optional<QString> HTMLNode::rawContents() const {
    return rawContentsOfNode(_node);
}

int HTMLNode::nodetype() const {
    return nodeType(_node);
}

void HTMLNode::appendChildContentsToString(QString& text, XmlNode* node) {
    walk(node, [&text](XmlNode* n) {
        if (carriesText(n)) {
            text += fromXml(n->content);
        }
        return false;
    });
}

XmlNode* HTMLNode::findChildTagInXMLNode(const char* tagName, XmlNode* node) {
    return walk(node, [tagName](XmlNode* n) { return tagMatches(n, tagName); });
}

void HTMLNode::findChildTagsInXMLNode(const char* tagName, XmlNode* node, QList<HTMLNode>& array) {
    walk(node, [&](XmlNode* n) {
        if (tagMatches(n, tagName)) {
            array.append(HTMLNode(n));
        }
        return false;
    });
}

XmlNode* HTMLNode::findChildWithAttributeInXMLNode(const char* attribute, const char* name,
                                                   XmlNode* node, bool allowPartial) {
    return walk(node,
                [&](XmlNode* n) { return attributeMatches(n, attribute, name, allowPartial); });
}

void HTMLNode::findChildrenWithAttributeInXMLNode(const char* attribute, const char* name,
                                                  XmlNode* node, QList<HTMLNode>& array,
                                                  bool allowPartial) {
    walk(node, [&](XmlNode* n) {
        if (attributeMatches(n, attribute, name, allowPartial)) {
            array.append(HTMLNode(n));
        }
        return false;
    });
}

std::optional<QString> getAttributeNamed(XmlNode* node, const char* name) {
    xmlAttr* attr = firstAttributeNamed(node, name);
    if (attr == nullptr || attr->children == nullptr || !carriesText(attr->children)) {
        return std::nullopt;
    }
    return fromXml(attr->children->content);
}

std::optional<QString> setAttributeNamed(XmlNode* node, const char* name, const char* value) {
    xmlAttr* attr = firstAttributeNamed(node, name);
    if (attr == nullptr || attr->children == nullptr || value == nullptr) {
        return std::nullopt;
    }
    // Replaces every piece of the value with one text node holding a copy of `value`
    // taken as it stands: the content setter would read "&" as the start of an entity
    // reference and lose or rewrite the value.
    XmlNode* text = xmlNewDocText(attr->doc, reinterpret_cast<const xmlChar*>(value));
    if (text == nullptr) {
        return std::nullopt;
    }
    xmlFreeNodeList(attr->children);
    text->parent = reinterpret_cast<XmlNode*>(attr);
    attr->children = text;
    attr->last = text;
    return fromXml(text->content);
}

int nodeType(XmlNode* node) {
    if (node == nullptr || node->name == nullptr) {
        return HTMLUnknownNode;
    }
    static const struct {
        const char* name;
        HTMLNodeType type;
    } kinds[] = {
        {"a", HTMLHrefNode},        {"text", HTMLTextNode},   {"code", HTMLCodeBlockNode},
        {"span", HTMLSpanNode},     {"p", HTMLPNode},         {"li", HTMLLiNode},
        {"ul", HTMLUlNode},         {"image", HTMLImageNode}, {"ol", HTMLOlNode},
        {"strong", HTMLStrongNode}, {"pre", HTMLPreNode},     {"blockquote", HTMLBlockQuoteNode},
    };
    for (const auto& kind : kinds) {
        if (std::strcmp(asChars(node->name), kind.name) == 0) {
            return kind.type;
        }
    }
    return HTMLUnknownNode;
}

std::optional<QString> allNodeContents(XmlNode* node) {
    if (node == nullptr) {
        return std::nullopt;
    }
    xmlChar* content = xmlNodeGetContent(node);
    if (content == nullptr) {
        return QString(QLatin1String(""));
    }
    QString text = fromXml(content);
    xmlFree(content);
    return text;
}

std::optional<QString> rawContentsOfNode(XmlNode* node) {
    if (node == nullptr) {
        return std::nullopt;
    }
    xmlBufferPtr buffer = xmlBufferCreateSize(1000);
    if (buffer == nullptr) {
        return std::nullopt;
    }
    xmlOutputBufferPtr output = xmlOutputBufferCreateBuffer(buffer, nullptr);
    if (output == nullptr) {
        xmlBufferFree(buffer);
        return std::nullopt;
    }
    xmlDocPtr doc = node->doc;
    const char* encoding = doc != nullptr ? asChars(doc->encoding) : nullptr;
    htmlNodeDumpOutput(output, doc, node, encoding);
    xmlOutputBufferFlush(output);

    std::optional<QString> text;
    const int length = xmlBufferLength(buffer);
    if (length > 0) {
        text = QString::fromUtf8(asChars(xmlBufferContent(buffer)), length);
    }
    xmlOutputBufferClose(output);
    xmlBufferFree(buffer);
    return text;
}

} // namespace sondrel
