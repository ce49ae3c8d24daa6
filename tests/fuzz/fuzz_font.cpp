// libFuzzer entry for the input target FuzzFont.
#include "support/input_fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzFont(data, size);
    return 0;
}
