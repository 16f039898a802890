// PCX images decoded into buffers of every depth.
#include "fuzz_raster.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::decode_into_each_depth(rl_show_pcx, data, size);
    return 0;
}
