#include "support/HTMLParser.h"

#include "platform/Network.h"

#include <QFile>
#include <climits>
#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <mutex>

namespace sondrel {
namespace {

static_assert(kHTMLParseOptionsForString ==
              (HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING));
static_assert(kHTMLParseOptionsForData == (HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING));

// The IANA name of the page's character set: text is always handed over as UTF-8.
constexpr const char* kEncoding = "UTF-8";

void initLibxml() {
    // libxml2 wants its global set-up done once before parsers run on several threads.
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

HTMLParserError noInputError() {
    return {QString::fromLatin1(kHTMLParserErrorDomain), 1, QStringLiteral("No input to parse")};
}

} // namespace

HTMLParser::~HTMLParser() {
    if (_doc != nullptr) {
        xmlFreeDoc(_doc);
    }
}

std::unique_ptr<HTMLParser> HTMLParser::initWithString(const QString& string,
                                                       HTMLParserError* error) {
    initLibxml();
    if (string.isEmpty()) {
        if (error != nullptr) {
            *error = noInputError();
        }
        return std::unique_ptr<HTMLParser>(new HTMLParser(nullptr));
    }
    const QByteArray bytes = string.toUtf8();
    xmlDocPtr doc = htmlReadDoc(reinterpret_cast<const xmlChar*>(bytes.constData()), nullptr,
                                kEncoding, kHTMLParseOptionsForString);
    return std::unique_ptr<HTMLParser>(new HTMLParser(doc));
}

std::unique_ptr<HTMLParser> HTMLParser::initWithData(const std::optional<QByteArray>& data,
                                                     HTMLParserError* error) {
    initLibxml();
    if (!data.has_value()) {
        if (error != nullptr) {
            *error = noInputError();
        }
        return std::unique_ptr<HTMLParser>(new HTMLParser(nullptr));
    }
    // libxml2 takes an int length: a larger page is not parsed rather than cut short.
    if (data->size() > INT_MAX) {
        return std::unique_ptr<HTMLParser>(new HTMLParser(nullptr));
    }
    xmlDocPtr doc = htmlReadMemory(data->constData(), static_cast<int>(data->size()), "", kEncoding,
                                   kHTMLParseOptionsForData);
    return std::unique_ptr<HTMLParser>(new HTMLParser(doc));
}

std::unique_ptr<HTMLParser> HTMLParser::initWithContentsOfURL(const QUrl& url,
                                                              HTMLParserError* error) {
    QByteArray bytes;
    if (url.isLocalFile()) {
        QFile file(url.toLocalFile());
        if (!file.open(QIODevice::ReadOnly)) {
            if (error != nullptr) {
                *error = {QStringLiteral("QFileDevice"), static_cast<int>(file.error()),
                          file.errorString()};
            }
            return nullptr;
        }
        bytes = file.readAll();
        if (file.error() != QFileDevice::NoError) {
            if (error != nullptr) {
                *error = {QStringLiteral("QFileDevice"), static_cast<int>(file.error()),
                          file.errorString()};
            }
            return nullptr;
        }
    } else {
        const HttpResult result = blockingGet(url);
        if (!result.ok || result.httpStatus < 200 || result.httpStatus >= 300) {
            if (error != nullptr) {
                *error = {QStringLiteral("QNetworkReply"), result.httpStatus,
                          result.ok ? QStringLiteral("HTTP status %1").arg(result.httpStatus)
                                    : result.error};
            }
            return nullptr;
        }
        bytes = result.body;
    }
    return initWithData(bytes, error);
}

std::optional<HTMLNode> HTMLParser::doc() const {
    if (_doc == nullptr) {
        return std::nullopt;
    }
    return HTMLNode(reinterpret_cast<XmlNode*>(_doc));
}

std::optional<HTMLNode> HTMLParser::findInDocument(const char* tagName) const {
    if (_doc == nullptr) {
        return std::nullopt;
    }
    XmlNode* found = HTMLNode::findChildTagInXMLNode(tagName, _doc->children);
    if (found == nullptr) {
        return std::nullopt;
    }
    return HTMLNode(found);
}

std::optional<HTMLNode> HTMLParser::html() const {
    return findInDocument("html");
}
std::optional<HTMLNode> HTMLParser::head() const {
    return findInDocument("head");
}
std::optional<HTMLNode> HTMLParser::body() const {
    return findInDocument("body");
}

} // namespace sondrel
