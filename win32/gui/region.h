// Regions as horizontal bands of disjoint spans: the update regions of
// windows, window shapes, the visible parts of windows and GDI's HRGN.
#pragma once

#include <cstdint>
#include <vector>

#include "win32/types.h"

namespace win32::gdi {

struct Span {
    int32_t left, right;  // [left, right)
    bool operator==(const Span&) const = default;
};

struct Band {
    int32_t top, bottom;  // [top, bottom)
    std::vector<Span> spans;  // sorted, disjoint, not touching
};

enum class RegionOp { And, Or, Xor, Diff };

class Region {
public:
    Region() = default;
    explicit Region(const RECT& r);
    // Rows from `top` down, each a sorted list of spans (overlaps merged).
    static Region from_rows(int32_t top, std::vector<std::vector<Span>> rows);
    // Only rows [first_row, end_row) are computed, for drawing clipped shapes.
    static Region round_rect(RECT r, int width, int height, int64_t first_row = INT64_MIN,
                             int64_t end_row = INT64_MAX);
    // Polygon with pixel centres sampled: alternate or winding fill.
    // Only rows [first_row, end_row) are computed, for drawing clipped shapes.
    static Region polygon(const POINT* points, int count, bool winding,
                          int64_t first_row = INT64_MIN, int64_t end_row = INT64_MAX);

    bool empty() const { return bands_.empty(); }
    RECT bounds() const;
    bool contains(int64_t x, int64_t y) const;
    bool intersects(const RECT& r) const;
    Region combine(const Region& other, RegionOp op) const;
    void offset(int32_t dx, int32_t dy);
    // The spans covering row y, or null.
    const std::vector<Span>* row(int64_t y) const;
    const std::vector<Band>& bands() const { return bands_; }
    bool operator==(const Region& o) const;

private:
    void push_band(int32_t top, int32_t bottom, std::vector<Span> spans);
    std::vector<Band> bands_;
};

std::vector<Span> combine_spans(const std::vector<Span>& a, const std::vector<Span>& b, RegionOp op);

}  // namespace win32::gdi
