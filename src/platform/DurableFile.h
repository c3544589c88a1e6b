#pragma once
// Replaces a file's contents so that either the old or the new contents survive any
// crash: write a temp file beside it, fsync it, rename it over the target, fsync the
// folder. When the call returns true the new contents are on disk.

#include <QByteArray>
#include <QString>

namespace sondrel {

struct DurableWriteResult {
    bool ok = false;
    QString error; // a short description with the failing step and errno text
};

// mode: permission bits of a newly created file (an existing file keeps its mode only
// if it is the same; the replacement always gets `mode`).
DurableWriteResult writeFileDurably(const QString& path, const QByteArray& contents,
                                    unsigned mode = 0644);

} // namespace sondrel
