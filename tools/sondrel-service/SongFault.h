#pragma once
// How a song request should misbehave. Tests ask for faults per request through
// parameters of the song address (the player fetches whatever address a song record
// holds), and --song-fault applies one to every song request; the address's own
// parameters win over the flag's.

#include <cstdint>
#include <map>
#include <string>

namespace standin {

struct SongFault {
    enum class Kind { None, Drop, Stall, Garbage };
    Kind kind = Kind::None;
    std::uint64_t after = 0;  // drop/stall at this byte of the whole file
    double stallSeconds = -1; // < 0: until the service stops or is reset
    std::uint64_t rate = 0;   // bytes per second; 0 = unlimited
    int status = 0;           // answer this HTTP status with an HTML page
    bool chunked = false;     // chunked transfer encoding, no Content-Length
    std::uint64_t id3pad = 0; // bytes of ID3v2 tag to prepend
    bool once = false;        // drop/stall only on the first request for the address
    bool noRange = false;     // ignore Range: always the whole file with 200
    bool changed = false;     // later requests for the address get another version of
                              // the file (a longer tag, other validators)

    bool any() const {
        return kind != Kind::None || rate != 0 || status != 0 || chunked || id3pad != 0 ||
               noRange || changed;
    }
};

// Applies the fault parameters found in `params` on top of `base`. Unknown parameters
// and malformed values are ignored.
SongFault applyFaultParams(SongFault base, const std::multimap<std::string, std::string>& params);

// Parses a "fault=drop&after=1000" style text (the --song-fault flag).
SongFault parseFaultQuery(const std::string& query);

// An ID3v2.3 tag of exactly `size` bytes (at least 10): one private frame with
// picture-like filler bytes, then zero padding.
std::string makeId3Tag(std::uint64_t size);

// The byte the garbage fault sends at `position`: never 0xFF, so no MP3 frame sync can
// appear, and never an "ID3" start.
char garbageByte(std::uint64_t position);

} // namespace standin
