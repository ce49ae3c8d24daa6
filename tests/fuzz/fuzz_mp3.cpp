// libFuzzer entry for the input target FuzzMp3.
#include "support/input_fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzMp3(data, size);
    return 0;
}
