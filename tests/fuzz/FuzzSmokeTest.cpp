// The fuzz targets' bodies over their seed corpora (fuzz/<target>/corpus), so that every
// regular and sanitizer test run exercises them without a fuzzing compiler. A body
// aborts on a broken invariant; a corpus file that once crashed a target stays a case.

#include "fuzz/FuzzSupport.h"
#include "fuzz/answers/AnswersFuzzBody.h"
#include "fuzz/imagenames/ImageNamesFuzzBody.h"
#include "fuzz/player/PlayerFuzzBody.h"
#include "fuzz/signin/SignInFuzzBody.h"
#include "fuzz/startfiles/StartFilesFuzzBody.h"
#include "fuzz/stream/StreamFuzzBody.h"

#include <gtest/gtest.h>

namespace sondrel {
namespace {

struct Target {
    const char* folder;
    fuzz::FuzzBody body;
    int seeds; // at least this many files in the corpus
};

const Target kTargets[] = {
    {"answers", &fuzz::fuzzServiceAnswers, 7}, {"signin", &fuzz::fuzzSignIn, 6},
    {"stream", &fuzz::fuzzStreamParser, 7},    {"player", &fuzz::fuzzAudioPlayer, 3},
    {"startfiles", &fuzz::fuzzStartFiles, 5},  {"imagenames", &fuzz::fuzzImageNames, 4},
};

void PrintTo(const Target& target, std::ostream* out) {
    *out << target.folder;
}

class FuzzSmoke : public ::testing::TestWithParam<Target> {};

// Each target is its own case, so a crashing one is named by the run.
TEST_P(FuzzSmoke, RunsItsSeedsAndTheirPrefixes) {
    // The empty input, the whole seeds and at least one prefix of each.
    EXPECT_GT(fuzz::runSeedCorpus(GetParam().folder, GetParam().body), 2 * GetParam().seeds);
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzSmoke, ::testing::ValuesIn(kTargets),
                         [](const auto& info) { return std::string(info.param.folder); });

} // namespace
} // namespace sondrel
