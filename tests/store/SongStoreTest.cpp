// The song cache store through AppDelegate's stack and EntitySongs, on real SQLite files.

#include "platform/Log.h"
#include "shell/AppDelegate.h"
#include "shell/EntitySongs.h"
#include "shell/SongStoreContext.h"
#include "shell/SongStoreCoordinator.h"
#include "store/StoreTestSupport.h"

#include <QDir>
#include <QFile>
#include <QUndoStack>
#include <gtest/gtest.h>
#include <sqlite3.h>

namespace sondrel {
namespace {

using test::committedRows;
using test::DataHome;
using test::MessageBoxAnswerer;

void addSong(SongStoreContext* moc, qlonglong aid, qlonglong owner, const QString& title,
             const QVariant& num) {
    EntitySongs().addOrUpdateWithAid(aid, owner, QStringLiteral("Artist"), title, 187,
                                     QStringLiteral("http://127.0.0.1/%1.mp3").arg(aid),
                                     QStringLiteral("0"), num, {}, moc);
}

QStringList titles(const QList<EntitySongs>& songs) {
    QStringList list;
    for (const EntitySongs& song : songs) {
        list.append(song.title.toString());
    }
    return list;
}

TEST(SongStore, QuittingBeforeAnyContextTouchesNothing) {
    DataHome home;
    AppDelegate delegate;
    MessageBoxAnswerer boxes;
    EXPECT_EQ(delegate.applicationShouldTerminate(), AppDelegate::TerminateReply::TerminateNow);
    EXPECT_FALSE(QFileInfo::exists(home.appFolder()));
    EXPECT_TRUE(boxes.seen.isEmpty());
}

TEST(SongStore, CleanQuitSavesWithoutAnyDialog) {
    DataHome home;
    {
        AppDelegate delegate;
        MessageBoxAnswerer boxes;
        SongStoreContext* moc = delegate.managedObjectContext();
        ASSERT_TRUE(moc);
        addSong(moc, 1, 7, QStringLiteral("One"), 0);
        EXPECT_TRUE(moc->hasChanges());
        EXPECT_EQ(committedRows(home.storeFile()), 0); // nothing saves before quitting
        EXPECT_EQ(delegate.applicationShouldTerminate(), AppDelegate::TerminateReply::TerminateNow);
        EXPECT_FALSE(moc->hasChanges());
        EXPECT_TRUE(boxes.seen.isEmpty());
    }
    EXPECT_EQ(committedRows(home.storeFile()), 1);
    AppDelegate reopened;
    EXPECT_EQ(EntitySongs().calculateCountByOwnerId(7), 1u);
}

TEST(SongStore, UnsavedChangesDoNotOutliveTheProcessState) {
    DataHome home;
    {
        AppDelegate delegate;
        addSong(delegate.managedObjectContext(), 1, 7, QStringLiteral("Kept"), 0);
        delegate.saveAction();
        addSong(delegate.managedObjectContext(), 2, 7, QStringLiteral("Dropped"), 1);
        EXPECT_EQ(EntitySongs().calculateCountByOwnerId(7), 2u); // reads see unsaved changes
    }
    AppDelegate reopened;
    EXPECT_EQ(titles(*EntitySongs().getByOwnerId(7)), QStringList{QStringLiteral("Kept")});
}

TEST(SongStore, FileInPlaceOfTheFolderGives101ThenTheContextError9999) {
    DataHome home;
    QDir().mkpath(QFileInfo(home.appFolder()).path());
    QFile blocker(home.appFolder());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    AppDelegate delegate;
    MessageBoxAnswerer boxes;
    LogCapture log;
    EXPECT_EQ(delegate.managedObjectContext(), nullptr);
    EXPECT_EQ(delegate.persistentStoreCoordinator(), nullptr);
    ASSERT_GE(boxes.seen.size(), 2);
    EXPECT_EQ(boxes.seen[0].text,
              QStringLiteral("Expected a folder to store application data, found a file (%1).")
                  .arg(home.appFolder()));
    EXPECT_EQ(boxes.seen[1].text, QStringLiteral("Failed to initialize the store"));
    EXPECT_EQ(boxes.seen[1].informativeText,
              QStringLiteral("There was an error building up the data file."));
    EXPECT_TRUE(log.lines().join('\n').contains(QStringLiteral("YOUR_ERROR_DOMAIN 101")));
    EXPECT_TRUE(log.lines().join('\n').contains(QStringLiteral("YOUR_ERROR_DOMAIN 9999")));
    EXPECT_EQ(delegate.windowWillReturnUndoManager(nullptr), nullptr);
    EXPECT_EQ(delegate.applicationShouldTerminate(), AppDelegate::TerminateReply::TerminateNow);
    EXPECT_EQ(EntitySongs().calculateCountByOwnerId(7), 0u);
    EXPECT_FALSE(EntitySongs().getByOwnerId(7).has_value());
}

TEST(SongStore, MissingParentFoldersAreCreated) {
    DataHome home(QStringLiteral("a/b/c"));
    AppDelegate delegate;
    ASSERT_TRUE(delegate.managedObjectContext());
    EXPECT_TRUE(QFileInfo(home.storeFile()).isFile());
    EXPECT_TRUE(delegate.windowWillReturnUndoManager(nullptr));
}

TEST(SongStore, OneRecordPerSongAndOwner) {
    DataHome home;
    AppDelegate delegate;
    SongStoreContext* moc = delegate.managedObjectContext();
    addSong(moc, 10, 1, QStringLiteral("First"), 0);
    addSong(moc, 10, 1, QStringLiteral("Second"), 5);
    addSong(moc, 10, 2, QStringLiteral("Other owner"), 0);
    // The pair as text and as numbers is the same song.
    EntitySongs().addOrUpdateWithAid(QStringLiteral("10"), QStringLiteral("1"), {},
                                     QStringLiteral("Third"), {}, {}, {}, 6, {}, moc);
    const auto owner1 = EntitySongs().getByOwnerId(1);
    ASSERT_TRUE(owner1);
    ASSERT_EQ(owner1->size(), 1);
    EXPECT_EQ(owner1->first().title, QStringLiteral("Third"));
    EXPECT_FALSE(owner1->first().artist.isValid()); // absent arguments stay absent
    EXPECT_EQ(owner1->first().aid.toLongLong(), 10);
    EXPECT_EQ(EntitySongs().calculateCountByOwnerId(2), 1u);
    EXPECT_EQ(EntitySongs().calculateCountByOwnerId(QStringLiteral("2")), 1u);
}

TEST(SongStore, EmptyOwnerHasNoRecords) {
    DataHome home;
    AppDelegate delegate;
    addSong(delegate.managedObjectContext(), 1, 1, QStringLiteral("x"), 0);
    EXPECT_EQ(EntitySongs().calculateCountByOwnerId(99), 0u);
    const auto none = EntitySongs().getByOwnerId(99);
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->isEmpty());
}

TEST(SongStore, OwnerListComesInNumOrder) {
    DataHome home;
    AppDelegate delegate;
    SongStoreContext* moc = delegate.managedObjectContext();
    const struct {
        int aid;
        QVariant num;
        const char* title;
    } rows[] = {{1, 3, "three"},
                {2, 1, "one"},
                {3, 12, "twelve"},
                {4, 1.5, "one and a half"},
                {5, QStringLiteral("2"), "two"},
                {6, 0, "zero"}};
    for (const auto& row : rows) {
        addSong(moc, row.aid, 5, QString::fromLatin1(row.title), row.num);
    }
    const QStringList expected{"zero", "one", "one and a half", "two", "three", "twelve"};
    EXPECT_EQ(titles(*EntitySongs().getByOwnerId(5)), expected);
    delegate.saveAction();
    EXPECT_EQ(titles(*EntitySongs().getByOwnerId(5)), expected);
}

TEST(SongStore, EachAddIsOneUndoStep) {
    DataHome home;
    AppDelegate delegate;
    SongStoreContext* moc = delegate.managedObjectContext();
    addSong(moc, 1, 1, QStringLiteral("old"), 0);
    addSong(moc, 1, 1, QStringLiteral("new"), 0);
    addSong(moc, 2, 1, QStringLiteral("added"), 1);
    QUndoStack* undo = delegate.windowWillReturnUndoManager(nullptr);
    ASSERT_EQ(undo->count(), 3);
    undo->undo();
    EXPECT_EQ(titles(*EntitySongs().getByOwnerId(1)), QStringList{QStringLiteral("new")});
    undo->undo();
    EXPECT_EQ(titles(*EntitySongs().getByOwnerId(1)), QStringList{QStringLiteral("old")});
    undo->redo();
    undo->redo();
    EXPECT_EQ(titles(*EntitySongs().getByOwnerId(1)),
              (QStringList{QStringLiteral("new"), QStringLiteral("added")}));
}

TEST(SongStore, InvalidStoreFilesAreKeptAsideAndReported) {
    const struct {
        const char* name;
        std::function<void(const QString&)> make;
    } rows[] = {
        {"not a database",
         [](const QString& path) {
             QFile f(path);
             ASSERT_TRUE(f.open(QIODevice::WriteOnly));
             f.write(QByteArray(5000, 'x'));
         }},
        {"another program's database",
         [](const QString& path) {
             sqlite3* db = nullptr;
             sqlite3_open(QFile::encodeName(path).constData(), &db);
             sqlite3_exec(db, "CREATE TABLE notes (body TEXT); INSERT INTO notes VALUES ('mine')",
                          nullptr, nullptr, nullptr);
             sqlite3_close(db);
         }},
        {"a truncated store",
         [](const QString& path) {
             {
                 AppDelegate writer;
                 for (int i = 0; i < 2000; ++i) {
                     addSong(writer.managedObjectContext(), i, 1, QString(200, QLatin1Char('t')),
                             i);
                 }
                 writer.saveAction();
             }
             QFile f(path);
             ASSERT_TRUE(f.resize(f.size() / 2));
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        DataHome home;
        QDir().mkpath(home.appFolder());
        row.make(home.storeFile());
        QFile original(home.storeFile());
        ASSERT_TRUE(original.open(QIODevice::ReadOnly));
        const QByteArray bytes = original.readAll();
        original.close();

        AppDelegate delegate;
        MessageBoxAnswerer boxes;
        EXPECT_EQ(delegate.managedObjectContext(), nullptr);
        ASSERT_FALSE(boxes.seen.isEmpty());
        EXPECT_TRUE(boxes.seen[0].text.contains(QStringLiteral("was kept as")))
            << boxes.seen[0].text.toStdString();

        const QStringList aside =
            QDir(home.appFolder()).entryList({QStringLiteral("Sondrel.storedata.damaged-*")});
        ASSERT_EQ(aside.size(), 1);
        QFile kept(QDir(home.appFolder()).filePath(aside.first()));
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), bytes); // never written to

        // The next request starts a fresh store.
        SongStoreContext* moc = delegate.managedObjectContext();
        ASSERT_TRUE(moc);
        addSong(moc, 1, 1, QStringLiteral("fresh"), 0);
        delegate.saveAction();
        EXPECT_EQ(committedRows(home.storeFile()), 1);
    }
}

TEST(SongStore, StoreOfANewerVersionIsLeftUntouched) {
    DataHome home;
    {
        AppDelegate writer;
        addSong(writer.managedObjectContext(), 1, 1, QStringLiteral("x"), 0);
        writer.saveAction();
    }
    sqlite3* db = nullptr;
    sqlite3_open(QFile::encodeName(home.storeFile()).constData(), &db);
    sqlite3_exec(db, "PRAGMA user_version = 99", nullptr, nullptr, nullptr);
    sqlite3_close(db);

    AppDelegate delegate;
    MessageBoxAnswerer boxes;
    EXPECT_EQ(delegate.managedObjectContext(), nullptr);
    ASSERT_FALSE(boxes.seen.isEmpty());
    EXPECT_TRUE(boxes.seen[0].text.contains(QStringLiteral("newer version")));
    EXPECT_TRUE(QFileInfo::exists(home.storeFile()));
    EXPECT_EQ(committedRows(home.storeFile()), 1);
}

// A reader holding the file's shared lock makes the commit fail (busy) while the
// changes stay pending.
class LockedStore {
public:
    explicit LockedStore(const QString& file) {
        sqlite3_open(QFile::encodeName(file).constData(), &db);
        sqlite3_exec(db, "BEGIN; SELECT count(*) FROM Songs;", nullptr, nullptr, nullptr);
        sqlite3_prepare_v2(db, "SELECT id FROM Songs", -1, &reading, nullptr);
        sqlite3_step(reading); // keeps the read transaction (and its lock) open
    }
    ~LockedStore() { release(); }
    void release() {
        sqlite3_finalize(reading);
        reading = nullptr;
        if (db) {
            sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
            sqlite3_close(db);
            db = nullptr;
        }
    }

private:
    sqlite3* db = nullptr;
    sqlite3_stmt* reading = nullptr;
};

TEST(SongStore, FailedSaveAtQuitAsksAndKeepsChangesOnCancel) {
    const struct {
        const char* answer;
        AppDelegate::TerminateReply reply;
    } rows[] = {{"Cancel", AppDelegate::TerminateReply::TerminateCancel},
                {"Quit anyway", AppDelegate::TerminateReply::TerminateNow}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.answer);
        DataHome home;
        AppDelegate delegate;
        SongStoreContext* moc = delegate.managedObjectContext();
        addSong(moc, 1, 1, QStringLiteral("x"), 0);
        delegate.saveAction();
        addSong(moc, 2, 1, QStringLiteral("y"), 1);

        LockedStore lock(home.storeFile());
        MessageBoxAnswerer boxes({QStringLiteral("OK"), QString::fromLatin1(row.answer)});
        EXPECT_EQ(delegate.applicationShouldTerminate(), row.reply);
        ASSERT_EQ(boxes.seen.size(), 2);
        EXPECT_EQ(boxes.seen[0].text, QStringLiteral("The song store could not be saved."));
        EXPECT_EQ(boxes.seen[1].text,
                  QStringLiteral("Could not save changes while quitting. Quit anyway?"));
        EXPECT_EQ(boxes.seen[1].informativeText,
                  QStringLiteral("Quitting now will lose any changes you have made since the "
                                 "last successful save"));
        EXPECT_EQ(boxes.seen[1].buttons,
                  (QStringList{QStringLiteral("Quit anyway"), QStringLiteral("Cancel")}));
        EXPECT_TRUE(moc->hasChanges());

        // Once the file is free again the same changes save.
        lock.release();
        delegate.saveAction();
        EXPECT_FALSE(moc->hasChanges());
        EXPECT_EQ(committedRows(home.storeFile()), 2);
    }
}

TEST(SongStore, CommitEditingRefusalCancelsQuitting) {
    DataHome home;
    AppDelegate delegate;
    SongStoreContext* moc = delegate.managedObjectContext();
    moc->setCommitEditingHandler([] { return false; });
    LogCapture log;
    EXPECT_EQ(delegate.applicationShouldTerminate(), AppDelegate::TerminateReply::TerminateCancel);
    EXPECT_TRUE(log.contains(QStringLiteral(
        "AppDelegate:applicationShouldTerminate unable to commit editing to terminate")));
    addSong(moc, 1, 1, QStringLiteral("x"), 0);
    delegate.saveAction(); // logs, then saves anyway
    EXPECT_TRUE(log.contains(
        QStringLiteral("AppDelegate:saveAction unable to commit editing before saving")));
    EXPECT_EQ(committedRows(home.storeFile()), 1);
}

TEST(SongStore, QuitRequestIsDroppedWhenCancelled) {
    DataHome home;
    AppDelegate delegate;
    delegate.watchApplicationQuit(QCoreApplication::instance());
    addSong(delegate.managedObjectContext(), 1, 1, QStringLiteral("x"), 0);
    delegate.managedObjectContext()->setCommitEditingHandler([] { return false; });
    bool stillRunning = false;
    QTimer::singleShot(0, [] { QCoreApplication::quit(); });
    QTimer::singleShot(200, [&] {
        stillRunning = true;
        delegate.managedObjectContext()->setCommitEditingHandler({});
        QCoreApplication::quit(); // now it saves and quits
    });
    QCoreApplication::exec();
    EXPECT_TRUE(stillRunning);
    EXPECT_EQ(committedRows(home.storeFile()), 1);
}

} // namespace
} // namespace sondrel
