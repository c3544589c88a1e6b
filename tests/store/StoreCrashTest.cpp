// The store file after the process is killed: right after a save, and in the middle of
// writing a large save.

#include "shell/AppDelegate.h"
#include "shell/EntitySongs.h"
#include "store/StoreTestSupport.h"

#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>
#include <sqlite3.h>

namespace sondrel {
namespace {

// Runs the writer until it prints `line`, then kills it with SIGKILL.
void runWriterUntil(const QString& dataHome, const QStringList& arguments, const QString& line) {
    QProcess writer;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    writer.setProcessEnvironment(env);
    writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    writer.start(QStringLiteral(SONDREL_STORE_WRITER), arguments);
    ASSERT_TRUE(writer.waitForStarted(30000));
    QString output;
    while (!output.contains(line + QLatin1Char('\n'))) {
        ASSERT_TRUE(writer.waitForReadyRead(120000)) << "writer said: " << output.toStdString();
        output += QString::fromUtf8(writer.readAllStandardOutput());
    }
    writer.kill(); // SIGKILL
    ASSERT_TRUE(writer.waitForFinished(30000));
    EXPECT_EQ(writer.exitStatus(), QProcess::CrashExit);
}

QString integrity(const QString& file) {
    sqlite3* db = nullptr;
    QString result;
    sqlite3_open(QFile::encodeName(file).constData(), &db);
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW) {
        result = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
    return result;
}

TEST(SongStoreCrash, SaveThenSigkillKeepsTheData) {
    test::DataHome home;
    runWriterUntil(home.root(), {QStringLiteral("save"), QStringLiteral("300")},
                   QStringLiteral("saved"));
    AppDelegate delegate;
    EXPECT_EQ(EntitySongs().calculateCountByOwnerId(1), 300u);
    const auto songs = EntitySongs().getByOwnerId(1);
    ASSERT_TRUE(songs);
    EXPECT_EQ(songs->last().num.toInt(), 299);
}

TEST(SongStoreCrash, SigkillInTheMiddleOfALargeSaveLeavesThePreviousState) {
    test::DataHome home;
    const int count = 5000;
    runWriterUntil(home.root(), {QStringLiteral("midsave"), QString::number(count)},
                   QStringLiteral("midwrite"));
    // The kill came while the store file was being rewritten: its journal is still there.
    EXPECT_TRUE(QFileInfo(home.storeFile() + QStringLiteral("-journal")).size() > 0);

    AppDelegate delegate;
    const auto songs = EntitySongs().getByOwnerId(1);
    ASSERT_TRUE(songs);
    ASSERT_EQ(songs->size(), count);
    for (const EntitySongs& song : *songs) {
        ASSERT_TRUE(song.title.toString().startsWith(QStringLiteral("g1")))
            << song.title.toString().toStdString();
    }
    EXPECT_EQ(integrity(home.storeFile()), QStringLiteral("ok"));
}

} // namespace
} // namespace sondrel
