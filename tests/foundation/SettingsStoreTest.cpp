#include "shell/SettingsStore.h"

#include "platform/DurableFile.h"
#include "platform/Log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using sondrel::SettingsStore;

namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("settings.json")); }
};

TEST_F(SettingsStoreTest, EveryValueTypeRoundTripsThroughTheFile) {
    const QDateTime date = QDateTime(QDate(2026, 12, 7), QTime(20, 4, 43, 123), Qt::UTC);
    const std::vector<std::pair<QString, QVariant>> rows = {
        {QStringLiteral("accessToken"), QStringLiteral("abc123")},
        {QStringLiteral("empty"), QString()},
        {QStringLiteral("cyrillic"), QStringLiteral("Кино – Звезда")},
        {QStringLiteral("lastVolume"), QStringLiteral("0.750000")},
        {QStringLiteral("integer"), 42},
        {QStringLiteral("negative"), -7},
        {QStringLiteral("fraction"), 0.25},
        {QStringLiteral("on"), true},
        {QStringLiteral("off"), false},
        {QStringLiteral("accessTokenDate"), date},
        {QStringLiteral("list"), QStringList{QStringLiteral("a"), QStringLiteral("b")}},
        {QStringLiteral("emptyList"), QStringList{}},
    };
    {
        SettingsStore store(path());
        for (const auto& [key, value] : rows) {
            ASSERT_TRUE(store.save(key, value)) << key.toStdString();
        }
    }
    SettingsStore reopened(path());
    for (const auto& [key, value] : rows) {
        const QVariant read = reopened.value(key);
        SCOPED_TRACE(key.toStdString());
        switch (value.typeId()) {
        case QMetaType::QDateTime:
            EXPECT_EQ(read.toDateTime(), date);
            break;
        case QMetaType::QStringList:
            EXPECT_EQ(read.toStringList(), value.toStringList());
            break;
        case QMetaType::Bool:
            EXPECT_EQ(read.typeId(), QMetaType::Bool);
            EXPECT_EQ(read.toBool(), value.toBool());
            break;
        case QMetaType::QString:
            EXPECT_EQ(read.typeId(), QMetaType::QString);
            EXPECT_EQ(read.toString(), value.toString());
            break;
        default:
            EXPECT_DOUBLE_EQ(read.toDouble(), value.toDouble());
        }
    }
}

TEST_F(SettingsStoreTest, MissingKeyIsAbsentAndDefaultsStayInMemory) {
    SettingsStore store(path());
    EXPECT_FALSE(store.value(QStringLiteral("never")).isValid());

    store.registerDefaults({{QStringLiteral("SPIgnoreMediaKeys"), false}});
    EXPECT_EQ(store.value(QStringLiteral("SPIgnoreMediaKeys")), QVariant(false));
    EXPECT_FALSE(QFile::exists(path())) << "defaults are never written";

    ASSERT_TRUE(store.save(QStringLiteral("SPIgnoreMediaKeys"), true));
    EXPECT_EQ(store.value(QStringLiteral("SPIgnoreMediaKeys")), QVariant(true));
    SettingsStore reopened(path());
    EXPECT_EQ(reopened.value(QStringLiteral("SPIgnoreMediaKeys")), QVariant(true));
}

TEST_F(SettingsStoreTest, FileIsPrivateToTheUser) {
    SettingsStore store(path());
    ASSERT_TRUE(store.save(QStringLiteral("accessToken"), QStringLiteral("secret")));
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(path()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// The folder the store makes is 0700; a folder or file left open to others by an older
// version or by hand is closed when the store opens, and the log says so.
TEST_F(SettingsStoreTest, FolderAndFileAreTightenedToTheUser) {
    const auto modeOf = [](const QString& p) {
        struct stat info {};
        return ::stat(QFile::encodeName(p).constData(), &info) == 0 ? info.st_mode & 07777 : 0u;
    };
    const struct {
        const char* what;
        mode_t folderBefore; // 0: the folder does not exist yet
        mode_t fileBefore;   // 0: no file yet
        int logLines;
    } rows[] = {
        {"made by the store", 0, 0, 0},
        {"private already", 0700, 0600, 0},
        {"folder readable by all", 0755, 0600, 1},
        {"file readable by all", 0700, 0644, 1},
        {"both writable by all", 0777, 0666, 2},
    };
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const QString folder = dir.filePath(QStringLiteral("config%1/app").arg(n++));
        const QString file = folder + QStringLiteral("/settings.json");
        if (row.folderBefore != 0) {
            ASSERT_TRUE(QDir().mkpath(folder));
            ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), row.folderBefore), 0);
        }
        if (row.fileBefore != 0) {
            ASSERT_TRUE(sondrel::writeFileDurably(file, "{\"k\": \"old\"}", row.fileBefore).ok);
        }
        sondrel::LogCapture log;
        SettingsStore store(file);
        ASSERT_TRUE(store.save(QStringLiteral("accessToken"), QStringLiteral("secret")));
        EXPECT_EQ(modeOf(folder), 0700u);
        EXPECT_EQ(modeOf(file), 0600u);
        EXPECT_EQ(log.lines().size(), row.logLines) << log.lines().join('\n').toStdString();
        if (row.fileBefore != 0) {
            EXPECT_EQ(store.value(QStringLiteral("k")).toString(), QStringLiteral("old"));
        }
    }
}

TEST_F(SettingsStoreTest, UnstorableTypeIsRefusedAndNothingChanges) {
    SettingsStore store(path());
    ASSERT_TRUE(store.save(QStringLiteral("k"), QStringLiteral("v")));
    sondrel::LogCapture log;
    EXPECT_FALSE(store.save(QStringLiteral("k"), QVariant(QByteArray("\x01\x02"))));
    EXPECT_FALSE(store.save(QStringLiteral("k"), QVariantList{1, 2}));
    EXPECT_EQ(store.value(QStringLiteral("k")).toString(), QStringLiteral("v"));
    EXPECT_EQ(log.lines().size(), 2);
}

TEST_F(SettingsStoreTest, UnreadableFileIsKeptAsideAndStoreStartsEmpty) {
    const std::vector<QByteArray> rows = {
        "{not json",
        "[1, 2, 3]",
        "",
        "{\"accessTokenDate\": {\"date\": \"yesterday\"}}",
        "{\"list\": [1, 2]}",
        QByteArray("\xff\xfe\x00garbage", 10),
    };
    for (const QByteArray& contents : rows) {
        SCOPED_TRACE(contents.toStdString());
        QTemporaryDir local;
        const QString file = local.filePath(QStringLiteral("settings.json"));
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(contents);
        out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        out.close();

        sondrel::LogCapture log;
        SettingsStore store(file);
        EXPECT_FALSE(store.value(QStringLiteral("accessTokenDate")).isValid());
        EXPECT_EQ(log.lines().size(), 1);

        const QStringList aside =
            QDir(local.path()).entryList({QStringLiteral("settings.json.corrupt-*")});
        ASSERT_EQ(aside.size(), 1);
        QFile kept(local.filePath(aside.first()));
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), contents) << "the unreadable file is kept byte for byte";

        ASSERT_TRUE(store.save(QStringLiteral("accessToken"), QStringLiteral("new")));
        EXPECT_EQ(SettingsStore(file).value(QStringLiteral("accessToken")).toString(),
                  QStringLiteral("new"));
    }
}

TEST_F(SettingsStoreTest, WriteFailureIsReportedAndKeepsTheValueInMemory) {
    // A folder where the file should be: the rename cannot succeed.
    ASSERT_TRUE(QDir().mkpath(path()));
    sondrel::LogCapture log;
    SettingsStore store(path());
    EXPECT_EQ(log.lines().size(), 1);
    log.clear();
    std::vector<std::pair<bool, QString>> told;
    store.setSaveListener([&told](bool ok, const QString& error) { told.emplace_back(ok, error); });
    EXPECT_FALSE(store.save(QStringLiteral("k"), QStringLiteral("v")));
    EXPECT_EQ(store.value(QStringLiteral("k")).toString(), QStringLiteral("v"));
    EXPECT_EQ(log.lines().size(), 1);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_FALSE(told[0].first);
    EXPECT_FALSE(told[0].second.isEmpty());
    // Once the way is clear the next save works, and the listener hears that too.
    ASSERT_TRUE(QDir(path()).removeRecursively());
    EXPECT_TRUE(store.save(QStringLiteral("k"), QStringLiteral("w")));
    ASSERT_EQ(told.size(), 2u);
    EXPECT_TRUE(told[1].first);
}

TEST_F(SettingsStoreTest, ConcurrentSavesAndReadsFromSeveralThreads) {
    SettingsStore store(path());
    constexpr int kThreads = 4;
    constexpr int kSaves = 25;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&store, t] {
            const QString key = QStringLiteral("thread%1").arg(t);
            for (int i = 0; i < kSaves; ++i) {
                store.save(key, i);
                // Each thread sees its own latest save at once.
                EXPECT_EQ(store.value(key).toInt(), i);
                store.value(QStringLiteral("thread%1").arg((t + 1) % kThreads));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    SettingsStore reopened(path());
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(reopened.value(QStringLiteral("thread%1").arg(t)).toInt(), kSaves - 1);
    }
}

// A child process saves a value, tells the parent the call returned, and is killed with
// SIGKILL at once: the value must be on disk.
TEST_F(SettingsStoreTest, SaveSurvivesSigkillRightAfterTheCallReturns) {
    constexpr int kRounds = 40;
    for (int round = 0; round < kRounds; ++round) {
        int pipeFds[2];
        ASSERT_EQ(::pipe(pipeFds), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(pipeFds[0]);
            SettingsStore store(path());
            store.save(QStringLiteral("round"), round);
            store.save(QStringLiteral("accessToken"), QStringLiteral("token-%1").arg(round));
            const char done = 'x';
            if (::write(pipeFds[1], &done, 1) != 1) {
                ::_exit(2);
            }
            for (;;) {
                ::pause();
            }
        }
        ::close(pipeFds[1]);
        char done = 0;
        ASSERT_EQ(::read(pipeFds[0], &done, 1), 1);
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(pipeFds[0]);
        ASSERT_TRUE(WIFSIGNALED(status));

        SettingsStore reopened(path());
        ASSERT_EQ(reopened.value(QStringLiteral("round")).toInt(), round);
        ASSERT_EQ(reopened.value(QStringLiteral("accessToken")).toString(),
                  QStringLiteral("token-%1").arg(round));
    }
    // No temp files are left behind by completed saves.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1);
}

} // namespace
