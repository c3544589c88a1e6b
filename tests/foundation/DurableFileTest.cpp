#include "platform/DurableFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

TEST(DurableFile, ReplacesContentsWithTheGivenMode) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("f"));
    ASSERT_TRUE(sondrel::writeFileDurably(path, "first", 0600).ok);
    ASSERT_TRUE(sondrel::writeFileDurably(path, "second", 0600).ok);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("second"));
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1) << "no temp file left";
}

TEST(DurableFile, FailuresAreReportedAndLeaveTheOldFile) {
    QTemporaryDir dir;
    const sondrel::DurableWriteResult missingFolder =
        sondrel::writeFileDurably(dir.filePath(QStringLiteral("no/such/folder/f")), "x");
    EXPECT_FALSE(missingFolder.ok);
    EXPECT_FALSE(missingFolder.error.isEmpty());

    const QString target = dir.filePath(QStringLiteral("folder"));
    ASSERT_TRUE(QDir().mkpath(target + QStringLiteral("/child")));
    const sondrel::DurableWriteResult overFolder = sondrel::writeFileDurably(target, "x");
    EXPECT_FALSE(overFolder.ok);
    EXPECT_TRUE(QFileInfo(target).isDir());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 0) << "the temp file is removed";
}

} // namespace
