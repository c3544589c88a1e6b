#include "TextCase.h"

#include <cstdint>

namespace standin {
namespace {

char32_t lowerCodePoint(char32_t c) {
    if (c >= U'A' && c <= U'Z') {
        return c + 32;
    }
    if (c < 0xC0) {
        return c;
    }
    // Latin-1 capitals, except the multiplication sign.
    if (c <= 0xDE) {
        return c == 0xD7 ? c : c + 32;
    }
    // Latin Extended-A: capitals and small letters alternate (with one shift at 0x139).
    if (c >= 0x100 && c <= 0x137) {
        return (c % 2 == 0) ? c + 1 : c;
    }
    if (c >= 0x139 && c <= 0x148) {
        return (c % 2 == 1) ? c + 1 : c;
    }
    if (c >= 0x14A && c <= 0x177) {
        return (c % 2 == 0) ? c + 1 : c;
    }
    if (c == 0x178) {
        return 0xFF;
    }
    if (c >= 0x179 && c <= 0x17E) {
        return (c % 2 == 1) ? c + 1 : c;
    }
    // Greek capitals.
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) {
        return c + 32;
    }
    // Cyrillic: Ѐ..Џ, А..Я, then the paired letters of the extended block.
    if (c >= 0x400 && c <= 0x40F) {
        return c + 80;
    }
    if (c >= 0x410 && c <= 0x42F) {
        return c + 32;
    }
    if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x52F)) {
        return (c % 2 == 0) ? c + 1 : c;
    }
    if (c >= 0x4C1 && c <= 0x4CE) {
        return (c % 2 == 1) ? c + 1 : c;
    }
    if (c == 0x4C0) {
        return 0x4CF;
    }
    return c;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Decodes one code point at `i`; returns its length in bytes, or 0 for an invalid
// sequence.
std::size_t decodeUtf8(std::string_view s, std::size_t i, char32_t& c) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    std::size_t len = 0;
    if (b0 < 0x80) {
        c = b0;
        return 1;
    }
    if ((b0 & 0xE0) == 0xC0) {
        len = 2;
        c = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3;
        c = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4;
        c = b0 & 0x07;
    } else {
        return 0;
    }
    if (i + len > s.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) {
            return 0;
        }
        c = (c << 6) | (b & 0x3F);
    }
    // Overlong forms and surrogates count as invalid.
    static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kMin[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        return 0;
    }
    return len;
}

// `text` rewritten code point by code point: `valid(out, c)` appends for a decoded
// code point, `invalid(out, byte)` for a byte that starts no valid sequence.
template <typename Valid, typename Invalid>
std::string rewriteUtf8(std::string_view text, Valid valid, Invalid invalid) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        char32_t c = 0;
        const std::size_t len = decodeUtf8(text, i, c);
        if (len == 0) {
            invalid(out, text[i]);
            ++i;
        } else {
            valid(out, c);
            i += len;
        }
    }
    return out;
}

} // namespace

std::string lowerUtf8(std::string_view text) {
    return rewriteUtf8(
        text, [](std::string& out, char32_t c) { appendUtf8(out, lowerCodePoint(c)); },
        [](std::string& out, char byte) { out += byte; });
}

std::string validUtf8(std::string_view text) {
    return rewriteUtf8(
        text, [](std::string& out, char32_t c) { appendUtf8(out, c); },
        [](std::string& out, char) { appendUtf8(out, U'\uFFFD'); });
}

bool containsFolded(std::string_view haystack, std::string_view needle) {
    return lowerUtf8(haystack).find(lowerUtf8(needle)) != std::string::npos;
}

} // namespace standin
