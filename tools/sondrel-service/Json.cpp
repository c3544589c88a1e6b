#include "Json.h"

#include "TextCase.h"

#include <cstdio>

namespace standin {

std::string jsonQuote(std::string_view raw) {
    // A song's file name may be in another encoding than UTF-8; JSON must not be.
    const std::string text = validUtf8(raw);
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (u < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", u);
                out += buf;
            } else {
                out += c;
            }
        }
    }
    out += '"';
    return out;
}

void JsonWriter::separate() {
    if (afterKey) {
        afterKey = false;
        return;
    }
    if (!needComma.empty()) {
        if (needComma.back()) {
            out += ',';
        }
        needComma.back() = true;
    }
}

JsonWriter& JsonWriter::beginObject() {
    separate();
    out += '{';
    needComma.push_back(false);
    return *this;
}

JsonWriter& JsonWriter::endObject() {
    out += '}';
    needComma.pop_back();
    return *this;
}

JsonWriter& JsonWriter::beginArray() {
    separate();
    out += '[';
    needComma.push_back(false);
    return *this;
}

JsonWriter& JsonWriter::endArray() {
    out += ']';
    needComma.pop_back();
    return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
    separate();
    out += jsonQuote(name);
    out += ':';
    afterKey = true;
    return *this;
}

JsonWriter& JsonWriter::value(std::string_view text) {
    separate();
    out += jsonQuote(text);
    return *this;
}

JsonWriter& JsonWriter::value(std::int64_t number) {
    separate();
    out += std::to_string(number);
    return *this;
}

JsonWriter& JsonWriter::value(bool flag) {
    separate();
    out += flag ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::null() {
    separate();
    out += "null";
    return *this;
}

} // namespace standin
