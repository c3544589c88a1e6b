#pragma once
// Helpers of the song cache store tests: a private data home per test and an answerer
// for the message boxes the stack shows.

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <sqlite3.h>

namespace sondrel::test {

// Points $XDG_DATA_HOME at a fresh folder for the life of the object.
class DataHome {
public:
    explicit DataHome(const QString& below = {}) {
        path = below.isEmpty() ? dir.path() : dir.filePath(below);
        qputenv("XDG_DATA_HOME", path.toUtf8());
    }
    ~DataHome() { qunsetenv("XDG_DATA_HOME"); }
    QString appFolder() const { return path + QStringLiteral("/org.sondrel.Sondrel"); }
    QString storeFile() const { return appFolder() + QStringLiteral("/Sondrel.storedata"); }
    QString root() const { return dir.path(); }

private:
    QTemporaryDir dir;
    QString path;
};

// Answers every message box that opens while it exists, in order, with the given
// button texts (then with the first button), and records what each box said.
class MessageBoxAnswerer : public QObject {
public:
    struct Seen {
        QString text;
        QString informativeText;
        QStringList buttons;
    };

    explicit MessageBoxAnswerer(QStringList answers = {}) : pending(std::move(answers)) {
        connect(&timer, &QTimer::timeout, this, &MessageBoxAnswerer::poll);
        timer.start(10);
    }
    QList<Seen> seen;

private:
    void poll() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || box == handled.data() || !box->isVisible()) {
            return;
        }
        handled = box;
        Seen record{box->text(), box->informativeText(), {}};
        QAbstractButton* chosen = nullptr;
        const QString wanted = pending.isEmpty() ? QString() : pending.takeFirst();
        for (QAbstractButton* button : box->buttons()) {
            const QString label = button->text().remove(QLatin1Char('&'));
            record.buttons.append(label);
            if (label == wanted) {
                chosen = button;
            }
        }
        seen.append(record);
        if (chosen == nullptr && !box->buttons().isEmpty()) {
            chosen = box->buttons().first();
        }
        if (chosen) {
            chosen->click();
        }
    }

    QStringList pending;
    QTimer timer;
    QPointer<QMessageBox> handled;
};

// Counts the rows committed to the store file, through a connection of its own (-1 when
// the file cannot be read).
inline int committedRows(const QString& file) {
    sqlite3* db = nullptr;
    int rows = -1;
    if (sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT count(*) FROM Songs", -1, &s, nullptr) == SQLITE_OK &&
            sqlite3_step(s) == SQLITE_ROW) {
            rows = sqlite3_column_int(s, 0);
        }
        sqlite3_finalize(s);
    }
    sqlite3_close(db);
    return rows;
}

} // namespace sondrel::test
