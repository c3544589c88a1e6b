#pragma once
// Reading the service's JSON answers: the shared error check every answer passes, and
// the song records of a list answer.
//
// An answer is one JSON object: {"response": ...} on success, or {"error": {"error_code":
// N, ...}}. Of the error codes only two are acted on:
//   14  the service wants a captcha solved     logs "captcha needed"
//    5  the access token has expired           logs "token has been expired, need re-auth";
//                                               the caller starts a new sign-in
//
// An answer "does not parse" when its bytes are not JSON, when the top level is not an
// object, when "error" is present but is not an object with a numeric "error_code", or
// (for list answers) when "response" is present but is not an array. Such an answer
// changes nothing: no log line, no sign-in, and the list on screen stays as it is.
//
// Pure functions apart from the two log lines; safe on any thread (the list work runs on
// the background pool).

#include "support/SongList.h"

#include <QByteArray>
#include <QJsonObject>
#include <optional>

namespace sondrel {

enum class ServiceErrorAction {
    None,          // no error, an error the player does not act on, or no answer at all
    CaptchaNeeded, // code 14
    ReAuthorize,   // code 5: start a new sign-in
};

// The answer's top-level object, or nothing when the bytes do not parse as one.
std::optional<QJsonObject> parseAnswerObject(const QByteArray& bytes);

// True when "error" is absent, or is an object whose "error_code" is a number.
bool hasWellFormedError(const QJsonObject& answer);

// What the shared check makes of an answer already read (no logging).
ServiceErrorAction errorActionForAnswer(const QJsonObject& answer);

// The shared error check on the raw answer bytes: logs the line of code 14 or 5 and
// returns what the caller has to do. No bytes, or bytes that do not parse: None.
ServiceErrorAction checkResponseOnErrors(const QByteArray& bytes);

// The song records of a list answer: every element of "response" that is an object, in
// order (a leading total count and other non-objects are skipped). A missing "response"
// (an error answer) gives an empty list. Nothing when the answer does not parse. The
// records are kept compactly (SongList): this is the work of the background pool.
std::optional<SongList> songsFromListAnswer(const QJsonObject& answer);

struct SongListAnswer {
    ServiceErrorAction action = ServiceErrorAction::None;
    // The new list on screen; nothing when the answer does not parse.
    std::optional<SongList> songs;
    // A well-formed error answer's "error_code" and "error_msg" (when it is a text).
    std::optional<double> errorCode;
    QString errorMessage;
};

// Reads a list answer with one parse: runs the shared check (with its log lines) and
// collects the song records.
SongListAnswer readSongListAnswer(const QByteArray& bytes);

} // namespace sondrel
