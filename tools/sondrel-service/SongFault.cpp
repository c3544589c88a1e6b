#include "SongFault.h"

#include <algorithm>
#include <cstdlib>
#include <httplib.h>

namespace standin {
namespace {

constexpr std::uint64_t kMaxId3Size = (1u << 28) - 1 + 10; // largest syncsafe size

bool toUnsigned(const std::string& text, std::uint64_t& out) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 18) {
        return false;
    }
    out = std::strtoull(text.c_str(), nullptr, 10);
    return true;
}

std::uint64_t mix(std::uint64_t x) {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ULL;
    x ^= x >> 33;
    return x;
}

} // namespace

SongFault applyFaultParams(SongFault fault, const std::multimap<std::string, std::string>& params) {
    auto get = [&](const char* name) -> const std::string* {
        const auto it = params.find(name);
        return it == params.end() ? nullptr : &it->second;
    };
    if (const auto* v = get("fault")) {
        if (*v == "drop") {
            fault.kind = SongFault::Kind::Drop;
        } else if (*v == "stall") {
            fault.kind = SongFault::Kind::Stall;
        } else if (*v == "garbage") {
            fault.kind = SongFault::Kind::Garbage;
        } else if (*v == "none") {
            fault.kind = SongFault::Kind::None;
        }
    }
    std::uint64_t n = 0;
    if (const auto* v = get("after"); v != nullptr && toUnsigned(*v, n)) {
        fault.after = n;
    }
    if (const auto* v = get("seconds")) {
        char* end = nullptr;
        const double s = std::strtod(v->c_str(), &end);
        if (end != v->c_str() && *end == '\0' && s >= 0 && s < 1e6) {
            fault.stallSeconds = s;
        }
    }
    if (const auto* v = get("rate"); v != nullptr && toUnsigned(*v, n)) {
        fault.rate = n;
    }
    if (const auto* v = get("status"); v != nullptr && toUnsigned(*v, n) && n >= 100 && n <= 599) {
        fault.status = static_cast<int>(n);
    }
    auto flag = [&](const char* name, bool& out) {
        if (const auto* v = get(name)) {
            out = (*v == "1" || *v == "true");
        }
    };
    flag("chunked", fault.chunked);
    flag("once", fault.once);
    flag("norange", fault.noRange);
    flag("changed", fault.changed);
    if (const auto* v = get("id3pad"); v != nullptr && toUnsigned(*v, n)) {
        fault.id3pad = n == 0 ? 0 : std::clamp<std::uint64_t>(n, 10, kMaxId3Size);
    }
    return fault;
}

SongFault parseFaultQuery(const std::string& query) {
    httplib::Params params;
    httplib::detail::parse_query_text(query, params);
    return applyFaultParams({}, params);
}

std::string makeId3Tag(std::uint64_t size) {
    size = std::clamp<std::uint64_t>(size, 10, kMaxId3Size);
    std::string tag(size, '\0');
    const std::uint64_t body = size - 10;
    tag[0] = 'I';
    tag[1] = 'D';
    tag[2] = '3';
    tag[3] = 3; // version 2.3.0, no flags
    for (int i = 0; i < 4; ++i) {
        tag[6 + i] = static_cast<char>((body >> (7 * (3 - i))) & 0x7F);
    }
    static constexpr char kOwner[] = "sondrel-pad"; // with its terminating zero
    const std::uint64_t frameHeader = 10;
    if (body < frameHeader + sizeof kOwner + 1) {
        return tag; // too small for a frame: all padding
    }
    const std::uint64_t frameSize = body - frameHeader;
    std::size_t p = 10;
    tag.replace(p, 4, "PRIV");
    for (int i = 0; i < 4; ++i) {
        tag[p + 4 + i] = static_cast<char>((frameSize >> (8 * (3 - i))) & 0xFF);
    }
    p += frameHeader;
    std::copy(kOwner, kOwner + sizeof kOwner, tag.begin() + static_cast<std::ptrdiff_t>(p));
    p += sizeof kOwner;
    // Filler that looks like compressed picture data, frame syncs included: a reader
    // must skip the tag by its size, not by scanning for a frame.
    for (; p < tag.size(); ++p) {
        tag[p] = static_cast<char>(mix(p) & 0xFF);
    }
    return tag;
}

char garbageByte(std::uint64_t position) {
    // 7-bit values keep 0xFF (and so any frame sync) out; "I" is replaced so the data
    // never starts an ID3 tag.
    char c = static_cast<char>(mix(position ^ 0x5eed) & 0x7F);
    return c == 'I' ? 'J' : c;
}

} // namespace standin
