// sondrel-service: a stand-in for the music service the Sondrel player talks to, on
// 127.0.0.1. See --help (Options.cpp) for what it serves and how tests steer it.

#include "Certificate.h"
#include "Options.h"
#include "Server.h"
#include "ServiceState.h"
#include "Song.h"

#include <iostream>
#include <string_view>

int main(int argc, char** argv) {
    using namespace standin;
    blockServiceSignals();
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--version") {
            std::cout << "sondrel-service " SONDREL_VERSION "\n";
            return 0;
        }
    }

    std::string error;
    const auto options = parseOptions(argc, argv, error);
    if (!options) {
        std::cerr << "sondrel-service: " << error << "\nTry --help.\n";
        return 2;
    }
    if (options->help) {
        std::cout << usageText();
        return 0;
    }

    std::vector<Song> songs = options->libraryDir.empty()
                                  ? makeDemoSongs(options->cacheDir, options->demoCount,
                                                  options->demoSeconds, options->userId, error)
                                  : scanLibrary(options->libraryDir, options->userId, error);
    if (songs.empty()) {
        std::cerr << "sondrel-service: " << error << "\n";
        return 1;
    }

    const TlsIdentity identity = loadOrCreateIdentity(options->certDir, error);
    if (!identity.certificate) {
        std::cerr << "sondrel-service: " << error << "\n";
        return 1;
    }

    ServiceState state(*options, Library(std::move(songs)));
    return runServer(state, identity);
}
