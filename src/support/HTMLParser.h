#pragma once
// Parses one HTML page with libxml2 into a document it owns; its nodes are read through
// HTMLNode views. The parser keeps whatever document libxml2 made (possibly none); every
// query of a parser without a document answers nothing.
//
// Threading: none of its own; a parser is used by one thread at a time. Different
// parsers are independent. initWithContentsOfURL blocks while it reads the resource
// (use it on a background job for network addresses).

#include "support/HTMLNode.h"

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <memory>
#include <optional>

struct _xmlDoc;

namespace sondrel {

inline constexpr const char* kHTMLParserErrorDomain = "HTMLParserdomain";
// Options for text input: recover, no error reports, no warning reports.
inline constexpr int kHTMLParseOptionsForString = 97;
// Options for byte input: no error reports, no warning reports (recovery off).
inline constexpr int kHTMLParseOptionsForData = 96;

struct HTMLParserError {
    QString domain;
    int code = 0; // 1: there was no input to parse
    QString description;
};

class HTMLParser {
public:
    ~HTMLParser();
    HTMLParser(const HTMLParser&) = delete;
    HTMLParser& operator=(const HTMLParser&) = delete;

    // An empty string makes no document and stores the code 1 error in `error`.
    static std::unique_ptr<HTMLParser> initWithString(const QString& string,
                                                      HTMLParserError* error = nullptr);
    // No data (nullopt) makes no document and stores the code 1 error; empty data is
    // parsed.
    static std::unique_ptr<HTMLParser> initWithData(const std::optional<QByteArray>& data,
                                                    HTMLParserError* error = nullptr);
    // Reads the whole resource (a file, or http(s) through the shared network setup) and
    // parses it as bytes; nothing, with the reading error, when it cannot be read.
    static std::unique_ptr<HTMLParser> initWithContentsOfURL(const QUrl& url,
                                                             HTMLParserError* error = nullptr);

    std::optional<HTMLNode> doc() const;
    std::optional<HTMLNode> html() const;
    std::optional<HTMLNode> head() const;
    std::optional<HTMLNode> body() const;

    bool hasDocument() const { return _doc != nullptr; }

private:
    explicit HTMLParser(struct _xmlDoc* doc) : _doc(doc) {}
    std::optional<HTMLNode> findInDocument(const char* tagName) const;

    struct _xmlDoc* _doc; // owned; freed with the parser
};

} // namespace sondrel
