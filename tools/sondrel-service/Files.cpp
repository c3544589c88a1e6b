#include "Files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace standin {
namespace {

std::string envOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return (value != nullptr && *value != '\0') ? std::string(value) : fallback;
}

std::string homeDir() {
    return envOr("HOME", "/tmp");
}

} // namespace

std::string defaultDataDir() {
    return envOr("XDG_DATA_HOME", homeDir() + "/.local/share") + "/sondrel-service";
}

std::string defaultCacheDir() {
    return envOr("XDG_CACHE_HOME", homeDir() + "/.cache") + "/sondrel-service";
}

std::string defaultInfoPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime != '\0') {
        return std::string(runtime) + "/sondrel-service.json";
    }
    return (std::filesystem::temp_directory_path() / "sondrel-service.json").string();
}

bool makeDirs(const std::string& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    return std::filesystem::is_directory(dir, ec);
}

std::optional<std::string> readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) {
        return std::nullopt;
    }
    return buffer.str();
}

std::string writeFileAtomically(const std::string& path, const std::string& contents,
                                unsigned mode) {
    std::string temp = path + ".tmp-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        return "cannot create a temp file beside " + path + ": " + std::strerror(errno);
    }
    auto fail = [&](const char* step) {
        const std::string text = std::string(step) + " " + temp + ": " + std::strerror(errno);
        ::close(fd);
        ::unlink(temp.c_str());
        return text;
    };
    std::size_t done = 0;
    while (done < contents.size()) {
        const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail("cannot write");
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fchmod(fd, mode) != 0) {
        return fail("cannot set the mode of");
    }
    if (::fsync(fd) != 0) {
        return fail("cannot flush");
    }
    if (::close(fd) != 0) {
        ::unlink(temp.c_str());
        return "cannot close " + temp + ": " + std::strerror(errno);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const std::string text =
            "cannot rename " + temp + " to " + path + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return text;
    }
    return {};
}

std::string absolutePath(const std::string& path) {
    std::error_code ec;
    auto abs = std::filesystem::absolute(path, ec);
    return ec ? path : abs.lexically_normal().string();
}

} // namespace standin
