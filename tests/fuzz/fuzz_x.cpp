// libFuzzer entry for the mesh input target FuzzX.
#include "support/mesh_fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzX(data, size);
    return 0;
}
