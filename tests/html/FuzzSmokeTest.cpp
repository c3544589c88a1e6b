// The fuzz targets' bodies over their seed corpora, so that every regular (and
// sanitizer) test run exercises them without a fuzzing compiler.

#include "fuzz/FuzzSupport.h"
#include "fuzz/helpers/HelpersFuzzBody.h"
#include "fuzz/html/HtmlFuzzBody.h"

#include <gtest/gtest.h>

namespace sondrel {
namespace {

TEST(FuzzSmoke, HtmlLayerSeeds) {
    EXPECT_GT(fuzz::runSeedCorpus("html", &fuzz::fuzzHtmlLayer), 4);
}

TEST(FuzzSmoke, CommonHelperSeeds) {
    EXPECT_GT(fuzz::runSeedCorpus("helpers", &fuzz::fuzzCommonHelpers), 6);
}

} // namespace
} // namespace sondrel
