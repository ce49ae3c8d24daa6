// libFuzzer entry for the input target FuzzJpeg.
#include "support/input_fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzJpeg(data, size);
    return 0;
}
