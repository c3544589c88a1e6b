// libFuzzer entry for the HTML layer.
#include "fuzz/html/HtmlFuzzBody.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return sondrel::fuzz::fuzzHtmlLayer(data, size);
}
