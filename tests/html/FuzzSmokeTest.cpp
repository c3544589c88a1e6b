// The fuzz targets' bodies over their seed corpora, so that every regular (and
// sanitizer) test run exercises them without a fuzzing compiler.

#include "fuzz/helpers/HelpersFuzzBody.h"
#include "fuzz/html/HtmlFuzzBody.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace sondrel {
namespace {

using Target = int (*)(const std::uint8_t*, std::size_t);

int runCorpus(const char* folder, Target target) {
    const QDir dir(qEnvironmentVariable("SONDREL_SOURCE_DIR") + QLatin1String("/fuzz/") +
                   QLatin1String(folder) + QLatin1String("/corpus"));
    int runs = 0;
    for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        const QByteArray bytes = file.readAll();
        // Every prefix of a seed, as libFuzzer's first mutations would try.
        for (qsizetype length = 0; length <= bytes.size(); length += 1 + length / 4) {
            target(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                   static_cast<std::size_t>(length));
            ++runs;
        }
        target(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
               static_cast<std::size_t>(bytes.size()));
        ++runs;
    }
    return runs;
}

TEST(FuzzSmoke, HtmlLayerSeeds) {
    EXPECT_GT(runCorpus("html", &fuzz::fuzzHtmlLayer), 4);
    fuzz::fuzzHtmlLayer(nullptr, 0);
}

TEST(FuzzSmoke, CommonHelperSeeds) {
    EXPECT_GT(runCorpus("helpers", &fuzz::fuzzCommonHelpers), 6);
    fuzz::fuzzCommonHelpers(nullptr, 0);
}

} // namespace
} // namespace sondrel
