// The libFuzzer entry of every target; the build names the target's function
// in FUZZ_TARGET.
#include "support/input_fuzz_targets.h"
#include "support/mesh_fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FUZZ_TARGET(data, size);
    return 0;
}
