// Song files: /audio/<aid>.mp3 on both listeners, with single Range requests and the
// fault parameters of SongFault.h.

#include "Html.h"
#include "Routes.h"
#include "ServiceState.h"
#include "SongFault.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <httplib.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace standin {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint64_t kChunk = 16 * 1024;

struct ByteRange {
    std::uint64_t start = 0;
    std::uint64_t length = 0;
};

enum class RangeResult { None, Satisfiable, Unsatisfiable };

// Parses a single "bytes=A-B", "bytes=A-" or "bytes=-N" range against `total`.
// Anything else (several ranges, other units, syntax errors) is ignored and the whole
// file is sent, as HTTP allows.
RangeResult parseRange(const std::string& header, std::uint64_t total, ByteRange& out) {
    const std::string prefix = "bytes=";
    if (header.rfind(prefix, 0) != 0 || header.find(',') != std::string::npos) {
        return RangeResult::None;
    }
    const std::string spec = header.substr(prefix.size());
    const auto dash = spec.find('-');
    if (dash == std::string::npos) {
        return RangeResult::None;
    }
    const std::string a = spec.substr(0, dash);
    const std::string b = spec.substr(dash + 1);
    auto number = [](const std::string& s, std::uint64_t& v) {
        if (s.empty() || s.size() > 18 || s.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
        v = std::stoull(s);
        return true;
    };
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    if (a.empty()) {
        if (!number(b, last)) {
            return RangeResult::None;
        }
        if (last == 0 || total == 0) {
            return RangeResult::Unsatisfiable;
        }
        out.length = std::min(last, total);
        out.start = total - out.length;
        return RangeResult::Satisfiable;
    }
    if (!number(a, first) || (!b.empty() && !number(b, last)) || (!b.empty() && last < first)) {
        return RangeResult::None;
    }
    if (first >= total) {
        return RangeResult::Unsatisfiable;
    }
    if (b.empty() || last >= total) {
        last = total - 1;
    }
    out.start = first;
    out.length = last - first + 1;
    return RangeResult::Satisfiable;
}

// Sleeps up to `duration` in short steps; false when the service stops or is reset
// meanwhile.
bool pause(const ServiceState& state, std::uint64_t generation, Clock::duration duration) {
    const auto until = Clock::now() + duration;
    while (Clock::now() < until) {
        if (state.stopping() || state.resetGeneration() != generation) {
            return false;
        }
        std::this_thread::sleep_for(
            std::min<Clock::duration>(std::chrono::milliseconds(20), until - Clock::now()));
    }
    return true;
}

// One song response in progress. Owned by the content provider, so it lives exactly as
// long as httplib may still ask for bytes; it closes the file at the end.
class Transfer {
public:
    Transfer(const ServiceState& state, SongFault fault, std::string prefix, int fd,
             ByteRange range)
        : state(state), fault(fault), prefix(std::move(prefix)), fd(fd), range(range),
          generation(state.resetGeneration()), began(Clock::now()),
          faultActive(fault.after >= range.start) {}
    ~Transfer() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    std::uint64_t length() const { return range.length; }

    // Writes the next piece starting at `offset` within the range. False ends the
    // response and closes the connection.
    bool produce(std::uint64_t offset, httplib::DataSink& sink) {
        const std::uint64_t pos = range.start + offset;
        const std::uint64_t end = range.start + range.length;
        const bool beforeFault = faultActive && pos < fault.after;
        if (faultActive && pos == fault.after) {
            if (fault.kind == SongFault::Kind::Drop) {
                return false;
            }
            if (fault.kind == SongFault::Kind::Stall && !stalled) {
                stalled = true;
                const auto duration = fault.stallSeconds < 0
                                          ? Clock::duration::max() / 2
                                          : std::chrono::duration_cast<Clock::duration>(
                                                std::chrono::duration<double>(fault.stallSeconds));
                if (!pause(state, generation, duration) && state.stopping()) {
                    return false;
                }
            }
        }
        std::uint64_t n = std::min(kChunk, end - pos);
        if (beforeFault && fault.kind != SongFault::Kind::None) {
            n = std::min(n, fault.after - pos);
        }
        if (fault.rate > 0) {
            n = std::min(n, std::max<std::uint64_t>(1, fault.rate / 10));
            const auto due =
                began + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>(static_cast<double>(sent) / fault.rate));
            if (Clock::now() < due && !pause(state, generation, due - Clock::now()) &&
                state.stopping()) {
                return false;
            }
        }
        std::string buffer;
        if (!read(pos, n, buffer) || !sink.write(buffer.data(), buffer.size())) {
            return false;
        }
        sent += n;
        return true;
    }

private:
    bool read(std::uint64_t pos, std::uint64_t n, std::string& out) const {
        out.resize(n);
        if (fault.kind == SongFault::Kind::Garbage) {
            for (std::uint64_t i = 0; i < n; ++i) {
                out[i] = garbageByte(pos + i);
            }
            return true;
        }
        std::uint64_t done = 0;
        while (done < n && pos + done < prefix.size()) {
            out[done] = prefix[pos + done];
            ++done;
        }
        while (done < n) {
            const auto filePos = static_cast<off_t>(pos + done - prefix.size());
            const ssize_t got = ::pread(fd, out.data() + done, n - done, filePos);
            if (got <= 0) {
                return false; // the file shrank or vanished: end the response
            }
            done += static_cast<std::uint64_t>(got);
        }
        return true;
    }

    const ServiceState& state;
    const SongFault fault;
    const std::string prefix;
    const int fd;
    const ByteRange range;
    const std::uint64_t generation;
    const Clock::time_point began;
    const bool faultActive;
    std::uint64_t sent = 0;
    bool stalled = false;
};

void answerStatus(const httplib::Request& req, httplib::Response& res, int status) {
    res.status = status;
    if (status >= 300 && status < 400) {
        // A redirect to the same song without the status parameter.
        std::string query;
        for (const auto& [key, value] : req.params) {
            if (key == "status") {
                continue;
            }
            query += (query.empty() ? "?" : "&") + httplib::detail::encode_query_param(key) + "=" +
                     httplib::detail::encode_query_param(value);
        }
        res.set_header("Location", req.path + query);
    }
    const std::string title = std::to_string(status) + " " + statusReason(status);
    res.set_content(htmlPage(title, "<h1>" + htmlEscape(title) + "</h1>"),
                    "text/html; charset=utf-8");
}

// The extra tag that makes the "changed" version of a song.
constexpr std::uint64_t kChangedTagSize = 4096;

// ETag and Last-Modified of one version of a song file.
struct Validators {
    std::string etag;
    std::string lastModified;
};

Validators validatorsFor(const Song& song, int fd, std::uint64_t total, bool changed) {
    struct stat st {};
    std::time_t modified = fd >= 0 && ::fstat(fd, &st) == 0 ? st.st_mtime : 0;
    if (changed) {
        modified += 86400;
    }
    std::tm utc{};
    gmtime_r(&modified, &utc);
    char date[64];
    std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", &utc);
    return {"\"" + std::to_string(song.aid) + "-" + std::to_string(total) + "-" +
                std::to_string(static_cast<long long>(modified)) + "\"",
            date};
}

void serveSong(ServiceState& state, const httplib::Request& req, httplib::Response& res) {
    // The song handler answers Range requests itself (exact Content-Range, 416 for
    // ranges past the end, faults counted in file positions), so httplib's own range
    // slicing must not run on top of it.
    const_cast<httplib::Request&>(req).ranges.clear();

    const Song* song = nullptr;
    try {
        song = state.library().find(std::stoll(req.matches[1].str()));
    } catch (const std::exception&) {
        song = nullptr;
    }
    if (song == nullptr) {
        answerStatus(req, res, 404);
        return;
    }
    SongFault fault = applyFaultParams(state.songFault(), req.params);
    const int requestNumber = state.countSongRequest(req.target);
    if (fault.once && requestNumber > 1 &&
        (fault.kind == SongFault::Kind::Drop || fault.kind == SongFault::Kind::Stall)) {
        fault.kind = SongFault::Kind::None;
    }
    const bool changedVersion = fault.changed && requestNumber > 1;
    if (fault.status != 0 && fault.status != 200) {
        answerStatus(req, res, fault.status);
        return;
    }
    const int fd = fault.kind == SongFault::Kind::Garbage
                       ? -1
                       : ::open(song->path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && fault.kind != SongFault::Kind::Garbage) {
        answerStatus(req, res, 500);
        return;
    }
    const std::uint64_t tagSize = fault.id3pad + (changedVersion ? kChangedTagSize : 0);
    std::string prefix =
        tagSize > 0 && fault.kind != SongFault::Kind::Garbage ? makeId3Tag(tagSize) : std::string();
    const std::uint64_t total = prefix.size() + song->size;
    const Validators validators = validatorsFor(*song, fd, total, changedVersion);
    res.set_header("ETag", validators.etag);
    res.set_header("Last-Modified", validators.lastModified);

    // A Range counts only while If-Range (if sent) names this version of the file.
    const std::string ifRange = req.get_header_value("If-Range");
    const bool rangeApplies = !fault.noRange && (ifRange.empty() || ifRange == validators.etag ||
                                                 ifRange == validators.lastModified);
    ByteRange range{0, total};
    const RangeResult rangeResult =
        rangeApplies ? parseRange(req.get_header_value("Range"), total, range) : RangeResult::None;
    if (rangeResult == RangeResult::Unsatisfiable) {
        if (fd >= 0) {
            ::close(fd);
        }
        res.status = 416;
        res.set_header("Content-Range", "bytes */" + std::to_string(total));
        res.set_content(htmlPage("416", "<h1>416 Range Not Satisfiable</h1>"),
                        "text/html; charset=utf-8");
        return;
    }
    if (rangeResult == RangeResult::Satisfiable) {
        res.status = 206;
        res.set_header("Content-Range", "bytes " + std::to_string(range.start) + "-" +
                                            std::to_string(range.start + range.length - 1) + "/" +
                                            std::to_string(total));
    } else {
        range = {0, total};
        res.status = 200;
    }
    res.set_header("Accept-Ranges", "bytes");

    auto transfer = std::make_shared<Transfer>(state, fault, std::move(prefix), fd, range);
    const char* type = "audio/mpeg";
    if (fault.chunked) {
        res.set_chunked_content_provider(type,
                                         [transfer](std::size_t offset, httplib::DataSink& sink) {
                                             if (offset >= transfer->length()) {
                                                 sink.done();
                                                 return true;
                                             }
                                             return transfer->produce(offset, sink);
                                         });
    } else {
        res.set_content_provider(
            range.length, type,
            [transfer](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                return transfer->produce(offset, sink);
            });
    }
}

} // namespace

void registerSongRoutes(httplib::Server& server, ServiceState& state) {
    server.Get(R"(/audio/(\d{1,18})\.mp3)",
               [&state](const httplib::Request& req, httplib::Response& res) {
                   serveSong(state, req, res);
               });
}

} // namespace standin
