// What the user sees when the service fails or answers oddly: the message line of the
// real window, the list on screen, and a window that keeps working. The failures come
// from the stand-in service (error answers, a page that is no answer), from a second
// stand-in whose certificate is not trusted, from an address nothing listens on, and
// from a small loopback server that sends the odd answers byte for byte.

#include "WindowFixture.h"
#include "common/LoopbackHttpServer.h"
#include "platform/Log.h"
#include "shell/SettingsStore.h"
#include "window/StatusMessage.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <map>

namespace sondrel::test {
namespace {

// Answers GET /<name>/method/audio.get with the body registered under <name>, sent as
// it is (no on-the-fly compression of the megabytes).
class AnswerServer : public LoopbackHttpServer {
public:
    explicit AnswerServer(const std::map<std::string, std::string>& bodies)
        : LoopbackHttpServer([bodies](httplib::Server& server) {
              server.Get(R"(/([^/]+)/method/audio\.get)",
                         [bodies](const httplib::Request& req, httplib::Response& res) {
                             const auto found = bodies.find(req.matches[1].str());
                             if (found == bodies.end()) {
                                 res.status = 404;
                                 return;
                             }
                             res.set_content(found->second, "application/octet-stream");
                         });
          }) {}
    QString origin(const std::string& name) const {
        return url(QLatin1Char('/') + QString::fromStdString(name)).toString();
    }
};

std::string songJson(const std::string& aid, const std::string& title) {
    return R"({"aid":)" + aid + R"(,"owner_id":1,"artist":"A","title":")" + title +
           R"(","duration":61,"url":"http://127.0.0.1:1/x.mp3"})";
}

class FailureMessages : public WindowFixture {
protected:
    StatusMessage* message() const { return controller->statusMessage(); }

    // Asks for the own list from `apiOrigin` and waits for the answer.
    void listFrom(const QString& apiOrigin) {
        ServiceConfig config = service->config();
        config.apiOrigin = apiOrigin;
        setServiceConfig(config);
        waitForListAfter([&] { controller->searchSelector(); });
    }
};

TEST_F(FailureMessages, EachFailureShowsOneLineUntilTheListWorksAgain) {
    StandInService stranger; // its certificate is not one the player trusts
    ASSERT_TRUE(stranger.isReady()) << stranger.errorString().toStdString();
    const std::int64_t ownCount = rowCount();
    struct Row {
        const char* what;
        std::function<QString()> origin; // the API origin to ask
        int serviceError;                // the stand-in answers once with this code
        const char* says;
        bool listKept; // false: the error answer empties the list, as the service said
    };
    const Row rows[] = {
        {"nothing listens", [] { return QStringLiteral("https://127.0.0.1:1"); }, 0,
         "cannot be reached", true},
        {"untrusted certificate", [&] { return stranger.apiOrigin(); }, 0,
         "certificate is not trusted", true},
        {"plain HTTP to another machine", [] { return QStringLiteral("http://192.0.2.1:1"); }, 0,
         "only over HTTPS", true},
        {"a page that is no answer",
         [this] { return service->httpOrigin() + QStringLiteral("/no-such-api"); }, 0,
         "HTTP 404 instead of a song list", true},
        {"error 6", [this] { return service->apiOrigin(); }, 6, "error 6", false},
        {"error 14 on a list", [this] { return service->apiOrigin(); }, 14, "error 14", false},
        {"error 100", [this] { return service->apiOrigin(); }, 100, "error 100", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        listFrom(service->apiOrigin());
        ASSERT_EQ(rowCount(), ownCount);
        ASSERT_FALSE(message()->isShown()) << message()->text().toStdString();
        if (row.serviceError != 0) {
            ASSERT_TRUE(service->nextApiError(row.serviceError, QStringLiteral("audio.get")));
        }
        listFrom(row.origin());
        EXPECT_TRUE(message()->isShown());
        EXPECT_TRUE(message()->text().contains(QLatin1String(row.says)))
            << message()->text().toStdString();
        EXPECT_FALSE(message()->text().contains(QStringLiteral("demo-token")));
        EXPECT_EQ(rowCount(), row.listKept ? ownCount : 0);
        EXPECT_FALSE(controller->popover()->isVisible()) << "not a sign-in matter";
    }
    listFrom(service->apiOrigin());
    EXPECT_FALSE(message()->isShown()) << "gone once the list works again";

    // With a refused information file behind the failure, the line names it too.
    ServiceConfig refused = service->config();
    refused.apiOrigin = QStringLiteral("https://127.0.0.1:1");
    refused.infoFileProblem = QStringLiteral("Service information file /x ignored: owned by "
                                             "another user");
    setServiceConfig(refused);
    waitForListAfter([&] { controller->searchSelector(); });
    EXPECT_TRUE(message()->text().contains(QStringLiteral("cannot be reached")));
    EXPECT_TRUE(message()->text().contains(QStringLiteral("owned by another user")));
}

// Answers no service sends, but a broken or hostile one might: the window shows what it
// can, or keeps the list it had, says so, and goes on working.
TEST_F(FailureMessages, OddAnswersShowWhatTheyCanOrKeepTheList) {
    // Letters in no simple pattern: a title of one letter repeated would be refused as a
    // compression bomb on the way (the server compresses it a thousandfold).
    std::string hugeTitle(10 * 1024 * 1024, 'a');
    std::uint32_t seed = 1;
    for (char& c : hugeTitle) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>('a' + (seed >> 24) % 26);
    }
    const std::string deep =
        R"({"response":)" + std::string(100000, '[') + std::string(100000, ']') + "}";
    const std::string wrongTypes =
        R"({"response":[{"aid":{"a":1},"owner_id":"me","artist":[1,2],"title":{"t":1},)"
        R"("duration":"long","url":123,"lyrics_id":[]},)" +
        songJson("2", "fine") + "]}";
    AnswerServer server({
        {"huge",
         R"({"response":[)" + songJson("1", hugeTitle) + "," + songJson("2", "next") + "]}"},
        {"deep", deep},
        {"types", wrongTypes},
        {"object", R"({"response":{"aid":1}})"},
        {"array", R"([{"aid":1}])"},
        {"cut", R"({"response":[{"aid":1,"title":"cut sh)"},
    });
    const std::int64_t ownCount = rowCount();
    struct Row {
        const char* name;
        std::int64_t rows; // -1: the list on screen stays
        const char* says;  // the message line, or "" for none
    };
    const Row rows[] = {
        {"huge", 2, ""},
        {"deep", -1, "could not be read"},
        {"types", 2, ""},
        {"object", -1, "could not be read"},
        {"array", -1, "could not be read"},
        {"cut", -1, "could not be read"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        listFrom(service->apiOrigin());
        ASSERT_EQ(rowCount(), ownCount);
        QElapsedTimer shown;
        shown.start();
        listFrom(server.origin(row.name));
        // Informational only (the machine may be busy): how long the answer kept the main
        // loop from the test.
        std::printf("%s: list answered and shown in %lld ms\n", row.name,
                    static_cast<long long>(shown.elapsed()));
        EXPECT_EQ(rowCount(), row.rows < 0 ? ownCount : row.rows);
        EXPECT_EQ(message()->isShown(), *row.says != '\0') << message()->text().toStdString();
        EXPECT_TRUE(message()->text().contains(QLatin1String(row.says)));
        if (row.rows > 0) {
            ASSERT_NE(rowTitle(0), nullptr);
            // A title is cut for showing: megabytes would stall every redraw.
            EXPECT_LT(rowTitle(0)->text().size(), 2000);
            EXPECT_TRUE(rowTitle(1)->text().contains(QStringLiteral("next")) ||
                        rowTitle(1)->text().contains(QStringLiteral("fine")));
        }
    }

    // The record of wrong types plays as far as it can: its "url" is no address, so the
    // song fails with a line that says why, and the next song is still chosen.
    listFrom(server.origin("types"));
    ASSERT_EQ(rowCount(), 2);
    clickRowButton(0);
    ASSERT_TRUE(waitFor([this] {
        return message()->isShown() && message()->topic() == StatusMessage::Topic::Playback;
    })) << message()->text().toStdString();
    EXPECT_TRUE(message()->text().contains(QStringLiteral("cannot be played")));
    clickRowButton(1);
    EXPECT_EQ(player()->getCurrentSongNumber(), 1U);
}

TEST_F(FailureMessages, StatusThatCannotBeSentIsSaidUntilOneIsSent) {
    AppController::setTranslateNowPlayingToProfile(true);
    ServiceConfig config = service->config();
    config.apiOrigin = QStringLiteral("https://127.0.0.1:1"); // nothing listens there
    setServiceConfig(config);
    controller->setCurrentPlayingInProfileStatus(false); // clears the status
    ASSERT_TRUE(waitFor([this] { return message()->isShown(); }));
    EXPECT_TRUE(message()->text().contains(QStringLiteral("status was not published")))
        << message()->text().toStdString();
    EXPECT_EQ(message()->topic(), StatusMessage::Topic::Status);

    setServiceConfig(service->config());
    controller->setCurrentPlayingInProfileStatus(false);
    EXPECT_TRUE(waitFor([this] { return !message()->isShown(); }));
    EXPECT_EQ(service->requestTargets(QStringLiteral("/method/status.set")).size(), 1);
}

TEST_F(FailureMessages, SettingsThatCannotBeSavedAreSaidUntilASaveWorks) {
    // A folder where the settings file should be: the file cannot be replaced.
    const QString file = SettingsStore::standard().path();
    ASSERT_TRUE(QFile::remove(file));
    ASSERT_TRUE(QDir().mkpath(file));
    controller->translateSelector(controller->translateButton()); // stores the switch
    ASSERT_TRUE(waitFor([this] { return message()->isShown(); }));
    EXPECT_TRUE(message()->text().contains(QStringLiteral("settings cannot be saved")))
        << message()->text().toStdString();
    EXPECT_EQ(message()->topic(), StatusMessage::Topic::Settings);
    // A list that works is not a save that works: the line stays.
    waitForListAfter([&] { controller->searchSelector(); });
    EXPECT_TRUE(message()->isShown());

    ASSERT_TRUE(QDir(file).removeRecursively());
    controller->translateSelector(controller->translateButton());
    EXPECT_TRUE(waitFor([this] { return !message()->isShown(); }));
}

} // namespace
} // namespace sondrel::test
