// libFuzzer entry for the mesh input target Fuzz3DR.
#include "support/mesh_fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz3DR(data, size);
    return 0;
}
