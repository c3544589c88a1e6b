// Child process of the store crash tests. Runs against $XDG_DATA_HOME:
//   store_writer save N       adds N songs, saves, prints "saved", waits to be killed
//   store_writer midsave N    adds N songs ("g1"), saves, prints "first saved", rewrites
//                             them all ("g2") and saves again; partway through writing
//                             the store file it prints "midwrite" and waits to be killed
// The pause inside the second save comes from a pass-through SQLite file layer that
// stops after the store file has taken a few page writes of the commit.

#include "shell/AppDelegate.h"
#include "shell/EntitySongs.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <sqlite3.h>
#include <unistd.h>

namespace {

sqlite3_vfs* realVfs = nullptr;
bool armed = false;
int mainWrites = 0;

struct ShimFile {
    sqlite3_file base;
    sqlite3_file* real;
    bool mainDb;
};

sqlite3_file* real(sqlite3_file* f) {
    return reinterpret_cast<ShimFile*>(f)->real;
}

void waitToBeKilled(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
    for (;;) {
        pause();
    }
}

int shimClose(sqlite3_file* f) {
    return real(f)->pMethods->xClose(real(f));
}
int shimRead(sqlite3_file* f, void* p, int n, sqlite3_int64 o) {
    return real(f)->pMethods->xRead(real(f), p, n, o);
}
int shimWrite(sqlite3_file* f, const void* p, int n, sqlite3_int64 o) {
    if (armed && reinterpret_cast<ShimFile*>(f)->mainDb && ++mainWrites == 3) {
        waitToBeKilled("midwrite");
    }
    return real(f)->pMethods->xWrite(real(f), p, n, o);
}
int shimTruncate(sqlite3_file* f, sqlite3_int64 size) {
    return real(f)->pMethods->xTruncate(real(f), size);
}
int shimSync(sqlite3_file* f, int flags) {
    return real(f)->pMethods->xSync(real(f), flags);
}
int shimFileSize(sqlite3_file* f, sqlite3_int64* size) {
    return real(f)->pMethods->xFileSize(real(f), size);
}
int shimLock(sqlite3_file* f, int l) {
    return real(f)->pMethods->xLock(real(f), l);
}
int shimUnlock(sqlite3_file* f, int l) {
    return real(f)->pMethods->xUnlock(real(f), l);
}
int shimCheckReservedLock(sqlite3_file* f, int* out) {
    return real(f)->pMethods->xCheckReservedLock(real(f), out);
}
int shimFileControl(sqlite3_file* f, int op, void* arg) {
    return real(f)->pMethods->xFileControl(real(f), op, arg);
}
int shimSectorSize(sqlite3_file* f) {
    return real(f)->pMethods->xSectorSize(real(f));
}
int shimDeviceCharacteristics(sqlite3_file* f) {
    return real(f)->pMethods->xDeviceCharacteristics(real(f));
}

const sqlite3_io_methods shimMethods = {1,
                                        shimClose,
                                        shimRead,
                                        shimWrite,
                                        shimTruncate,
                                        shimSync,
                                        shimFileSize,
                                        shimLock,
                                        shimUnlock,
                                        shimCheckReservedLock,
                                        shimFileControl,
                                        shimSectorSize,
                                        shimDeviceCharacteristics,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr};

int shimOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
    auto* shim = reinterpret_cast<ShimFile*>(file);
    shim->real = reinterpret_cast<sqlite3_file*>(shim + 1);
    shim->mainDb = (flags & SQLITE_OPEN_MAIN_DB) != 0;
    const int rc = realVfs->xOpen(realVfs, name, shim->real, flags, outFlags);
    shim->base.pMethods = rc == SQLITE_OK ? &shimMethods : nullptr;
    return rc;
}

void installShim() {
    static sqlite3_vfs shim;
    realVfs = sqlite3_vfs_find(nullptr);
    shim = *realVfs;
    shim.iVersion = 1; // no shared-memory methods: the store uses a rollback journal
    shim.szOsFile = static_cast<int>(sizeof(ShimFile)) + realVfs->szOsFile;
    shim.zName = "killpoint";
    shim.xOpen = shimOpen;
    sqlite3_vfs_register(&shim, 1);
}

void writeSongs(sondrel::AppDelegate& delegate, int count, const QString& title) {
    for (int i = 0; i < count; ++i) {
        sondrel::EntitySongs().addOrUpdateWithAid(i, 1, QStringLiteral("Artist %1").arg(i),
                                                  title + QString(150, QLatin1Char('.')), 200,
                                                  QStringLiteral("http://127.0.0.1/%1.mp3").arg(i),
                                                  {}, i, {}, delegate.managedObjectContext());
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: store_writer save|midsave N\n");
        return 2;
    }
    const bool midsave = std::strcmp(argv[1], "midsave") == 0;
    const int count = std::atoi(argv[2]);
    if (midsave) {
        installShim();
    }
    sondrel::AppDelegate delegate;
    if (delegate.managedObjectContext() == nullptr) {
        return 1;
    }
    writeSongs(delegate, count, QStringLiteral("g1"));
    delegate.saveAction();
    if (!midsave) {
        waitToBeKilled("saved");
    }
    std::printf("first saved\n");
    std::fflush(stdout);
    writeSongs(delegate, count, QStringLiteral("g2"));
    armed = true;
    delegate.saveAction();
    std::printf("second save finished without pausing\n");
    return 3;
}
