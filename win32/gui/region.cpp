#include "region.h"

#include <algorithm>
#include <cmath>

namespace win32::gdi {

namespace {

// Regions larger than any screen the stand-in makes are cut down, so that
// absurd coordinates cannot make rows without end.
constexpr int32_t kLimit = 1 << 20;

int32_t clamp_coord(int64_t v) { return int32_t(std::clamp<int64_t>(v, -kLimit, kLimit)); }

std::vector<Span> normalize(std::vector<Span> spans) {
    std::sort(spans.begin(), spans.end(),
              [](const Span& a, const Span& b) { return a.left < b.left; });
    std::vector<Span> out;
    for (const Span& s : spans) {
        if (s.left >= s.right) continue;
        if (!out.empty() && s.left <= out.back().right)
            out.back().right = std::max(out.back().right, s.right);
        else
            out.push_back(s);
    }
    return out;
}

}  // namespace

std::vector<Span> combine_spans(const std::vector<Span>& a, const std::vector<Span>& b, RegionOp op) {
    // Sweep over the edges of both lists.
    std::vector<std::pair<int32_t, int>> edges;  // position, which list (0/1)
    edges.reserve((a.size() + b.size()) * 2);
    for (const Span& s : a) edges.insert(edges.end(), {{s.left, 0}, {s.right, 0}});
    for (const Span& s : b) edges.insert(edges.end(), {{s.left, 1}, {s.right, 1}});
    std::sort(edges.begin(), edges.end());
    bool in[2] = {false, false};
    auto inside = [&] {
        switch (op) {
        case RegionOp::And: return in[0] && in[1];
        case RegionOp::Or: return in[0] || in[1];
        case RegionOp::Xor: return in[0] != in[1];
        case RegionOp::Diff: return in[0] && !in[1];
        }
        return false;
    };
    std::vector<Span> out;
    size_t i = 0;
    while (i < edges.size()) {
        const int32_t x = edges[i].first;
        const bool before = inside();
        for (; i < edges.size() && edges[i].first == x; ++i) in[edges[i].second] = !in[edges[i].second];
        const bool after = inside();
        if (!before && after) out.push_back({x, x});
        else if (before && !after) out.back().right = x;
    }
    return normalize(std::move(out));
}

Region::Region(const RECT& r) {
    const int32_t l = clamp_coord(r.left), t = clamp_coord(r.top);
    const int32_t rt = clamp_coord(r.right), b = clamp_coord(r.bottom);
    if (l < rt && t < b) bands_.push_back({t, b, {{l, rt}}});
}

void Region::push_band(int32_t top, int32_t bottom, std::vector<Span> spans) {
    if (top >= bottom || spans.empty()) return;
    if (!bands_.empty() && bands_.back().bottom == top && bands_.back().spans == spans) {
        bands_.back().bottom = bottom;
        return;
    }
    bands_.push_back({top, bottom, std::move(spans)});
}

Region Region::from_rows(int32_t top, std::vector<std::vector<Span>> rows) {
    Region r;
    for (size_t i = 0; i < rows.size(); ++i)
        r.push_band(top + int32_t(i), top + int32_t(i) + 1, normalize(std::move(rows[i])));
    return r;
}

Region Region::round_rect(RECT r, int width, int height, int64_t first_row, int64_t end_row) {
    if (r.left > r.right) std::swap(r.left, r.right);
    if (r.top > r.bottom) std::swap(r.top, r.bottom);
    const int64_t w = int64_t(r.right) - r.left, h = int64_t(r.bottom) - r.top;
    if (w <= 0 || h <= 0 || w > kLimit || h > kLimit) return Region(r);
    // Corner ellipses never exceed the rectangle.
    const double a = std::min<double>(std::abs(width), double(w)) / 2.0;
    const double b = std::min<double>(std::abs(height), double(h)) / 2.0;
    const int64_t y0 = std::clamp<int64_t>(first_row, r.top, r.bottom) - r.top;
    const int64_t y1 = std::clamp<int64_t>(end_row, r.top, r.bottom) - r.top;
    if (y0 >= y1) return Region();
    std::vector<std::vector<Span>> rows{size_t(y1 - y0)};
    for (int64_t y = y0; y < y1; ++y) {
        const double c = y + 0.5;
        double dy = 0;
        if (c < b) dy = b - c;
        else if (c > double(h) - b) dy = c - (double(h) - b);
        int64_t inset = 0;
        if (dy > 0 && b > 0) {
            const double t = std::min(1.0, dy / b);
            inset = int64_t(std::floor(a * (1.0 - std::sqrt(1.0 - t * t)) + 0.5));
        }
        if (2 * inset < w)
            rows[size_t(y - y0)].push_back({int32_t(r.left + inset), int32_t(r.right - inset)});
    }
    return from_rows(int32_t(r.top + y0), std::move(rows));
}

Region Region::polygon(const POINT* points, int count, bool winding, int64_t first_row,
                       int64_t end_row) {
    if (!points || count < 3) return Region();
    int64_t top = points[0].y, bottom = points[0].y;
    for (int i = 1; i < count; ++i) {
        top = std::min<int64_t>(top, points[i].y);
        bottom = std::max<int64_t>(bottom, points[i].y);
    }
    top = std::max<int64_t>(clamp_coord(top), first_row);
    bottom = std::min<int64_t>(clamp_coord(bottom), end_row);
    if (top >= bottom) return Region();
    std::vector<std::vector<Span>> rows{size_t(bottom - top)};
    std::vector<std::pair<double, int>> crossings;
    for (int64_t y = top; y < bottom; ++y) {
        // A pixel belongs to the polygon when its centre does.
        const double c = double(y) + 0.5;
        crossings.clear();
        for (int i = 0; i < count; ++i) {
            const POINT& p = points[i];
            const POINT& q = points[(i + 1) % count];
            if (p.y == q.y) continue;
            const bool down = q.y > p.y;
            const double y0 = down ? p.y : q.y, y1 = down ? q.y : p.y;
            if (c < y0 || c >= y1) continue;
            const double x = p.x + (c - p.y) * (double(q.x) - p.x) / (double(q.y) - p.y);
            crossings.push_back({x, down ? 1 : -1});
        }
        std::sort(crossings.begin(), crossings.end());
        auto& row = rows[size_t(y - top)];
        int wind = 0;
        for (size_t k = 0; k + 1 < crossings.size(); ++k) {
            wind += winding ? crossings[k].second : 1;
            const bool in = winding ? wind != 0 : (wind & 1) != 0;
            if (!in) continue;
            const int64_t from = int64_t(std::ceil(crossings[k].first - 0.5));
            const int64_t to = int64_t(std::ceil(crossings[k + 1].first - 0.5));
            if (from < to) row.push_back({clamp_coord(from), clamp_coord(to)});
        }
    }
    return from_rows(int32_t(top), std::move(rows));
}

RECT Region::bounds() const {
    if (bands_.empty()) return RECT{0, 0, 0, 0};
    RECT r{bands_.front().spans.front().left, bands_.front().top,
           bands_.front().spans.back().right, bands_.back().bottom};
    for (const Band& b : bands_) {
        r.left = std::min<LONG>(r.left, b.spans.front().left);
        r.right = std::max<LONG>(r.right, b.spans.back().right);
    }
    return r;
}

const std::vector<Span>* Region::row(int64_t y) const {
    auto it = std::upper_bound(bands_.begin(), bands_.end(), y,
                               [](int64_t v, const Band& b) { return v < b.bottom; });
    if (it == bands_.end() || y < it->top) return nullptr;
    return &it->spans;
}

bool Region::contains(int64_t x, int64_t y) const {
    const auto* spans = row(y);
    if (!spans) return false;
    for (const Span& s : *spans)
        if (x >= s.left && x < s.right) return true;
    return false;
}

bool Region::intersects(const RECT& r) const { return !combine(Region(r), RegionOp::And).empty(); }

Region Region::combine(const Region& other, RegionOp op) const {
    std::vector<int32_t> ys;
    for (const Band& b : bands_) ys.insert(ys.end(), {b.top, b.bottom});
    for (const Band& b : other.bands_) ys.insert(ys.end(), {b.top, b.bottom});
    std::sort(ys.begin(), ys.end());
    ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
    static const std::vector<Span> none;
    Region out;
    for (size_t i = 0; i + 1 < ys.size(); ++i) {
        const auto* a = row(ys[i]);
        const auto* b = other.row(ys[i]);
        out.push_band(ys[i], ys[i + 1], combine_spans(a ? *a : none, b ? *b : none, op));
    }
    return out;
}

void Region::offset(int32_t dx, int32_t dy) {
    for (Band& b : bands_) {
        b.top = clamp_coord(int64_t(b.top) + dy);
        b.bottom = clamp_coord(int64_t(b.bottom) + dy);
        for (Span& s : b.spans) {
            s.left = clamp_coord(int64_t(s.left) + dx);
            s.right = clamp_coord(int64_t(s.right) + dx);
        }
    }
    // Clamping at the limits can squash bands or spans; rebuild.
    std::vector<Band> old = std::move(bands_);
    bands_.clear();
    for (Band& b : old) push_band(b.top, b.bottom, normalize(std::move(b.spans)));
}

bool Region::operator==(const Region& o) const {
    if (bands_.size() != o.bands_.size()) return false;
    for (size_t i = 0; i < bands_.size(); ++i) {
        if (bands_[i].top != o.bands_[i].top || bands_[i].bottom != o.bands_[i].bottom ||
            bands_[i].spans != o.bands_[i].spans)
            return false;
    }
    return true;
}

}  // namespace win32::gdi
