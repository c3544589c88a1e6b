#include "service/ServiceProblems.h"

#include <gtest/gtest.h>

namespace {

using sondrel::HttpFailure;
using sondrel::HttpResult;

HttpResult answered(int status, const QByteArray& body) {
    HttpResult r;
    r.ok = true;
    r.httpStatus = status;
    r.body = body;
    return r;
}

HttpResult failed(HttpFailure failure, const QString& error) {
    HttpResult r;
    r.failure = failure;
    r.error = error;
    return r;
}

TEST(ServiceProblems, ListProblemTexts) {
    const QByteArray longMessage =
        "{\"error\":{\"error_code\":6,\"error_msg\":\"" + QByteArray(5000, 'w') + "\"}}";
    const struct {
        const char* what;
        HttpResult result;
        const char* says; // "" for no problem
    } rows[] = {
        {"songs", answered(200, R"({"response":[{"aid":1}]})"), ""},
        {"an empty list is a list", answered(200, R"({"response":[]})"), ""},
        {"expired token: the sign-in says it", answered(200, R"({"error":{"error_code":5}})"), ""},
        {"error with the service's text",
         answered(200, R"({"error":{"error_code":6,"error_msg":"Too many  requests"}})"),
         "The service answered with error 6: Too many requests"},
        {"error 14 on a list", answered(200, R"({"error":{"error_code":14}})"),
         "The service answered with error 14"},
        {"a page that is no answer", answered(502, "<html>Bad gateway</html>"),
         "The service answered HTTP 502 instead of a song list"},
        {"no JSON with 200", answered(200, "{\"response\":"),
         "The service's answer could not be read"},
        {"\"error_code\" that is no number", answered(200, R"({"error":{"error_code":"6"}})"),
         "could not be read"},
        {"other network failure", failed(HttpFailure::Other, QStringLiteral("Protocol error")),
         "The request to the service failed: Protocol error"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const sondrel::SongListAnswer answer =
            sondrel::readSongListAnswer(row.result.ok ? row.result.body : QByteArray());
        const std::optional<QString> problem = sondrel::listProblem(row.result, answer);
        EXPECT_EQ(problem.has_value(), *row.says != '\0');
        EXPECT_TRUE(problem.value_or(QString()).contains(QLatin1String(row.says)))
            << problem.value_or(QString()).toStdString();
    }
    // The service's own text never makes the line longer than a line.
    const std::optional<QString> cut =
        sondrel::listProblem(answered(200, longMessage), sondrel::readSongListAnswer(longMessage));
    ASSERT_TRUE(cut.has_value());
    EXPECT_LT(cut->size(), 200);
}

} // namespace
