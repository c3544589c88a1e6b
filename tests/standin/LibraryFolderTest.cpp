// The service serving a real music folder (--library): nested folders, names in any
// script or encoding, and the files a folder holds besides songs, each skipped with a
// line on stderr. Each case builds a folder, starts the service on it and reads back
// the song list and every song file.

#include "ClientHelpers.h"

#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <httplib.h>
#include <random>

using sondrel::test::StandInService;
using namespace standin_test;

namespace {

enum class Content { Song, Truncated, Empty, Text, Noise };

struct File {
    const char* path; // bytes, as the file system has them
    Content content;
};

struct Expected {
    const char* artist;
    const char* title;
};

struct FolderCase {
    const char* name;
    std::vector<File> files;
    std::vector<Expected> songs; // in the list's order
    std::vector<const char*> skipped;
};

// What the service made of a folder: the song list, its log, how it ended.
struct Served {
    bool ready = false;
    QJsonArray songs;
    std::vector<QByteArray> bodies; // each song's file as served
    QByteArray log;
    int exitCode = -1;
};

QByteArray httpGet(const QString& origin, const QString& path) {
    const QUrl url(origin);
    httplib::Client client(url.host().toStdString(), url.port());
    client.set_read_timeout(60, 0);
    const auto result = client.Get(path.toStdString());
    return result && result->status == 200 ? QByteArray::fromStdString(result->body) : QByteArray();
}

Served serve(const std::string& folder) {
    QTemporaryDir dir;
    const QString info = dir.filePath(QStringLiteral("info.json"));
    QProcess process;
    process.start(StandInService::binaryPath(),
                  {"--https-port", "0", "--http-port", "0", "--info", info, "--cert-dir",
                   dir.filePath(QStringLiteral("cert")), "--library",
                   QString::fromStdString(folder)});
    Served served;
    QByteArray out;
    waitFor(
        [&] {
            process.waitForReadyRead(100);
            out += process.readAllStandardOutput();
            return out.contains("sondrel-service ready\n") || process.state() != QProcess::Running;
        },
        120000);
    served.ready = out.contains("sondrel-service ready\n");
    if (served.ready) {
        QFile file(info);
        file.open(QIODevice::ReadOnly);
        const QString origin =
            QJsonDocument::fromJson(file.readAll()).object().value("api_http_origin").toString();
        served.songs =
            QJsonDocument::fromJson(httpGet(origin, QStringLiteral("/control/library"))).array();
        for (const QJsonValue& song : served.songs) {
            served.bodies.push_back(
                httpGet(origin, QUrl(song.toObject().value("url").toString()).path()));
        }
        process.terminate();
    }
    process.waitForFinished(60000);
    served.exitCode = process.exitCode();
    served.log = process.readAllStandardError();
    return served;
}

QByteArray contentOf(Content content, const QByteArray& song) {
    switch (content) {
    case Content::Song:
        return song;
    case Content::Truncated:
        return song.left(3000); // a few frames: plays, then ends early
    case Content::Empty:
        return {};
    case Content::Text:
        return "not a song\n";
    case Content::Noise: {
        std::mt19937 random(7);
        QByteArray noise(100000, '\0');
        for (char& c : noise) {
            c = static_cast<char>(random() & 0xFF);
        }
        return noise;
    }
    }
    return {};
}

} // namespace

TEST(LibraryFolder, ServesTheSongsOfARealFolderAndSkipsTheRest) {
    QByteArray song;
    {
        StandInService demo({"--demo-count", "1", "--demo-seconds", "2"});
        ASSERT_TRUE(demo.isReady()) << demo.errorString().toStdString();
        song = songFileBytes(demo, 0);
    }
    ASSERT_FALSE(song.isEmpty());

    const FolderCase cases[] = {
        {"nested folders, names in Cyrillic, an upper-case extension",
         {{"Русский рок/1999/Мумий Тролль - Утекай.mp3", Content::Song},
          {"a/b/c/d/Deep - Down.mp3", Content::Song},
          {"x/LOUD.MP3", Content::Song}},
         {{"Deep", "Down"}, {"Unknown Artist", "LOUD"}, {"Мумий Тролль", "Утекай"}},
         {}},
        {"what a folder holds besides songs",
         {{"good.mp3", Content::Song},
          {"cut.mp3", Content::Truncated},
          {"cover.jpg", Content::Text},
          {"notes.txt", Content::Text},
          {"empty.mp3", Content::Empty},
          {"text.mp3", Content::Text},
          {"noise.mp3", Content::Noise}},
         {{"Unknown Artist", "cut"}, {"Unknown Artist", "good"}},
         {"cover.jpg: not an MP3 file", "notes.txt: not an MP3 file", "empty.mp3: empty file",
          "text.mp3: not a playable MP3 file", "noise.mp3: not a playable MP3 file"}},
        {"a file name in Latin-1, not UTF-8",
         {{"caf\xe9 - cr\xe8me.mp3", Content::Song}},
         {{"caf\xef\xbf\xbd", "cr\xef\xbf\xbdme"}},
         {}},
        {"nothing playable", {{"a.mp3", Content::Text}, {"b.mp3", Content::Empty}}, {}, {}},
    };
    for (const FolderCase& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        const std::filesystem::path root = folder.path().toStdString();
        for (const File& file : c.files) {
            const std::filesystem::path path = root / file.path;
            std::filesystem::create_directories(path.parent_path());
            const QByteArray bytes = contentOf(file.content, song);
            std::ofstream(path, std::ios::binary).write(bytes.constData(), bytes.size());
        }

        const Served served = serve(root.string());
        for (const char* line : c.skipped) {
            EXPECT_TRUE(
                served.log.contains(QByteArray("skipping ") + root.string().c_str() + "/" + line))
                << line << "\n"
                << served.log.toStdString();
        }
        if (c.songs.empty()) {
            EXPECT_FALSE(served.ready);
            EXPECT_EQ(served.exitCode, 1);
            EXPECT_TRUE(served.log.contains("no MP3 files found under")) << served.log.data();
            continue;
        }
        ASSERT_TRUE(served.ready) << served.log.toStdString();
        ASSERT_EQ(served.songs.size(), qsizetype(c.songs.size())) << served.log.toStdString();
        for (std::size_t i = 0; i < c.songs.size(); ++i) {
            const QJsonObject got = served.songs.at(qsizetype(i)).toObject();
            EXPECT_EQ(got.value("artist").toString(), QString::fromUtf8(c.songs[i].artist));
            EXPECT_EQ(got.value("title").toString(), QString::fromUtf8(c.songs[i].title));
            EXPECT_EQ(served.bodies[i].size(), got.value("size").toInteger()) << i;
            EXPECT_TRUE(decodeMp3(served.bodies[i]).ok) << i;
        }
    }
}
