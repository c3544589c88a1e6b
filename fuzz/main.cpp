// libFuzzer entry: hands every input to the body named by SONDREL_FUZZ_ENTRY.
#include <cstddef>
#include <cstdint>

namespace sondrel::fuzz {
int SONDREL_FUZZ_ENTRY(const std::uint8_t* data, std::size_t size);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return sondrel::fuzz::SONDREL_FUZZ_ENTRY(data, size);
}
