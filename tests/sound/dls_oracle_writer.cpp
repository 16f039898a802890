// Writes small DLS collections with libgig, an implementation independent
// of ours, for the oracle test: dls_oracle_writer DIR writes DIR/melodic.dls,
// DIR/drums.dls and DIR/mixed.dls. libgig writes the instruments, regions,
// waves and loops; articulation and unusual chunk orders are added through
// its RIFF layer, which it exposes for chunks it does not model.
#include <DLS.h>
#include <RIFF.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dls_oracle_specs.h"

namespace {

uint32_t id(const char* s) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

using namespace dls_oracle;

void add_wave(DLS::File& f, const WaveSpec& w, std::vector<DLS::Sample*>& out) {
    DLS::Sample* s = f.AddSample();
    s->Channels = w.channels;
    s->BitDepth = w.bits;
    s->SamplesPerSecond = w.rate;
    s->FrameSize = uint(w.channels * w.bits / 8);
    s->BlockAlign = uint16_t(s->FrameSize);
    s->AverageBytesPerSecond = w.rate * s->FrameSize;
    s->pInfo->Name = "wave " + std::to_string(out.size());
    s->Resize(w.frames);
    out.push_back(s);
}

void fill_waves(const std::vector<WaveSpec>& specs, const std::vector<DLS::Sample*>& samples) {
    for (size_t i = 0; i < specs.size(); ++i) {
        const WaveSpec& w = specs[i];
        std::vector<uint8_t> data(size_t(w.frames) * w.channels * w.bits / 8);
        for (size_t k = 0; k < data.size(); ++k) data[k] = uint8_t(k * 37 + i * 11);
        samples[i]->Write(data.data(), w.frames);
    }
}

// libgig writes the collection; then the samples' data.
void write_collection(const std::string& path, const std::vector<WaveSpec>& waves,
                      const std::vector<InstrumentSpec>& instruments) {
    DLS::File f;
    std::vector<DLS::Sample*> samples;
    for (const WaveSpec& w : waves) add_wave(f, w, samples);
    for (const InstrumentSpec& in : instruments) {
        DLS::Instrument* i = f.AddInstrument();
        i->IsDrum = in.drum;
        i->MIDIBankCoarse = in.bank_coarse;
        i->MIDIBankFine = in.bank_fine;
        i->MIDIProgram = in.program;
        i->pInfo->Name = "instrument " + std::to_string(&in - instruments.data());
        for (const RegionSpec& r : in.regions) {
            DLS::Region* g = i->AddRegion();
            g->SetKeyRange(r.key_low, r.key_high);
            g->VelocityRange.low = r.vel_low;
            g->VelocityRange.high = r.vel_high;
            g->SetSample(samples[size_t(r.wave)]);
            g->UnityNote = r.unity;
            g->FineTune = r.fine;
            g->KeyGroup = r.key_group;
            g->SelfNonExclusive = r.non_exclusive;
            if (r.loop_length) {
                DLS::sample_loop_t loop{};
                loop.Size = sizeof loop;
                loop.LoopType = 0;
                loop.LoopStart = r.loop_start;
                loop.LoopLength = r.loop_length;
                g->AddSampleLoop(&loop);
            }
        }
    }
    f.Save(path);
    fill_waves(waves, samples);
}

// Adds a "lart"/"art1" list with `connections` (source, control,
// destination, transform, scale) to `parent`, first among its chunks when
// `first` is set.
void add_articulation(RIFF::List* parent, const std::vector<std::vector<uint32_t>>& connections,
                      bool first) {
    RIFF::Chunk* before = parent->GetFirstSubChunk();
    RIFF::List* lart = parent->AddSubList(id("lart"));
    RIFF::Chunk* art1 = lart->AddSubChunk(id("art1"), 8 + 12 * connections.size());
    auto* p = static_cast<uint8_t*>(art1->LoadChunkData());
    auto put = [&](uint32_t v, int n) {
        for (int k = 0; k < n; ++k) *p++ = uint8_t(v >> (8 * k));
    };
    put(8, 4);
    put(uint32_t(connections.size()), 4);
    for (const auto& c : connections) {
        for (int k = 0; k < 4; ++k) put(c[size_t(k)], 2);
        put(c[4], 4);
    }
    if (first && before) parent->MoveSubChunk(lart, before);
}

std::vector<RIFF::List*> lists_of(RIFF::List* parent, const char* type) {
    std::vector<RIFF::List*> out;
    for (RIFF::List* l = parent->GetFirstSubList(); l; l = parent->GetNextSubList())
        if (l->GetListType() == id(type)) out.push_back(l);
    return out;
}

// Reopens `path` through the RIFF layer: articulation on every instrument
// (instrument level, and region level on drum kits), and with `reorder`
// the top-level chunks as wave pool, instruments, pool table, header.
void rework(const std::string& path, const CollectionSpec& spec) {
    RIFF::File riff(path);
    RIFF::List* lins = riff.GetSubList(id("lins"));
    int n = 0;
    for (RIFF::List* ins : lists_of(lins, "ins ")) {
        if (RIFF::List* lrgn = ins->GetSubList(id("lrgn")); lrgn && spec.instruments[size_t(n)].drum)
            for (RIFF::List* rgn : lists_of(lrgn, "rgn "))
                add_articulation(rgn, {{0, 0, 0x209, 0, uint32_t(kRegionRelease)}}, false);
        add_articulation(ins, {{0, 0, 0x206, 0, uint32_t(kAttack + n)}, {0x8A, 0, 4, 0, uint32_t(kPanScale)}},
                         (n & 1) != 0);
        ++n;
    }
    riff.Save();
    if (!spec.reorder) return;
    // Moved chunks are saved to a new file: saved in place, a chunk moved
    // forward would be read back from where another was already written.
    const std::string moved = path + ".moved";
    RIFF::File again(path);
    {
        RIFF::File& riff = again;
        RIFF::List* lins = riff.GetSubList(id("lins"));
        RIFF::Chunk* first = riff.GetFirstSubChunk();
        RIFF::List* wvpl = riff.GetSubList(id("wvpl"));
        riff.MoveSubChunk(wvpl, first);
        riff.MoveSubChunk(lins, static_cast<RIFF::Chunk*>(nullptr));
        riff.MoveSubChunk(riff.GetSubChunk(id("ptbl")), static_cast<RIFF::Chunk*>(nullptr));
        riff.MoveSubChunk(riff.GetSubChunk(id("colh")), static_cast<RIFF::Chunk*>(nullptr));
        riff.Save(moved);
    }
    if (std::rename(moved.c_str(), path.c_str()) != 0) throw RIFF::Exception("cannot rename " + moved);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: dls_oracle_writer DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    try {
        for (const CollectionSpec& c : collections()) {
            write_collection(dir + "/" + c.file, c.waves, c.instruments);
            rework(dir + "/" + c.file, c);
        }
    } catch (RIFF::Exception& e) {
        std::fprintf(stderr, "dls_oracle_writer: %s\n", e.Message.c_str());
        return 1;
    }
    return 0;
}
