#pragma once
// Reading an access token given on a command line by file ("--token-file FILE", or "-"
// for standard input): unlike "--token T", it does not show the token to every local
// user in the process list.
//
// Any thread; reads the file (or stdin) once.

#include <QString>
#include <optional>

namespace sondrel {

// The token: the file's first line without surrounding white space. Nothing, with
// `error` set, when the file cannot be read or that line is empty.
std::optional<QString> readTokenFile(const QString& path, QString* error);

} // namespace sondrel
