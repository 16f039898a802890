// A readable listing of a Standard MIDI File: its chunks, every event of
// its tracks, and on request the Roland MT-32 system-exclusive messages
// decoded against the device's parameter map.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/ops.h"
#include "midi/mt32map.h"
#include "services/chunks.h"
#include "services/outbuf.h"

namespace svx::midi {
namespace {

using services::be32;
using services::same_tag;

constexpr const char* kIndent = "           ";

// The texts of controllers, by number; null: "undefined controller".
// Number controllers print "%s = %.3u" with %s "MSB"; switches print on/off.
struct ControllerText {
    const char* text;
    enum Kind { none, msb, value, switched, plain } kind;
};

ControllerText controller_text(int number) {
    using K = ControllerText::Kind;
    switch (number) {
    case 1: return {"modulation controller %s = %.3u", K::msb};
    case 2: return {"breath controller %s = %.3u", K::msb};
    case 4: return {"foot controller %s = %.3u", K::msb};
    case 5: return {"portamento time %s = %.3u", K::msb};
    case 6: return {"data entry %s = %.3u", K::msb};
    case 7: return {"main volume %s = %.3u", K::msb};
    case 8: return {"balance controller %s = %.3u", K::msb};
    case 10: return {"pan controller %s = %.3u", K::msb};
    case 11: return {"expression controller %s = %.3u", K::msb};
    case 16: return {"general purpose controller #1 %s = %.3u", K::msb};
    case 17: return {"general purpose controller #2 %s = %.3u", K::msb};
    case 18: return {"general purpose controller #3 %s = %.3u", K::msb};
    case 19: return {"general purpose controller #4 %s = %.3u", K::msb};
    case 64: return {"damper pedal (sustain) = %s", K::switched};
    case 65: return {"portamento = %s", K::switched};
    case 66: return {"sostenuto %s", K::switched};
    case 67: return {"soft pedal = %s", K::switched};
    case 69: return {"hold 2 = %s", K::switched};
    case 80: return {"general purpose controller #5 = %.3u", K::value};
    case 81: return {"general purpose controller #6 = %.3u", K::value};
    case 82: return {"general purpose controller #7 = %.3u", K::value};
    case 83: return {"general purpose controller #8 = %.3u", K::value};
    // The library's system-exclusive queues and MT-32 controllers.
    case 43: return {"SVX sysex queue 1 start address MSB = %.3u", K::value};
    case 44: return {"SVX sysex queue 1 start address KSB = %.3u", K::value};
    case 45: return {"SVX sysex queue 1 start address LSB = %.3u", K::value};
    case 46: return {"SVX sysex queue 1 data byte = %.3u", K::value};
    case 47: return {"SVX sysex queue 1 final data byte = %.3u", K::value};
    case 48: return {"SVX sysex queue 2 start address MSB = %.3u", K::value};
    case 49: return {"SVX sysex queue 2 start address KSB = %.3u", K::value};
    case 50: return {"SVX sysex queue 2 start address LSB = %.3u", K::value};
    case 51: return {"SVX sysex queue 2 data byte = %.3u", K::value};
    case 52: return {"SVX sysex queue 2 final data byte = %.3u", K::value};
    case 53: return {"SVX sysex queue 3 start address MSB = %.3u", K::value};
    case 54: return {"SVX sysex queue 3 start address KSB = %.3u", K::value};
    case 55: return {"SVX sysex queue 3 start address LSB = %.3u", K::value};
    case 56: return {"SVX sysex queue 3 data byte = %.3u", K::value};
    case 57: return {"SVX sysex queue 3 final data byte = %.3u", K::value};
    case 58: return {"SVX rhythm setup timbre = %.3u", K::value};
    case 59: return {"SVX MT-32 patch reverb switch = %.3u", K::value};
    case 60: return {"SVX MT-32 patch bender range = %.3u", K::value};
    case 61: return {"SVX MT-32 reverb mode = %.3u", K::value};
    case 62: return {"SVX MT-32 reverb time = %.3u", K::value};
    case 63: return {"SVX MT-32 reverb level = %.3u", K::value};
    case 91: return {"external effects depth = %.3u", K::value};
    case 92: return {"tremolo depth = %.3u", K::value};
    case 93: return {"chorus depth = %.3u", K::value};
    case 94: return {"celeste (detune) depth = %.3u", K::value};
    case 95: return {"phaser depth = %.3u", K::value};
    case 96: return {"data increment", K::plain};
    case 97: return {"data decrement", K::plain};
    case 98: return {"non-registered parameter LSB selected = %.3u", K::value};
    case 99: return {"non-registered parameter MSB selected = %.3u", K::value};
    case 100: return {"registered parameter LSB selected = %.3u", K::value};
    case 101: return {"registered parameter MSB selected = %.3u", K::value};
    case 110: return {"SVX channel lock/release = %.3u", K::value};
    case 111: return {"SVX channel lock protection = %.3u", K::value};
    case 112: return {"SVX voice protection = %.3u", K::value};
    case 113: return {"SVX timbre protection = %.3u", K::value};
    case 114: return {"SVX patch bank select = %.3u", K::value};
    case 115: return {"SVX indirect controller prefix = %.3u", K::value};
    case 116: return {"SVX FOR loop controller = %.3u", K::value};
    case 117: return {"SVX NEXT/BREAK controller = %.3u", K::value};
    case 118: return {"SVX clear beat/measure count = %.3u", K::value};
    case 119: return {"SVX callback trigger = %.3u", K::value};
    case 120: return {"SVX sequence branch index = %.3u", K::value};
    case 121: return {"reset all controllers", K::plain};
    case 122: return {"local control %s", K::switched};
    case 123: return {"all notes off", K::plain};
    case 124: return {"omni mode off", K::plain};
    case 125: return {"omni mode on", K::plain};
    case 126: return {"mono mode on, %.3u channels", K::value};
    case 127: return {"poly mode on", K::plain};
    default: return {nullptr, K::none};
    }
}

constexpr const char* kTextEvents[] = {"text event", "copyright notice", "sequence/track name",
                                       "instrument name", "lyric", "marker", "cue point"};

constexpr const char* kRolandCommands[][2] = {
    {"\x11", "RQ1"}, {"\x12", "DT1"}, {"\x40", "WSD"}, {"\x41", "RQD"}, {"\x42", "DAT"},
    {"\x43", "ACK"}, {"\x45", "EOD"}, {"\x4E", "ERR"}, {"\x4F", "RJC"}};

class Listing {
public:
    explicit Listing(uint32_t flags) : flags_(flags) {}

    void print(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        char line[512];
        va_list args;
        va_start(args, format);
        const int n = std::vsnprintf(line, sizeof line, format, args);
        va_end(args);
        out_.write(line, size_t(std::clamp(n, 0, int(sizeof line) - 1)));
    }

    void list(const uint8_t* image, size_t size) {
        print("MIDI Listing - Version 4.0g\r\n");
        print("%s\r\n\r\n", std::string(79, '_').c_str());
        if (flags_ & 2) print_map(true);
        else if (flags_ & 4) print_map(false);
        list_chunks(image, size);
    }

    services::OutputBuffer& output() { return out_; }

private:
    void print_map(bool full) {
        print("Roland MT-32 / LAPC-1 Programmer's Reference Guide\r\n\r\n");
        print("%-54s Hex      (Decimal)\r\n\r\n", "Parameter");
        for (int i = 0; i < mt32::area_count(); ++i) {
            const mt32::Area& area = mt32::areas()[i];
            for (int r = 0; r < area.repeat; ++r) {
                const int32_t base = mt32::linear(area.base) + r * area.stride;
                char title[96];
                std::snprintf(title, sizeof title, area.title, unsigned(r + area.first_number));
                map_line(title, base);
                if (!full || r > 0) continue;
                for (int p = 0; p < area.param_count; ++p) {
                    uint8_t a[3];
                    mt32::split(base + p, a);
                    mt32::Found found;
                    if (!mt32::find(a, found) || found.reset) continue;
                    map_line(("    " + found.name).c_str(), base + p);
                }
            }
        }
        print("\r\n");
    }

    void map_line(const char* name, int32_t address) {
        uint8_t a[3];
        mt32::split(address, a);
        std::string text = name;
        text += ' ';
        while (text.size() < 54) text += '.';
        print("%s %.2X %.2X %.2X (%.3u %.3u %.3u)\r\n", text.c_str(), a[0], a[1], a[2], a[0], a[1], a[2]);
    }

    void list_chunks(const uint8_t* image, size_t size) {
        int tracks_left = -1;
        for (size_t at = 0; at + 8 <= size && tracks_left != 0;) {
            const uint8_t* p = image + at;
            const uint32_t length = be32(p + 4);
            char id[5];
            for (int i = 0; i < 4; ++i) id[i] = p[i] >= 0x20 && p[i] < 0x7F ? char(p[i]) : '?';
            id[4] = 0;
            print("Offset $%.4X: Chunk %s, length $%.4X\r\n", unsigned(at), id, length);
            const size_t end = size_t(std::min<uint64_t>(uint64_t(at) + 8 + length, size));
            if (same_tag(p, "MThd") && end - at >= 14) {
                const unsigned division = unsigned(p[12]) << 8 | p[13];
                print("    MIDI file format: %u\r\n", unsigned(p[8]) << 8 | p[9]);
                print("    # of tracks: %u\r\n", unsigned(p[10]) << 8 | p[11]);
                if (division & 0x8000)
                    print("    SMPTE division: %u frames per second, %u ticks per frame\r\n",
                          256 - (division >> 8), division & 0xFF);
                else
                    print("    MIDI division: %u delta-time ticks per quarter-note\r\n", division);
                tracks_left = int(unsigned(p[10]) << 8 | p[11]);
            } else if (same_tag(p, "MTrk")) {
                list_track(p + 8, image + end);
                if (tracks_left > 0) --tracks_left;
            }
            print("\r\n");
            at = end;
        }
    }

    // Reads a variable-length quantity; false when the data ends in it.
    static bool vlq(const uint8_t*& p, const uint8_t* end, uint32_t& v) {
        v = 0;
        for (int i = 0; i < 4; ++i) {
            if (p >= end) return false;
            const uint8_t b = *p++;
            v = v << 7 | (b & 0x7F);
            if (!(b & 0x80)) return true;
        }
        return true;
    }

    void list_track(const uint8_t* p, const uint8_t* end) {
        int running = 0;
        while (p < end) {
            uint32_t delta;
            if (!vlq(p, end, delta) || p >= end) break;
            print("    DTime %.4lu: ", static_cast<unsigned long>(delta));
            int status = *p;
            if (status < 0x80) {
                status = running;
            } else {
                ++p;
            }
            if (status >= 0x80 && status < 0xF0) {
                running = status;
                const int count = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
                if (end - p < count) {
                    print("(event cut off by the end of the track)\r\n");
                    return;
                }
                print("Ch %.2u ", unsigned(status & 15) + 1);
                channel_message(status, p[0], count == 2 ? p[1] : 0);
                p += count;
                print("\r\n");
                continue;
            }
            if (status < 0x80) {
                print("Undefined or illegal status byte $%.2X\r\n", unsigned(*p++));
                continue;
            }
            if (!other_message(status, p, end)) {
                print("(event cut off by the end of the track)\r\n");
                return;
            }
            print("\r\n");
        }
    }

    void channel_message(int status, unsigned d1, unsigned d2) {
        if ((d1 | d2) & 0x80) {
            print("MIDI file syntax error: data value %.3u", (d1 & 0x80) ? d1 : d2);
            return;
        }
        switch (status & 0xF0) {
        case 0x80: print("note %.3u off, release velocity %.3u", d1, d2); break;
        case 0x90:
            if (d2 == 0) print("note %.3u off", d1);
            else print("note %.3u on, attack velocity %.3u", d1, d2);
            break;
        case 0xA0: print("polyphonic key pressure %.3u applied to note %.3u", d2, d1); break;
        case 0xB0: controller(d1, d2); break;
        case 0xC0: print("program change to %.3u", d1); break;
        case 0xD0: print("channel pressure %.3u applied", d1); break;
        default: print("pitch wheel set to %.5u", d1 | d2 << 7); break;
        }
    }

    void controller(unsigned number, unsigned value) {
        const ControllerText t = controller_text(int(number));
        switch (t.kind) {
        case ControllerText::msb: print(t.text, "MSB", value); break;
        case ControllerText::value: print(t.text, value); break;
        case ControllerText::switched: print(t.text, value >= 64 ? "on" : "off"); break;
        case ControllerText::plain: print("%s", t.text); break;
        default: print("undefined controller #%.3u, value = %.3u", number, value); break;
        }
    }

    // System and meta events; false when the event runs past `end`.
    bool other_message(int status, const uint8_t*& p, const uint8_t* end) {
        switch (status) {
        case 0xF0:
        case 0xF7: {
            uint32_t length;
            if (!vlq(p, end, length) || length > uint64_t(end - p)) return false;
            print("system exclusive message, type $%.2X\r\n", unsigned(status));
            if (status == 0xF0 && (flags_ & 1))
                roland(p, length);
            else
                hex_dump(p, length);
            p += length;
            return true;
        }
        case 0xF1:
        case 0xF3:
            if (p >= end) return false;
            print(status == 0xF1 ? "MTC quarter-frame message type $%.2X" : "song select = %.3u", unsigned(*p++));
            return true;
        case 0xF2:
            if (end - p < 2) return false;
            print("song position pointer = %.5u", unsigned(p[0]) | unsigned(p[1]) << 7);
            p += 2;
            return true;
        case 0xF6: print("tune request"); return true;
        case 0xFF: return meta(p, end);
        default: print("Undefined or illegal status byte $%.2X", unsigned(status)); return true;
        }
    }

    void hex_dump(const uint8_t* data, uint32_t length) {
        for (uint32_t i = 0; i < length; i += 8) {
            std::string line = kIndent;
            for (uint32_t k = i; k < std::min(length, i + 8); ++k) {
                char hex[5];
                std::snprintf(hex, sizeof hex, "%.2X ", unsigned(data[k]));
                line += hex;
            }
            line.pop_back();
            print(i == 0 ? "%s" : "\r\n%s", line.c_str());
        }
    }

    // An MT-32 message: manufacturer, device, model, command; a data set
    // decoded parameter by parameter; the checksum; the closing F7.
    void roland(const uint8_t* data, uint32_t length) {
        if (length < 1 || data[0] != 0x41) {
            print("\r\n%s(Hex dump not displayed.)", kIndent);
            return;
        }
        if (length < 4 || data[1] != 0x10 || data[2] != 0x16) {
            print("%sUnrecognized manufacturer/device code", kIndent);
            return;
        }
        print("%sManufacturer ID = $41\r\n", kIndent);
        print("%sDevice ID = $10\r\n", kIndent);
        print("%sModel ID = $16\r\n", kIndent);
        const uint8_t command = data[3];
        const char* name = "(Unknown or invalid command ID)";
        for (const auto& c : kRolandCommands)
            if (uint8_t(c[0][0]) == command) name = c[1];
        print("%sCommand = $%.2X %s", kIndent, unsigned(command), name);
        const bool closed = data[length - 1] == 0xF7;
        const uint32_t body = closed ? length - 1 : length;  // without the F7
        // Address (3), at least one data byte, checksum.
        if (command != 0x12 || body < 4 + 3 + 1 + 1) {
            if (command == 0x12) print("\r\n%sUnrecognized message format", kIndent);
        } else {
            uint8_t address[3] = {data[4], data[5], data[6]};
            const uint32_t values = body - 4 - 3 - 1;
            for (uint32_t i = 0; i < values; ++i) {
                mt32::Found found;
                if (!mt32::find(address, found)) {
                    print("\r\n%sAddress $%.2X $%.2X $%.2X: (Undocumented address -- cannot parse message)",
                          kIndent, address[0], address[1], address[2]);
                    break;
                }
                const uint8_t v = data[7 + i];
                char title[96];
                std::snprintf(title, sizeof title, found.area->title, unsigned(found.number));
                std::string what;
                char value[32];
                if (found.reset) {
                    what = "All parameters reset";
                } else {
                    if (found.characters)
                        std::snprintf(value, sizeof value, "'%c'", v >= 0x20 && v < 0x7F ? char(v) : '?');
                    else
                        std::snprintf(value, sizeof value, "= %u", unsigned(v));
                    what = std::string(title) + ", " + found.name + " " + value;
                }
                print("\r\n%sAddress $%.2X $%.2X $%.2X: %s", kIndent, address[0], address[1], address[2],
                      what.c_str());
                mt32::split(mt32::linear(address) + 1, address);
            }
            print("\r\n%sChecksum = $%.2X", kIndent, unsigned(data[body - 1]));
        }
        if (!closed) print("\r\nWARNING: Missing $F7 EOX terminator");
    }

    bool meta(const uint8_t*& p, const uint8_t* end) {
        if (p >= end) return false;
        const int type = *p++;
        uint32_t length;
        if (!vlq(p, end, length) || length > uint64_t(end - p)) return false;
        const uint8_t* d = p;
        p += length;
        print("meta-event: ");
        if (type == 0x00 && length >= 2) {
            print("sequence number %.5u", unsigned(d[0]) << 8 | d[1]);
        } else if (type >= 1 && type <= 7) {
            std::string text(reinterpret_cast<const char*>(d), length);
            for (char& c : text)
                if (c == '\0') c = ' ';
            // The text goes out whole, past the length of a formatted line.
            print("%s \"", kTextEvents[type - 1]);
            out_.write(text.data(), text.size());
            print("\"");
        } else if (type == 0x20 && length >= 1) {
            print("MIDI channel prefix %.3u", unsigned(d[0]));
        } else if (type == 0x2F) {
            print("end of track");
        } else if (type == 0x51 && length >= 3) {
            print("tempo in uS/MIDI quarter-note = %lu",
                  static_cast<unsigned long>(uint32_t(d[0]) << 16 | d[1] << 8 | d[2]));
        } else if (type == 0x54 && length >= 5) {
            print("SMPTE offset %.3u:%.3u:%.3u %.3u:%.3u", d[0], d[1], d[2], d[3], d[4]);
        } else if (type == 0x58 && length >= 4) {
            print("time signature %u/%u, c = %.3u, b = %.3u", d[0], d[1] < 16 ? 1u << d[1] : 0u, d[2], d[3]);
        } else if (type == 0x59 && length >= 2) {
            print("key signature %u %u", d[0], d[1]);
        } else if (type >= 0x7C && type <= 0x7E) {
            print("obsolete SVX meta-event type $%.2X", unsigned(type));
        } else if (type == 0x7F) {
            print("%lu bytes of sequencer-specific meta-event data", static_cast<unsigned long>(length));
        } else {
            print("undefined event code $%.2X", unsigned(type));
        }
        return true;
    }

    uint32_t flags_;
    services::OutputBuffer out_;
};

}  // namespace
}  // namespace svx::midi

namespace svx::op {

int32_t SVX_list_MIDI(const void* image, uint32_t size, char** text, uint32_t* text_size, uint32_t flags) {
    if (text) *text = nullptr;
    if (text_size) *text_size = 0;
    const auto* bytes = static_cast<const uint8_t*>(image);
    size_t at = 0;
    if (bytes)
        while (at + 4 <= size && !services::same_tag(bytes + at, "MThd")) ++at;
    if (!bytes || at + 4 > size) {
        ::SVX_set_error("Not a standard MIDI file!");
        return 0;
    }
    midi::Listing listing(flags);
    listing.list(bytes + at, size - at);
    listing.output().write_byte(0);
    uint32_t bytes_out = 0;
    void* block = listing.output().finish(&bytes_out);
    if (!block) {
        ::SVX_set_error("Out of memory.");
        return 0;
    }
    if (text) *text = static_cast<char*>(block); else ::SVX_mem_free_lock(block);
    if (text_size) *text_size = bytes_out;
    return 1;
}

}  // namespace svx::op
