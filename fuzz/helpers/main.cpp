// libFuzzer entry for the common helpers.
#include "fuzz/helpers/HelpersFuzzBody.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return sondrel::fuzz::fuzzCommonHelpers(data, size);
}
