#pragma once
// A tiny JSON writer: the service only ever produces JSON, never reads it, so a
// string builder with correct escaping is all it needs.
//
//   JsonWriter w;
//   w.beginObject().key("response").beginArray().value(3).endArray().endObject();
//   std::string text = w.str();
//
// Commas are inserted automatically. Strings are written as UTF-8 with the control
// characters, quote and backslash escaped.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

class JsonWriter {
public:
    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray();
    JsonWriter& endArray();
    JsonWriter& key(std::string_view name);
    JsonWriter& value(std::string_view text);
    JsonWriter& value(const char* text) { return value(std::string_view(text)); }
    JsonWriter& value(const std::string& text) { return value(std::string_view(text)); }
    JsonWriter& value(std::int64_t number);
    JsonWriter& value(int number) { return value(static_cast<std::int64_t>(number)); }
    JsonWriter& value(bool flag);
    JsonWriter& null();

    // Shorthand for key(name).value(v).
    template <typename T> JsonWriter& field(std::string_view name, const T& v) {
        key(name);
        return value(v);
    }

    const std::string& str() const { return out; }

private:
    void separate();

    std::string out;
    std::vector<bool> needComma; // one entry per open object/array
    bool afterKey = false;
};

// `text` as a JSON string literal, quotes included.
std::string jsonQuote(std::string_view text);

} // namespace standin
