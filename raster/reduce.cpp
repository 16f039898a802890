// Colour merging for 8-bit buffers, so that an image fits the 236 entries
// an 8-bit display leaves free beside the static colours.
#include <algorithm>

#include "decode.h"
#include "raster/rl.h"

namespace raster {

void apply_palette_to_8bit(Triples& triples, int32_t count, bool reduce) {
    if (count == 256) {
        if (reduce) rl_reduce_palette(10, 236, triples.data());
        rl_set_palette(10, 236, triples.data() + 10 * 3);
    } else if (count > 0) {
        rl_set_palette(10, count, triples.data());
    }
}

}  // namespace raster

using namespace raster;

extern "C" int32_t rl_reduce_palette(int32_t offset, int32_t limit, uint8_t* triples) {
    State& s = state();
    if (!s.has_active() || s.geometry.depth != 8 || !triples || offset < 0 || offset > 255)
        return 0;
    limit = std::clamp(limit, 1, 256 - offset);
    const Geometry& g = s.geometry;
    const Area area{std::max(s.image_area.left, 0), std::max(s.image_area.top, 0),
                    std::min(s.image_area.right, g.width), std::min(s.image_area.bottom, g.height)};
    if (area.empty()) return 0;

    // Pixel counts stop at 65535; the merge order depends on it.
    std::array<uint16_t, 256> count{};
    for (int32_t y = area.top; y < area.bottom; ++y) {
        const uint8_t* row = g.row(y);
        for (int32_t x = area.left; x < area.right; ++x)
            if (count[row[x]] < 0xFFFF) ++count[row[x]];
    }
    int32_t used = static_cast<int32_t>(
        std::count_if(count.begin(), count.end(), [](uint16_t c) { return c > 0; }));

    std::array<uint8_t, 256> map{};
    for (int i = 0; i < 256; ++i) map[i] = static_cast<uint8_t>(i);
    auto distance = [triples](int i, int j) {
        int32_t d = 0;
        for (int c = 0; c < 3; ++c) {
            const int32_t diff = triples[3 * i + c] - triples[3 * j + c];
            d += diff * diff;
        }
        return d;
    };

    while (used > limit) {
        int best_i = -1, best_j = -1;
        int32_t best = 0;
        for (int i = 0; i < 256; ++i) {
            if (!count[i]) continue;
            for (int j = i + 1; j < 256; ++j) {
                if (!count[j]) continue;
                const int32_t d = distance(i, j);
                const bool closer = best_i < 0 || d < best;
                const bool tie_wins =
                    best_i >= 0 && d == best && count[j] < std::min(count[best_i], count[best_j]);
                if (closer || tie_wins) {
                    best = d;
                    best_i = i;
                    best_j = j;
                }
            }
        }
        if (best_i < 0) break;  // a single colour left
        const int from = count[best_i] <= count[best_j] ? best_i : best_j;
        const int to = from == best_i ? best_j : best_i;
        for (uint8_t& m : map)
            if (m == from) m = static_cast<uint8_t>(to);
        count[to] = static_cast<uint16_t>(std::min(0xFFFF, count[to] + count[from]));
        count[from] = 0;
        --used;
    }

    // Renumber in place (a number never exceeds its index), then move up.
    std::array<uint8_t, 256> number{};
    int next = 0;
    for (int i = 0; i < 256; ++i) {
        if (!count[i]) continue;
        number[i] = static_cast<uint8_t>(next);
        std::copy_n(triples + 3 * i, 3, triples + 3 * next);
        ++next;
    }
    std::copy_backward(triples, triples + 3 * (256 - offset), triples + 3 * 256);
    std::fill(triples, triples + 3 * offset, 0);
    std::fill(triples + 3 * (offset + limit), triples + 3 * 256, 0);

    for (int32_t y = area.top; y < area.bottom; ++y) {
        uint8_t* row = g.row(y);
        for (int32_t x = area.left; x < area.right; ++x)
            row[x] = static_cast<uint8_t>(number[map[row[x]]] + offset);
    }
    return 0;
}
