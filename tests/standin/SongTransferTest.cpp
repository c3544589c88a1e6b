// Song files: real MP3s with the right tone, Range requests, and every fault mode the
// player's downloader and stream player are tested against.

#include "ClientHelpers.h"

#include <QJsonArray>
#include <gtest/gtest.h>
#include <httplib.h>

using sondrel::test::StandInService;
using namespace standin_test;

namespace {

class SongTransferTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(service.isReady()) << service.errorString().toStdString();
        file = songFileBytes(service, 0);
        ASSERT_GT(file.size(), 300000);
    }
    StandInService service;
    QByteArray file; // song 0 as stored
};

} // namespace

TEST_F(SongTransferTest, DemoSongsAreRealMp3sOfTheirTone) {
    for (int index : {0, 5, 11}) {
        SCOPED_TRACE(index);
        const Reply reply = fetch(service.songUrl(index));
        ASSERT_EQ(reply.status, 200);
        EXPECT_EQ(reply.header("Content-Type"), "audio/mpeg");
        EXPECT_EQ(reply.header("Content-Length").toLongLong(), reply.body.size());
        EXPECT_EQ(reply.header("Accept-Ranges"), "bytes");
        // An Info header (CBR) in the first frame, as LAME writes it.
        EXPECT_EQ(reply.body.mid(36, 4), "Info");

        const Decoded decoded = decodeMp3(reply.body);
        ASSERT_TRUE(decoded.ok) << decoded.error.toStdString();
        EXPECT_EQ(decoded.rate, 44100);
        EXPECT_EQ(decoded.channels, 2);
        // 20 s, give or take the encoder's frame padding (the Info header trims it).
        EXPECT_NEAR(static_cast<double>(decoded.frames) / decoded.rate, 20.0, 0.05);
        EXPECT_NEAR(decoded.toneHz, 300.0 + 100.0 * index, 3.0);
    }
}

TEST_F(SongTransferTest, RangesAnswerExactSlices) {
    const qint64 size = file.size();
    struct Case {
        QByteArray range;
        qint64 start;
        qint64 length;
    };
    const QList<Case> cases = {
        {"bytes=0-99", 0, 100},
        {"bytes=1000-", 1000, size - 1000},
        {"bytes=-10", size - 10, 10},
        {"bytes=100-" + QByteArray::number(size + 5000), 100, size - 100}, // end past the file
        {"bytes=" + QByteArray::number(size - 1) + "-", size - 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.range.toStdString());
        const Reply reply = fetch(service.songUrl(0), {{"Range", c.range}});
        ASSERT_EQ(reply.status, 206);
        EXPECT_EQ(reply.header("Content-Range"), "bytes " + QByteArray::number(c.start) + "-" +
                                                     QByteArray::number(c.start + c.length - 1) +
                                                     "/" + QByteArray::number(size));
        EXPECT_EQ(reply.body, file.mid(c.start, c.length));
    }
    for (const QByteArray& unsatisfiable :
         {"bytes=" + QByteArray::number(size) + "-", QByteArray("bytes=-0")}) {
        SCOPED_TRACE(unsatisfiable.toStdString());
        const Reply reply = fetch(service.songUrl(0), {{"Range", unsatisfiable}});
        EXPECT_EQ(reply.status, 416);
        EXPECT_EQ(reply.header("Content-Range"), "bytes */" + QByteArray::number(size));
    }
}

TEST_F(SongTransferTest, UnknownSongIsNotFound) {
    EXPECT_EQ(fetch(service.httpOrigin() + QStringLiteral("/audio/999.mp3")).status, 404);
}

TEST_F(SongTransferTest, DropClosesTheConnectionAfterTheGivenByte) {
    // The announced length is the whole file; only its first 1000 bytes come before the
    // connection closes. (Qt's network stack finishes such a reply without an error:
    // only the length tells that it is short.)
    const Reply reply = fetch(service.songUrl(0, QStringLiteral("fault=drop&after=1000")));
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.header("Content-Length").toLongLong(), file.size());
    EXPECT_EQ(reply.body, file.left(1000));

    // A client that checks the length sees the transfer fail.
    const QUrl origin(service.httpOrigin());
    httplib::Client client(origin.host().toStdString(), origin.port());
    const auto result = client.Get("/audio/100001.mp3?fault=drop&after=1000");
    EXPECT_FALSE(result);
    EXPECT_EQ(result.error(), httplib::Error::Read);

    // Resuming past the broken byte gets the rest.
    const Reply rest = fetch(service.songUrl(0, QStringLiteral("fault=drop&after=1000")),
                             {{"Range", "bytes=1001-"}});
    EXPECT_EQ(rest.status, 206);
    EXPECT_EQ(rest.error, QNetworkReply::NoError);
    EXPECT_EQ(rest.body, file.mid(1001));
}

TEST_F(SongTransferTest, TimedStallDeliversEverythingAfterwards) {
    const Reply reply =
        fetch(service.songUrl(0, QStringLiteral("fault=stall&after=5000&seconds=1")));
    EXPECT_EQ(reply.error, QNetworkReply::NoError);
    EXPECT_EQ(reply.body, file);
}

TEST_F(SongTransferTest, EndlessStallHoldsUntilReset) {
    Download download(QUrl(service.songUrl(0, QStringLiteral("fault=stall&after=5000"))));
    ASSERT_TRUE(download.waitForBytes(5000));
    download.runFor(1500);
    EXPECT_FALSE(download.isFinished());
    EXPECT_EQ(download.received(), file.left(5000));

    // A reset releases the stalled transfer, which then completes.
    ASSERT_TRUE(service.reset());
    ASSERT_TRUE(download.waitForFinished());
    EXPECT_EQ(download.error(), QNetworkReply::NoError);
    EXPECT_EQ(download.received(), file);
}

TEST_F(SongTransferTest, ThrottledTransferIsComplete) {
    const Reply reply = fetch(service.songUrl(0, QStringLiteral("rate=400000")));
    EXPECT_EQ(reply.error, QNetworkReply::NoError);
    EXPECT_EQ(reply.body, file);
}

TEST_F(SongTransferTest, StatusFaultAnswersAnHtmlPage) {
    for (int status : {403, 404, 500, 503}) {
        SCOPED_TRACE(status);
        const Reply reply = fetch(service.songUrl(0, QStringLiteral("status=%1").arg(status)));
        EXPECT_EQ(reply.status, status);
        EXPECT_TRUE(reply.header("Content-Type").startsWith("text/html"));
        EXPECT_TRUE(reply.body.contains("<html")) << reply.body.toStdString();
    }
    // A redirect status leads to the same song without the fault. Asked as the player asks
    // for songs: unencoded (the redirect's page is then not compressed either).
    const Reply redirect = fetch(QUrl(service.songUrl(0, QStringLiteral("status=302&rate=0"))),
                                 {{"Accept-Encoding", "identity"}}, "GET", {}, true);
    EXPECT_EQ(redirect.status, 200);
    EXPECT_EQ(redirect.body, file);
}

TEST_F(SongTransferTest, ChunkedTransferHasNoLength) {
    const Reply reply = fetch(service.songUrl(0, QStringLiteral("chunked=1")));
    EXPECT_EQ(reply.status, 200);
    EXPECT_FALSE(reply.hasHeader("Content-Length"));
    EXPECT_EQ(reply.header("Transfer-Encoding"), "chunked");
    EXPECT_EQ(reply.body, file);
}

TEST_F(SongTransferTest, GarbageIsNoMp3) {
    const Reply reply = fetch(service.songUrl(0, QStringLiteral("fault=garbage")));
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body.size(), file.size());
    EXPECT_FALSE(reply.body.contains('\xFF'));
    EXPECT_FALSE(decodeMp3(reply.body).ok);
}

TEST_F(SongTransferTest, LargeId3TagPrecedesTheSameSong) {
    const Reply reply = fetch(service.songUrl(3, QStringLiteral("id3pad=300000")));
    EXPECT_EQ(reply.status, 200);
    const QByteArray song = songFileBytes(service, 3);
    ASSERT_EQ(reply.body.size(), 300000 + song.size());
    EXPECT_TRUE(reply.body.startsWith("ID3"));
    EXPECT_EQ(reply.body.mid(300000), song);
    // The tag's own size field (syncsafe) covers exactly the padding.
    const auto b = [&](int i) { return static_cast<quint8>(reply.body.at(i)); };
    EXPECT_EQ((b(6) << 21) | (b(7) << 14) | (b(8) << 7) | b(9), 300000 - 10);
    const Decoded decoded = decodeMp3(reply.body);
    ASSERT_TRUE(decoded.ok) << decoded.error.toStdString();
    EXPECT_NEAR(decoded.toneHz, 600.0, 3.0);
}

TEST(SongFaultFlag, AppliesToEverySongUnlessTheAddressSaysOtherwise) {
    StandInService service(
        {QStringLiteral("--song-fault"), QStringLiteral("fault=drop&after=2000")});
    ASSERT_TRUE(service.isReady()) << service.errorString().toStdString();
    for (int index : {0, 7}) {
        EXPECT_EQ(fetch(service.songUrl(index)).body, songFileBytes(service, index).left(2000));
    }
    EXPECT_EQ(fetch(service.songUrl(0, QStringLiteral("fault=none"))).body,
              songFileBytes(service, 0));
}

TEST_F(SongTransferTest, ResumeFaultsAndValidators) {
    // Each row: two requests for one address; the second resumes at byte 1000.
    struct Case {
        const char* name;
        const char* query;
        const char* ifRange;  // "etag", "date", "other" or "" (none)
        qint64 firstBody;     // bytes the first answer carries
        int secondStatus;     // status of the resuming request
        qint64 secondLength;  // whole length the second answer states
        bool secondValidator; // the second answer carries the first one's ETag
    };
    const qint64 size = file.size();
    const QList<Case> cases = {
        {"If-Range with the ETag resumes", "", "etag", size, 206, size, true},
        {"If-Range with the date resumes", "x=1", "date", size, 206, size, true},
        {"If-Range for another version: whole file", "x=2", "other", size, 200, size, true},
        {"drop on the first request only", "fault=drop&after=1000&once=1", "etag", 1000, 206, size,
         true},
        {"server without ranges", "norange=1", "etag", size, 200, size, true},
        {"changed file", "changed=1", "etag", size, 200, size + 4096, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString url = service.songUrl(0, QString::fromLatin1(c.query));
        const Reply first = fetch(url);
        ASSERT_EQ(first.status, 200);
        EXPECT_EQ(first.body, file.left(c.firstBody));
        const QByteArray etag = first.header("ETag");
        const QByteArray date = first.header("Last-Modified");
        ASSERT_TRUE(etag.startsWith('"') && etag.endsWith('"')) << etag.toStdString();
        ASSERT_TRUE(date.endsWith(" GMT")) << date.toStdString();
        Headers headers{{"Range", "bytes=1000-"}};
        if (*c.ifRange) {
            const QByteArray which = QByteArray(c.ifRange);
            headers.append({"If-Range", which == "etag"   ? etag
                                        : which == "date" ? date
                                                          : QByteArray("\"another\"")});
        }
        const Reply second = fetch(url, headers);
        EXPECT_EQ(second.status, c.secondStatus);
        EXPECT_EQ(second.header("ETag") == etag, c.secondValidator);
        if (c.secondStatus == 206) {
            EXPECT_EQ(second.header("Content-Range"), "bytes 1000-" + QByteArray::number(size - 1) +
                                                          "/" + QByteArray::number(size));
            EXPECT_EQ(second.body, file.mid(1000));
        } else {
            EXPECT_EQ(second.body.size(), c.secondLength);
            EXPECT_EQ(second.body.right(size), file); // the same song after any new tag
        }
    }
}
