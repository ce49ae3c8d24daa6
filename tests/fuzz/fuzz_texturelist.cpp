// libFuzzer entry for the input target FuzzTextureList.
#include "support/input_fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzTextureList(data, size);
    return 0;
}
