// Logical palettes and the system palette of 8-bit screens.
#include <algorithm>

#include "gdi_state.h"

using namespace win32::gdi;

namespace {

uint8_t nearest_used_slot(const Screen& screen, Rgb rgb) {
    std::vector<PaletteCandidate> candidates;
    for (unsigned slot = 0; slot < 256; ++slot)
        if (screen.slot_used[slot]) candidates.push_back({screen.system_palette[slot], uint8_t(slot)});
    return uint8_t(Encoder::nearest(8, std::move(candidates)).encode(rgb));
}

// Maps every entry of the palette onto the system palette. In the
// foreground the palette takes over the 236 free slots in entry order:
// PC_RESERVED and PC_NOCOLLAPSE entries each get a slot of their own, other
// entries share an equal colour already there. An entry equal to the static
// colour at its own index stays on that static slot, so a palette built
// around the static colours realizes one to one. In the background, and
// once the free slots run out, entries take the nearest colour present.
UINT realize(State& s, Palette& palette, bool background) {
    Screen& screen = s.screen;
    if (!palette_screen(s)) return 0;
    const size_t n = palette.entries.size();
    if (palette.fixed_mapping) return UINT(n);  // the static colours never move
    if (!background) {
        ++screen.epoch;
        for (unsigned slot = 10; slot < 246; ++slot) screen.slot_used[slot] = false;
    }
    palette.mapping.assign(n, 0);
    palette.private_slot.assign(n, false);
    unsigned next_free = 10;
    for (size_t i = 0; i < n; ++i) {
        const PALETTEENTRY& e = palette.entries[i];
        const Rgb rgb = rgb_of(e);
        if (e.peFlags & PC_EXPLICIT) {
            palette.mapping[i] = e.peRed;  // low byte of a system palette index
            continue;
        }
        if (static_slot(unsigned(i)) && screen.system_palette[i] == rgb) {
            palette.mapping[i] = uint8_t(i);
            continue;
        }
        const bool own = (e.peFlags & (PC_RESERVED | PC_NOCOLLAPSE)) != 0;
        if (!own) {
            bool found = false;
            for (unsigned slot = 0; slot < 256 && !found; ++slot) {
                if (screen.slot_used[slot] && screen.system_palette[slot] == rgb) {
                    palette.mapping[i] = uint8_t(slot);
                    found = true;
                }
            }
            if (found) continue;
        }
        if (!background) {
            while (next_free < 246 && screen.slot_used[next_free]) ++next_free;
            if (next_free < 246) {
                screen.system_palette[next_free] = rgb;
                screen.slot_used[next_free] = true;
                palette.mapping[i] = uint8_t(next_free);
                palette.private_slot[i] = (e.peFlags & PC_RESERVED) != 0;
                ++next_free;
                continue;
            }
        }
        palette.mapping[i] = nearest_used_slot(screen, rgb);
    }
    palette.mapped_epoch = screen.epoch;
    return UINT(n);
}

}  // namespace

extern "C" {

HPALETTE WINAPI CreatePalette(const LOGPALETTE* plpal) {
    if (!plpal || plpal->palVersion != 0x300 || plpal->palNumEntries == 0 ||
        plpal->palNumEntries > 256) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto palette = std::make_shared<Palette>();
    palette->entries.assign(plpal->palPalEntry, plpal->palPalEntry + plpal->palNumEntries);
    State& s = state();
    std::lock_guard lock(s.mutex);
    return reinterpret_cast<HPALETTE>(add_object(s, palette));
}

HPALETTE WINAPI SelectPalette(HDC hdc, HPALETTE hPal, BOOL bForceBkgd) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto dc = find_dc(s, hdc);
    auto palette = find_as<Palette>(s, hPal, Kind::Palette);
    if (!dc || !palette) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    HPALETTE previous = dc->palette ? reinterpret_cast<HPALETTE>(dc->palette->handle) : nullptr;
    reselect(dc->palette, palette);
    dc->palette_background = bForceBkgd != 0;
    return previous;
}

// Memory DCs realize in the background: only the screen's foreground
// palette changes the system palette.
UINT WINAPI RealizePalette(HDC hdc) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto dc = find_dc(s, hdc);
    if (!dc || !dc->palette) {
        SetLastError(ERROR_INVALID_HANDLE);
        return GDI_ERROR;
    }
    return realize(s, *dc->palette, dc->memory || dc->palette_background);
}

// Only PC_RESERVED entries change. When the palette owns their system
// slots, the screen's pixels of those slots change colour at once.
BOOL WINAPI AnimatePalette(HPALETTE hPal, UINT iStartIndex, UINT cEntries,
                           const PALETTEENTRY* ppe) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto palette = find_as<Palette>(s, hPal, Kind::Palette);
    if (!palette || palette->stock) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const size_t size = palette->entries.size();
    if (!ppe || iStartIndex >= size) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const size_t count = std::min<size_t>(cEntries, size - iStartIndex);
    const bool live = mapping_valid(s, *palette);
    for (size_t k = 0; k < count; ++k) {
        const size_t i = iStartIndex + k;
        PALETTEENTRY& e = palette->entries[i];
        if (!(e.peFlags & PC_RESERVED)) continue;
        e.peRed = ppe[k].peRed;
        e.peGreen = ppe[k].peGreen;
        e.peBlue = ppe[k].peBlue;
        if (live && palette->private_slot[i])
            s.screen.system_palette[palette->mapping[i]] = rgb_of(e);
    }
    return TRUE;
}

// With a null buffer: the number of entries.
UINT WINAPI GetPaletteEntries(HPALETTE hpal, UINT iStart, UINT cEntries,
                              LPPALETTEENTRY pPalEntries) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto palette = find_as<Palette>(s, hpal, Kind::Palette);
    if (!palette) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    const size_t size = palette->entries.size();
    if (!pPalEntries) return UINT(size);
    if (iStart >= size) return 0;
    const size_t count = std::min<size_t>(cEntries, size - iStart);
    std::copy_n(palette->entries.begin() + iStart, count, pPalEntries);
    return UINT(count);
}

// Only palette screens have a system palette; elsewhere nothing is filled.
UINT WINAPI GetSystemPaletteEntries(HDC hdc, UINT iStart, UINT cEntries,
                                    LPPALETTEENTRY pPalEntries) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (!find_dc(s, hdc)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (!palette_screen(s)) return 0;
    if (!pPalEntries) return 256;
    if (iStart >= 256) return 0;
    const UINT count = std::min<UINT>(cEntries, 256 - iStart);
    for (UINT k = 0; k < count; ++k) {
        const Rgb c = s.screen.system_palette[iStart + k];
        pPalEntries[k] = PALETTEENTRY{BYTE(c >> 16), BYTE(c >> 8), BYTE(c), 0};
    }
    return count;
}

}  // extern "C"
