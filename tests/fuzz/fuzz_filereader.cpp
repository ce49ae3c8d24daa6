// libFuzzer entry for the mesh input target FuzzFileReader.
#include "support/mesh_fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzFileReader(data, size);
    return 0;
}
