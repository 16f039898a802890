// The text listing of a DLS collection, from what the synthesizer's parser
// makes of it.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "core/ops.h"
#include "digital/sample.h"
#include "midi/dls_collection.h"
#include "midi/dls_envelope.h"
#include "services/outbuf.h"

namespace svx::dls {
namespace {

class Text {
public:
    void print(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        char line[512];
        va_list args;
        va_start(args, format);
        const int n = std::vsnprintf(line, sizeof line, format, args);
        va_end(args);
        if (n > 0) out.write(line, std::min<size_t>(size_t(n), sizeof line - 1));
    }
    services::OutputBuffer out;
};

const char* source_name(uint16_t s) {
    switch (s) {
        case 0: return "CONN_SRC_NONE";
        case 1: return "CONN_SRC_LFO";
        case 2: return "CONN_SRC_KEYONVELOCITY";
        case 3: return "CONN_SRC_KEYNUMBER";
        case 4: return "CONN_SRC_EG1";
        case 5: return "CONN_SRC_EG2";
        case 6: return "CONN_SRC_PITCHWHEEL";
        case 0x81: return "CONN_SRC_CC1";
        case 0x87: return "CONN_SRC_CC7";
        case 0x8A: return "CONN_SRC_CC10";
        case 0x8B: return "CONN_SRC_CC11";
        case 0x100: return "CONN_SRC_RPN0";
        case 0x101: return "CONN_SRC_RPN1";
        case 0x102: return "CONN_SRC_RPN2";
        default: return "?";
    }
}

const char* destination_name(uint16_t d) {
    switch (d) {
        case 1: return "CONN_DST_ATTENUATION";
        case 3: return "CONN_DST_PITCH";
        case 4: return "CONN_DST_PAN";
        case 0x104: return "CONN_DST_LFO_FREQUENCY";
        case 0x105: return "CONN_DST_LFO_STARTDELAY";
        case 0x206: return "CONN_DST_EG1_ATTACKTIME";
        case 0x207: return "CONN_DST_EG1_DECAYTIME";
        case 0x209: return "CONN_DST_EG1_RELEASETIME";
        case 0x20A: return "CONN_DST_EG1_SUSTAINLEVEL";
        case 0x30A: return "CONN_DST_EG2_ATTACKTIME";
        case 0x30B: return "CONN_DST_EG2_DECAYTIME";
        case 0x30D: return "CONN_DST_EG2_RELEASETIME";
        case 0x30E: return "CONN_DST_EG2_SUSTAINLEVEL";
        default: return "?";
    }
}

// A connection's value in the unit of its destination.
void print_value(Text& t, const Connector& k, int32_t v) {
    if (v == kAbsent) {
        t.print("Implicit\r\n");
        return;
    }
    switch (k.destination) {
        case 1: t.print("%.2f dB\r\n", decibels_of(v)); break;
        case 4: t.print("%.1f %%\r\n", units_of(v) / 10.0); break;
        case 0x104: t.print("%.3f Hz\r\n", lfo_hertz(v)); break;
        case 0x20A: case 0x30E: t.print("%.1f %%\r\n", units_of(v) / 10.0); break;
        case 0x105: case 0x206: case 0x207: case 0x209: case 0x30A: case 0x30B: case 0x30D:
            t.print("%.2f ms\r\n", std::exp2(units_of(v) / 1200.0) * 1000.0);
            break;
        default: t.print("%.2f cents\r\n", units_of(v)); break;
    }
}

void print_sample(Text& t, const SampleParams& s, const Wave* w) {
    t.print("    WSMPL: Unity note %u, Fine tune %d cents, ", unsigned(s.unity_note), int(s.fine_tune));
    if (s.attenuation == kAbsent) t.print("Absolute zero");
    else t.print("Attenuation %.2f dB", decibels_of(s.attenuation));
    t.print(", Options $%X%s%s\r\n", unsigned(s.options), (s.options & 1) ? " (No truncation)" : "",
            (s.options & 2) ? " (No compression)" : "");
    if (w)
        // The file's rate is any 32-bit number: not cast to int.
        t.print("    WAVE: %u bytes, %.0f Hz %d-bit %s\r\n", unsigned(w->size), w->rate,
                (w->format & 1) ? 16 : 8, (w->format & 2) ? "stereo (ILLEGAL)" : "mono");
    if (s.loop_count > 0) {
        const uint32_t unit = w ? w->frame_bytes() : 1;
        t.print("    WLOOP: Type %u (%s), start %u samples (%u bytes), length %u samples (%u bytes)\r\n",
                unsigned(s.loop.type), s.loop.type == 0 ? "Forward" : "*** ILLEGAL ***",
                unsigned(s.loop.start), unsigned(s.loop.start * unit), unsigned(s.loop.length),
                unsigned(s.loop.length * unit));
        if (s.loop_count > 1) t.print("    *** ILLEGAL LOOP COUNT: %u ***\r\n", unsigned(s.loop_count));
    }
}

void list(Text& t, const Collection& c, uint32_t flags) {
    t.print("DLS Listing - Version 4.0g\r\n");
    t.print("__________________________\r\n\r\n");
    t.print("Contents of DLS 1.0 file (%d instruments):\r\n", int(c.instruments.size()));
    std::vector<const Instrument*> order;
    for (const Instrument& i : c.instruments) order.push_back(&i);
    std::stable_sort(order.begin(), order.end(), [](const Instrument* a, const Instrument* b) {
        return a->bank_number() < b->bank_number();
    });
    for (const Instrument* i : order) {
        const uint32_t bank = i->bank_number();
        t.print("\r\nBank %u (%u:%u), patch %u: %s, %d region(s)\r\n", unsigned(bank), unsigned(bank >> 7),
                unsigned(bank & 0x7F), unsigned(i->patch), i->drum() ? "Drum kit" : "Melodic instrument",
                int(i->regions.size()));
        for (const Region& r : i->regions) {
            t.print("\r\n  Keys %u-%u, velocities %u-%u, key group %u%s\r\n", unsigned(r.key_low),
                    unsigned(r.key_high), unsigned(r.velocity_low), unsigned(r.velocity_high),
                    unsigned(r.key_group), (r.options & 1) ? " (Not self-exclusive)" : "");
            print_sample(t, r.sample, c.wave_of(r));
            t.print("    WLINK: Options $%X%s, phase group %u, channel %u, pool table index %u\r\n",
                    unsigned(r.link_options), (r.link_options & 1) ? " (Phase master)" : "",
                    unsigned(r.phase_group), unsigned(r.channel), unsigned(r.table_index));
            if (!(flags & SVX_LIST_DLS_ARTICULATION)) continue;
            for (int n = 0; n < kConnectionCount; ++n) {
                const Connector& k = kConnectors[size_t(n)];
                t.print("    %s %s %s %s = ", source_name(k.source), source_name(k.control),
                        destination_name(k.destination), k.transform ? "TRN_CONCAVE" : "TRN_NONE");
                print_value(t, k, r.articulation[size_t(n)]);
            }
        }
    }
    t.print("\r\n(End of list)\r\n");
}

}  // namespace
}  // namespace svx::dls

namespace svx::op {

int32_t SVX_list_DLS(const void* image, char** text, uint32_t* text_size, uint32_t flags) {
    if (text) *text = nullptr;
    if (text_size) *text_size = 0;
    const auto* p = static_cast<const uint8_t*>(image);
    const size_t extent = dls::riff_extent(image);
    if (extent == 0) return 0;
    dls::Collection c;
    const int32_t code = dls::parse_collection(p, extent, c);
    if (code == dls::kOutOfMemory) {
        SVX_set_error("Out of memory.");
        return 0;
    }
    if (code == dls::kNotDls) {
        SVX_set_error("Not a DLS file.");
        return 0;
    }
    if (code != dls::kOk) {
        char message[64];
        std::snprintf(message, sizeof message, "Error %d parsing file.", int(code));
        SVX_set_error(message);
        return 0;
    }
    dls::Text t;
    try {
        dls::list(t, c, flags);
    } catch (const std::bad_alloc&) {
        SVX_set_error("Out of memory.");
        return 0;
    }
    t.out.write_byte(0);
    uint32_t bytes = 0;
    void* block = t.out.finish(&bytes);
    if (!block) {
        SVX_set_error("Out of memory.");
        return 0;
    }
    if (text) *text = static_cast<char*>(block);
    else SVX_mem_free_lock(block);
    if (text_size) *text_size = bytes;
    return 1;
}

}  // namespace svx::op
