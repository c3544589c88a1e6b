// A save on a full disk: a 256 KiB tmpfs holds the data home. Needs the right to mount
// (root); skipped with the reason otherwise.

#include "shell/AppDelegate.h"
#include "shell/EntitySongs.h"
#include "shell/SongStoreContext.h"
#include "store/StoreTestSupport.h"

#include <QDir>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mount.h>

namespace sondrel {
namespace {

class SmallDisk {
public:
    SmallDisk() {
        path = dir.filePath(QStringLiteral("disk"));
        QDir().mkpath(path);
        if (::mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", 0, "size=256k") != 0) {
            error = QString::fromLocal8Bit(std::strerror(errno));
        } else {
            mounted = true;
        }
    }
    ~SmallDisk() {
        if (mounted) {
            ::umount2(QFile::encodeName(path).constData(), MNT_DETACH);
        }
    }
    bool mounted = false;
    QString error;
    QString path;

private:
    QTemporaryDir dir;
};

TEST(SongStoreFullDisk, SaveFailsWithTheDialogAndKeepsTheStoreReadable) {
    SmallDisk disk;
    if (!disk.mounted) {
        GTEST_SKIP() << "cannot mount a small tmpfs here: " << disk.error.toStdString();
    }
    const QString store = disk.path + QStringLiteral("/org.sondrel.Sondrel/Sondrel.storedata");
    qputenv("XDG_DATA_HOME", disk.path.toUtf8());
    {
        AppDelegate delegate;
        SongStoreContext* moc = delegate.managedObjectContext();
        ASSERT_TRUE(moc);
        EntitySongs().addOrUpdateWithAid(1, 1, {}, QStringLiteral("fits"), {}, {}, {}, 0, {}, moc);
        delegate.saveAction();
        ASSERT_EQ(test::committedRows(store), 1);

        // Far more than the disk holds.
        for (int i = 2; i < 3000; ++i) {
            EntitySongs().addOrUpdateWithAid(i, 1, {}, QString(200, QLatin1Char('x')), {}, {}, {},
                                             i, {}, moc);
        }
        test::MessageBoxAnswerer boxes({QStringLiteral("OK"), QStringLiteral("Cancel")});
        EXPECT_EQ(delegate.applicationShouldTerminate(),
                  AppDelegate::TerminateReply::TerminateCancel);
        ASSERT_EQ(boxes.seen.size(), 2);
        EXPECT_EQ(boxes.seen[0].text, QStringLiteral("The song store could not be saved."));
        EXPECT_FALSE(boxes.seen[0].informativeText.isEmpty());
        EXPECT_EQ(boxes.seen[1].text,
                  QStringLiteral("Could not save changes while quitting. Quit anyway?"));
        EXPECT_TRUE(moc->hasChanges());
        EXPECT_EQ(EntitySongs().calculateCountByOwnerId(1), 2999u);

        test::MessageBoxAnswerer again({QStringLiteral("OK"), QStringLiteral("Quit anyway")});
        EXPECT_EQ(delegate.applicationShouldTerminate(), AppDelegate::TerminateReply::TerminateNow);
    }
    qunsetenv("XDG_DATA_HOME");
    // What was saved before is still there and whole.
    EXPECT_EQ(test::committedRows(store), 1);
}

} // namespace
} // namespace sondrel
