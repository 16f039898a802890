// Compressed collections: form type "MLS ", a DLS collection whose waves
// carry IMA ADPCM data. A compressed wave list starts "pcm " (the wave's
// own PCM format), "fmt " (the ADPCM format), "fact" (its frame count).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace svx::dls {

// Both give false with the library's error text set when the image is no
// collection of the expected type or lies about its sizes.
bool compress_collection(const uint8_t* image, size_t size, std::vector<uint8_t>& out);
bool expand_collection(const uint8_t* image, size_t size, std::vector<uint8_t>& out);

}  // namespace svx::dls
