#pragma once
// The service's command line. parseOptions() fills Options or says what is wrong;
// usageText() is the --help text and documents every option.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace standin {

struct Options {
    int httpsPort = 47443; // 0: any free port
    int httpPort = 47080;  // 0: any free port
    std::string certDir;   // default: data dir
    std::string infoPath;  // default: runtime dir
    std::string cacheDir;  // default: cache dir (demo songs, captcha-free)
    std::string clientId = "4713298";

    std::vector<std::string> tokens; // extra accepted tokens
    bool demoToken = true;           // accept "demo-token"
    std::int64_t tokenLifetime = 0;  // seconds; 0 = tokens never expire
    int forceError = 0;              // answer every API call with this error code

    std::string libraryDir; // serve these MP3s instead of demo songs
    int demoCount = 12;
    int demoSeconds = 20;

    std::string songFault; // fault query applied to every song request

    std::int64_t userId = 1001;
    std::string login = "demo";
    std::string password = "demo";
    int captchaEvery = 0;       // every Nth status.set that sets a song demands a captcha
    bool feedLogoutLink = true; // the feed page carries the logout link

    bool verbose = false;
    bool help = false;
};

// Parses argv. On error returns std::nullopt and sets `error`.
std::optional<Options> parseOptions(int argc, char** argv, std::string& error);

std::string usageText();

} // namespace standin
