// The DirectSound stand-in as a program meets it: the module through
// LoadLibraryA per WIN32_DSOUND, caps, enumeration, the buffer rules,
// locking across the wrap, bad calls, and lost buffers.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "../../win32/multimedia/dsound_seam.h"
#include "dsound_support.h"

namespace {

using namespace std::chrono_literals;
using dstest::buffer_desc;
using dstest::kControls;
using dstest::Module;
using dstest::Ref;
using mmtest::pcm;
using mmtest::ScopedEnv;

// An object on the null device with a cooperative level set.
struct Fixture {
    ScopedEnv audio{"WIN32_AUDIO", "null"};
    Module module;
    Ref<IDirectSound> ds;

    explicit Fixture(DWORD level = DSSCL_PRIORITY) {
        EXPECT_NE(module.create, nullptr);
        if (!module.create) return;
        EXPECT_EQ(module.create(nullptr, ds.out(), nullptr), DS_OK);
        if (ds) {
            EXPECT_EQ(ds->SetCooperativeLevel(dstest::some_window(), level), DS_OK);
        }
    }

    Ref<IDirectSoundBuffer> buffer(WAVEFORMATEX f, DWORD bytes, DWORD flags = kControls) {
        Ref<IDirectSoundBuffer> b;
        DSBUFFERDESC d = buffer_desc(flags, bytes, &f);
        EXPECT_EQ(ds->CreateSoundBuffer(&d, b.out(), nullptr), DS_OK);
        return b;
    }
};

TEST(DirectSound, ModuleLoadsAccordingToSetting) {
    struct Case {
        const char* value;  // nullptr: unset
        bool loads;
    } cases[] = {
        {nullptr, true}, {"native", true}, {"emulated", true}, {"NATIVE", true},
        {"absent", false}, {"bogus", false}, {"native:x", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(unset)");
        std::optional<ScopedEnv> env;
        if (c.value) {
            env.emplace("WIN32_DSOUND", c.value);
        } else {
            env.emplace("WIN32_DSOUND", "");
            unsetenv("WIN32_DSOUND");
        }
        SetLastError(0);
        HMODULE h = LoadLibraryA("DSOUND.DLL");
        if (!c.loads) {
            EXPECT_EQ(h, nullptr);
            EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
            continue;
        }
        ASSERT_NE(h, nullptr);
        EXPECT_NE(GetProcAddress(h, "DirectSoundCreate"), nullptr);
        EXPECT_NE(GetProcAddress(h, "DirectSoundEnumerateA"), nullptr);
        EXPECT_EQ(GetProcAddress(h, "DirectSoundEnumerateW"), nullptr);
        // Windows names: case and extension do not matter, a path neither.
        HMODULE again = LoadLibraryA("c:\\windows\\system\\dsound");
        EXPECT_EQ(again, h);
        FreeLibrary(again);
        EXPECT_TRUE(FreeLibrary(h));
    }
}

TEST(DirectSound, CapsReportEmulationBySetting) {
    for (const char* mode : {"native", "emulated"}) {
        SCOPED_TRACE(mode);
        ScopedEnv setting("WIN32_DSOUND", mode);
        Fixture fx;
        ASSERT_TRUE(fx.ds);
        DSCAPS caps{};
        caps.dwSize = sizeof caps;
        ASSERT_EQ(fx.ds->GetCaps(&caps), DS_OK);
        EXPECT_EQ((caps.dwFlags & DSCAPS_EMULDRIVER) != 0, std::string(mode) == "emulated");
        EXPECT_TRUE(caps.dwFlags & DSCAPS_SECONDARY16BIT);
        EXPECT_TRUE(caps.dwFlags & DSCAPS_PRIMARYSTEREO);
        EXPECT_EQ(caps.dwMinSecondarySampleRate, DWORD(DSBFREQUENCY_MIN));
        EXPECT_EQ(caps.dwMaxSecondarySampleRate, DWORD(DSBFREQUENCY_MAX));
        caps.dwSize = sizeof caps - 4;
        EXPECT_EQ(fx.ds->GetCaps(&caps), DSERR_INVALIDPARAM);
    }
}

struct Found {
    bool has_guid;
    GUID guid;
    std::string description, module;
};

BOOL CALLBACK collect(LPGUID guid, LPCSTR description, LPCSTR module, LPVOID context) {
    auto* list = static_cast<std::vector<Found>*>(context);
    list->push_back({guid != nullptr, guid ? *guid : GUID_NULL, description, module});
    return list->size() < 8;
}

BOOL CALLBACK first_only(LPGUID, LPCSTR, LPCSTR, LPVOID context) {
    ++*static_cast<int*>(context);
    return FALSE;
}

TEST(DirectSound, EnumerationReportsTheDefaultDeviceFirst) {
    ScopedEnv audio("WIN32_AUDIO", "null");
    Module m;
    ASSERT_NE(m.enumerate, nullptr);
    std::vector<Found> found;
    ASSERT_EQ(m.enumerate(collect, &found), DS_OK);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_FALSE(found[0].has_guid);
    EXPECT_EQ(found[0].description, "Primary Sound Driver");
    EXPECT_TRUE(found[1].has_guid);
    EXPECT_EQ(found[1].description, "Null audio device");
    EXPECT_FALSE(found[1].module.empty());

    // The reported device and the default both open; another does not.
    for (GUID* guid : {static_cast<GUID*>(nullptr), &found[1].guid}) {
        Ref<IDirectSound> ds;
        EXPECT_EQ(m.create(guid, ds.out(), nullptr), DS_OK);
    }
    GUID other = found[1].guid;
    other.Data1 ^= 1;
    Ref<IDirectSound> ds;
    EXPECT_EQ(m.create(&other, ds.out(), nullptr), DSERR_NODRIVER);
    EXPECT_FALSE(ds);

    int calls = 0;
    EXPECT_EQ(m.enumerate(first_only, &calls), DS_OK);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(m.enumerate(nullptr, nullptr), DSERR_INVALIDPARAM);

    ScopedEnv broken("WIN32_AUDIO", "nonsense");
    found.clear();
    EXPECT_EQ(m.enumerate(collect, &found), DS_OK);
    EXPECT_TRUE(found.empty());
    EXPECT_EQ(m.create(nullptr, ds.out(), nullptr), DSERR_NODRIVER);
}

TEST(DirectSound, BadCallsGiveErrors) {
    Fixture fx;
    ASSERT_TRUE(fx.ds);
    IDirectSound* ds = fx.ds.get();
    Ref<IDirectSoundBuffer> b = fx.buffer(pcm(1, 16, 22050), 1000);
    Ref<IDirectSoundBuffer> plain = fx.buffer(pcm(1, 16, 22050), 1000, 0);
    ASSERT_TRUE(b && plain);
    Ref<IDirectSoundBuffer> primary;
    DSBUFFERDESC pd = buffer_desc(DSBCAPS_PRIMARYBUFFER, 0, nullptr);
    ASSERT_EQ(ds->CreateSoundBuffer(&pd, primary.out(), nullptr), DS_OK);

    auto create = [&](DSBUFFERDESC d) {
        Ref<IDirectSoundBuffer> out;
        HRESULT hr = ds->CreateSoundBuffer(&d, out.out(), nullptr);
        EXPECT_EQ(hr == DS_OK, bool(out));
        return hr;
    };
    auto with_format = [&](WAVEFORMATEX f, DWORD bytes = 1000, DWORD flags = kControls) {
        return create(buffer_desc(flags, bytes, &f));
    };
    auto odd = [](auto change) {
        WAVEFORMATEX f = pcm(1, 16, 22050);
        change(f);
        return f;
    };
    auto* tiny = reinterpret_cast<DWORD*>(uintptr_t(0x40));
    void *p1 = nullptr, *p2 = nullptr;
    DWORD n1 = 0, n2 = 0;
    uint8_t foreign[16];

    struct Case {
        const char* what;
        std::function<HRESULT()> call;
        HRESULT expected;
    } cases[] = {
        {"create: null out", [&] { return ds->CreateSoundBuffer(&pd, nullptr, nullptr); },
         DSERR_INVALIDPARAM},
        {"create: null description",
         [&] {
             LPDIRECTSOUNDBUFFER out;
             return ds->CreateSoundBuffer(nullptr, &out, nullptr);
         },
         DSERR_INVALIDPARAM},
        {"create: aggregation",
         [&] {
             LPDIRECTSOUNDBUFFER out;
             return ds->CreateSoundBuffer(&pd, &out, reinterpret_cast<LPUNKNOWN>(ds));
         },
         DSERR_NOAGGREGATION},
        {"create: wrong size",
         [&] {
             DSBUFFERDESC d = pd;
             d.dwSize = 12;
             return create(d);
         },
         DSERR_INVALIDPARAM},
        {"create: no format", [&] { return create(buffer_desc(0, 1000, nullptr)); },
         DSERR_INVALIDPARAM},
        {"create: zero bytes", [&] { return with_format(pcm(1, 16, 22050), 0); },
         DSERR_INVALIDPARAM},
        {"create: past the maximum", [&] { return with_format(pcm(1, 8, 22050), DSBSIZE_MAX + 1); },
         DSERR_INVALIDPARAM},
        {"create: less than a frame", [&] { return with_format(pcm(2, 16, 22050), 3); },
         DSERR_INVALIDPARAM},
        {"create: not PCM", [&] { return with_format(odd([](auto& f) { f.wFormatTag = 2; })); },
         DSERR_BADFORMAT},
        {"create: 12 bits",
         [&] { return with_format(odd([](auto& f) { f.wBitsPerSample = 12; })); },
         DSERR_BADFORMAT},
        {"create: 3 channels", [&] { return with_format(pcm(3, 16, 22050)); }, DSERR_BADFORMAT},
        {"create: block align", [&] { return with_format(odd([](auto& f) { f.nBlockAlign = 4; })); },
         DSERR_BADFORMAT},
        {"create: rate too low", [&] { return with_format(pcm(1, 16, 50)); }, DSERR_BADFORMAT},
        {"create: 3D", [&] { return with_format(pcm(1, 16, 22050), 1000, DSBCAPS_CTRL3D); },
         DSERR_CONTROLUNAVAIL},
        {"create: primary with bytes",
         [&] { return create(buffer_desc(DSBCAPS_PRIMARYBUFFER, 1000, nullptr)); },
         DSERR_INVALIDPARAM},
        {"lock: offset at the end", [&] { return b->Lock(1000, 10, &p1, &n1, &p2, &n2, 0); },
         DSERR_INVALIDPARAM},
        {"lock: more than the buffer", [&] { return b->Lock(0, 1001, &p1, &n1, &p2, &n2, 0); },
         DSERR_INVALIDPARAM},
        {"lock: no bytes", [&] { return b->Lock(0, 0, &p1, &n1, &p2, &n2, 0); },
         DSERR_INVALIDPARAM},
        {"lock: null first pointer", [&] { return b->Lock(0, 10, nullptr, &n1, &p2, &n2, 0); },
         DSERR_INVALIDPARAM},
        {"lock: small-integer pointer", [&] { return b->Lock(0, 10, &p1, tiny, &p2, &n2, 0); },
         DSERR_INVALIDPARAM},
        {"lock: wrap without a second region",
         [&] { return b->Lock(900, 200, &p1, &n1, nullptr, nullptr, 0); }, DSERR_INVALIDPARAM},
        {"lock: unknown flag", [&] { return b->Lock(0, 10, &p1, &n1, &p2, &n2, 8); },
         DSERR_INVALIDPARAM},
        {"lock: primary at priority level",
         [&] { return primary->Lock(0, 10, &p1, &n1, &p2, &n2, 0); }, DSERR_PRIOLEVELNEEDED},
        {"unlock: foreign memory", [&] { return b->Unlock(foreign, 16, nullptr, 0); },
         DSERR_INVALIDPARAM},
        {"unlock: past the end",
         [&] {
             EXPECT_EQ(b->Lock(990, 10, &p1, &n1, &p2, &n2, 0), DS_OK);
             return b->Unlock(p1, 11, nullptr, 0);
         },
         DSERR_INVALIDPARAM},
        {"volume above 0", [&] { return b->SetVolume(1); }, DSERR_INVALIDPARAM},
        {"volume below the minimum", [&] { return b->SetVolume(-10001); }, DSERR_INVALIDPARAM},
        {"pan past the right", [&] { return b->SetPan(10001); }, DSERR_INVALIDPARAM},
        {"frequency too low", [&] { return b->SetFrequency(99); }, DSERR_INVALIDPARAM},
        {"frequency too high", [&] { return b->SetFrequency(100001); }, DSERR_INVALIDPARAM},
        {"volume without control", [&] { return plain->SetVolume(-100); }, DSERR_CONTROLUNAVAIL},
        {"pan without control", [&] { return plain->SetPan(100); }, DSERR_CONTROLUNAVAIL},
        {"frequency without control", [&] { return plain->SetFrequency(11025); },
         DSERR_CONTROLUNAVAIL},
        {"read volume without control",
         [&] {
             LONG v;
             return plain->GetVolume(&v);
         },
         DSERR_CONTROLUNAVAIL},
        {"primary frequency", [&] { return primary->SetFrequency(11025); }, DSERR_CONTROLUNAVAIL},
        {"format of a secondary",
         [&] {
             WAVEFORMATEX f = pcm(2, 16, 44100);
             return b->SetFormat(&f);
         },
         DSERR_INVALIDCALL},
        {"primary format: null", [&] { return primary->SetFormat(nullptr); }, DSERR_INVALIDPARAM},
        {"primary format: 24 bits",
         [&] {
             WAVEFORMATEX f = odd([](auto& f) { f.wBitsPerSample = 24; });
             return primary->SetFormat(&f);
         },
         DSERR_BADFORMAT},
        {"primary played once", [&] { return primary->Play(0, 0, 0); }, DSERR_INVALIDPARAM},
        {"play: reserved", [&] { return b->Play(1, 0, 0); }, DSERR_INVALIDPARAM},
        {"play: unknown flag", [&] { return b->Play(0, 0, 2); }, DSERR_INVALIDPARAM},
        {"position past the end", [&] { return b->SetCurrentPosition(1000); },
         DSERR_INVALIDPARAM},
        {"position of the primary", [&] { return primary->SetCurrentPosition(0); },
         DSERR_INVALIDCALL},
        {"status: null", [&] { return b->GetStatus(nullptr); }, DSERR_INVALIDPARAM},
        {"caps: wrong size",
         [&] {
             DSBCAPS c{};
             c.dwSize = 4;
             return b->GetCaps(&c);
         },
         DSERR_INVALIDPARAM},
        {"cursor: no output", [&] { return b->GetCurrentPosition(nullptr, nullptr); },
         DSERR_INVALIDPARAM},
        {"format: nothing to write", [&] { return b->GetFormat(nullptr, 0, nullptr); },
         DSERR_INVALIDPARAM},
        {"duplicate: foreign pointer",
         [&] {
             LPDIRECTSOUNDBUFFER out;
             return ds->DuplicateSoundBuffer(reinterpret_cast<LPDIRECTSOUNDBUFFER>(foreign), &out);
         },
         DSERR_INVALIDPARAM},
        {"duplicate: primary",
         [&] {
             LPDIRECTSOUNDBUFFER out;
             return ds->DuplicateSoundBuffer(primary.get(), &out);
         },
         DSERR_INVALIDCALL},
        {"level: no window", [&] { return ds->SetCooperativeLevel(nullptr, DSSCL_NORMAL); },
         DSERR_INVALIDPARAM},
        {"level: unknown", [&] { return ds->SetCooperativeLevel(dstest::some_window(), 5); },
         DSERR_INVALIDPARAM},
        {"speakers: unknown", [&] { return ds->SetSpeakerConfig(9); }, DSERR_INVALIDPARAM},
        {"query: unknown interface",
         [&] {
             void* out = foreign;
             HRESULT hr = b->QueryInterface(IID_IDirectSound, &out);
             EXPECT_EQ(out, nullptr);
             return hr;
         },
         E_NOINTERFACE},
        {"initialize again", [&] { return ds->Initialize(nullptr); }, DSERR_ALREADYINITIALIZED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.call(), c.expected);
    }
}

TEST(DirectSound, EntryPointsRejectBadArguments) {
    ScopedEnv audio("WIN32_AUDIO", "null");
    Module m;
    ASSERT_NE(m.create, nullptr);
    LPDIRECTSOUND ds = nullptr;
    EXPECT_EQ(m.create(nullptr, nullptr, nullptr), DSERR_INVALIDPARAM);
    EXPECT_EQ(m.create(nullptr, &ds, reinterpret_cast<LPUNKNOWN>(&ds)), DSERR_NOAGGREGATION);
    EXPECT_EQ(ds, nullptr);
    EXPECT_EQ(m.create(reinterpret_cast<LPGUID>(uintptr_t(1)), &ds, nullptr), DSERR_INVALIDPARAM);
    EXPECT_EQ(ds, nullptr);
}

TEST(DirectSound, LevelRules) {
    Fixture fx(DSSCL_NORMAL);
    ASSERT_TRUE(fx.ds);
    Ref<IDirectSoundBuffer> primary;
    DSBUFFERDESC pd = buffer_desc(DSBCAPS_PRIMARYBUFFER, 0, nullptr);
    ASSERT_EQ(fx.ds->CreateSoundBuffer(&pd, primary.out(), nullptr), DS_OK);
    // One primary buffer per object.
    Ref<IDirectSoundBuffer> again;
    ASSERT_EQ(fx.ds->CreateSoundBuffer(&pd, again.out(), nullptr), DS_OK);
    EXPECT_EQ(again.get(), primary.get());

    WAVEFORMATEX f{};
    DWORD written = 0;
    ASSERT_EQ(primary->GetFormat(&f, sizeof f, &written), DS_OK);
    EXPECT_EQ(written, sizeof f);
    EXPECT_EQ(f.nSamplesPerSec, 22050u);  // the default until a format is set
    EXPECT_EQ(f.wBitsPerSample, 8);
    EXPECT_EQ(f.nChannels, 2);

    WAVEFORMATEX wanted = pcm(2, 16, 44100);
    EXPECT_EQ(primary->SetFormat(&wanted), DSERR_PRIOLEVELNEEDED);
    EXPECT_EQ(fx.ds->Compact(), DSERR_PRIOLEVELNEEDED);
    ASSERT_EQ(fx.ds->SetCooperativeLevel(dstest::some_window(), DSSCL_PRIORITY), DS_OK);
    ASSERT_EQ(primary->SetFormat(&wanted), DS_OK);
    ASSERT_EQ(primary->GetFormat(&f, sizeof f, nullptr), DS_OK);
    EXPECT_EQ(f.nSamplesPerSec, 44100u);
    EXPECT_EQ(f.wBitsPerSample, 16);
    EXPECT_EQ(f.nBlockAlign, 4);
    EXPECT_EQ(primary->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    EXPECT_EQ(dstest::status_of(primary.get()), DWORD(DSBSTATUS_PLAYING | DSBSTATUS_LOOPING));

    // A format the device refuses leaves the old one playing.
    ScopedEnv slow("WIN32_AUDIO", "null:maxrate=44100");
    WAVEFORMATEX fast = pcm(2, 16, 48000);
    EXPECT_EQ(primary->SetFormat(&fast), DSERR_BADFORMAT);
    ASSERT_EQ(primary->GetFormat(&f, sizeof f, nullptr), DS_OK);
    EXPECT_EQ(f.nSamplesPerSec, 44100u);
}

TEST(DirectSound, PlayNeedsACooperativeLevel) {
    ScopedEnv audio("WIN32_AUDIO", "null");
    Module m;
    Ref<IDirectSound> ds;
    ASSERT_EQ(m.create(nullptr, ds.out(), nullptr), DS_OK);
    WAVEFORMATEX f = pcm(1, 8, 22050);
    DSBUFFERDESC d = buffer_desc(0, 100, &f);
    Ref<IDirectSoundBuffer> b;
    ASSERT_EQ(ds->CreateSoundBuffer(&d, b.out(), nullptr), DS_OK);
    EXPECT_EQ(b->Play(0, 0, 0), DSERR_PRIOLEVELNEEDED);
    ASSERT_EQ(ds->SetCooperativeLevel(dstest::some_window(), DSSCL_NORMAL), DS_OK);
    EXPECT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
}

TEST(DirectSound, LockAcrossTheWrapGivesTwoRegions) {
    Fixture fx;
    ASSERT_TRUE(fx.ds);
    Ref<IDirectSoundBuffer> b = fx.buffer(pcm(1, 16, 22050), 1000);
    ASSERT_TRUE(b);
    DSBCAPS caps{};
    caps.dwSize = sizeof caps;
    ASSERT_EQ(b->GetCaps(&caps), DS_OK);
    EXPECT_EQ(caps.dwBufferBytes, 1000u);
    EXPECT_EQ(caps.dwFlags & kControls, kControls);

    struct Case {
        DWORD offset, bytes, flags;
        DWORD first_at, first, second;
    } cases[] = {
        {900, 200, 0, 900, 100, 100},
        {0, 1000, 0, 0, 1000, 0},
        {999, 1000, 0, 999, 1, 999},
        {300, 1, DSBLOCK_ENTIREBUFFER, 300, 700, 300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.offset) + "+" + std::to_string(c.bytes));
        void *p1 = nullptr, *p2 = nullptr;
        DWORD n1 = 0, n2 = 0;
        ASSERT_EQ(b->Lock(c.offset, c.bytes, &p1, &n1, &p2, &n2, c.flags), DS_OK);
        EXPECT_EQ(n1, c.first);
        EXPECT_EQ(n2, c.second);
        EXPECT_EQ(p2 == nullptr, c.second == 0);
        if (p2) {
            EXPECT_EQ(static_cast<uint8_t*>(p1) - static_cast<uint8_t*>(p2), ptrdiff_t(c.first_at));
        }
        // Each byte gets its position in the buffer: written through both
        // regions, it must read back in place.
        for (DWORD i = 0; i < n1; ++i) static_cast<uint8_t*>(p1)[i] = uint8_t(c.first_at + i);
        for (DWORD i = 0; i < n2; ++i) static_cast<uint8_t*>(p2)[i] = uint8_t(i);
        ASSERT_EQ(b->Unlock(p1, n1, p2, n2), DS_OK);

        // Read back through a lock that wraps elsewhere.
        ASSERT_EQ(b->Lock(500, 1000, &p1, &n1, &p2, &n2, 0), DS_OK);
        ASSERT_EQ(n1, 500u);
        ASSERT_EQ(n2, 500u);
        for (DWORD i = 0; i < c.bytes && i < 1000; ++i) {
            DWORD at = (c.first_at + i) % 1000;
            const auto* region = static_cast<const uint8_t*>(at >= 500 ? p1 : p2);
            ASSERT_EQ(region[at % 500], uint8_t(at)) << "byte " << at;
        }
        ASSERT_EQ(b->Unlock(p1, n1, p2, n2), DS_OK);
    }

    // From the write cursor: where a stopped buffer stands.
    ASSERT_EQ(b->SetCurrentPosition(501), DS_OK);  // whole frames only
    DWORD play = 0, write = 0;
    ASSERT_EQ(b->GetCurrentPosition(&play, &write), DS_OK);
    EXPECT_EQ(play, 500u);
    EXPECT_EQ(write, 500u);
    void *p1 = nullptr, *p2 = nullptr;
    DWORD n1 = 0, n2 = 0;
    ASSERT_EQ(b->Lock(0, 600, &p1, &n1, &p2, &n2, DSBLOCK_FROMWRITECURSOR), DS_OK);
    EXPECT_EQ(n1, 500u);
    EXPECT_EQ(n2, 100u);
    EXPECT_EQ(*static_cast<uint8_t*>(p1), uint8_t(500));
    ASSERT_EQ(b->Unlock(p1, n1, p2, n2), DS_OK);
}

TEST(DirectSound, DuplicateSharesTheData) {
    Fixture fx;
    ASSERT_TRUE(fx.ds);
    Ref<IDirectSoundBuffer> b = fx.buffer(pcm(1, 8, 22050), 64);
    Ref<IDirectSoundBuffer> dup;
    ASSERT_EQ(fx.ds->DuplicateSoundBuffer(b.get(), dup.out()), DS_OK);
    ASSERT_NE(dup.get(), b.get());
    ASSERT_EQ(dstest::write_buffer(b.get(), 0, std::vector<uint8_t>(64, 0x11)), DS_OK);
    void *p1 = nullptr, *p2 = nullptr;
    DWORD n1 = 0, n2 = 0;
    ASSERT_EQ(dup->Lock(0, 64, &p1, &n1, &p2, &n2, 0), DS_OK);
    EXPECT_EQ(static_cast<uint8_t*>(p1)[63], 0x11);
    ASSERT_EQ(dup->Unlock(p1, n1, p2, n2), DS_OK);
    // Play state is its own.
    ASSERT_EQ(dup->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    EXPECT_EQ(dstest::status_of(b.get()), 0u);
}

TEST(DirectSound, LostBufferUntilRestored) {
    Fixture fx;
    ASSERT_TRUE(fx.ds);
    Ref<IDirectSoundBuffer> b = fx.buffer(pcm(1, 8, 22050), 2205);
    ASSERT_EQ(dstest::write_buffer(b.get(), 0, std::vector<uint8_t>(2205, 0xF0)), DS_OK);
    ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);

    win32::mm::dsound_lose_buffers();
    EXPECT_EQ(dstest::status_of(b.get()), DWORD(DSBSTATUS_BUFFERLOST));
    void *p1 = nullptr, *p2 = nullptr;
    DWORD n1 = 0, n2 = 0;
    EXPECT_EQ(b->Lock(0, 10, &p1, &n1, &p2, &n2, 0), DSERR_BUFFERLOST);
    EXPECT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DSERR_BUFFERLOST);

    ASSERT_EQ(b->Restore(), DS_OK);
    EXPECT_EQ(dstest::status_of(b.get()), 0u);
    // The contents went with the loss: the caller must write them again.
    ASSERT_EQ(b->Lock(1000, 2205, &p1, &n1, &p2, &n2, 0), DS_OK);
    ASSERT_EQ(n1, 1205u);
    ASSERT_EQ(n2, 1000u);
    EXPECT_EQ(static_cast<uint8_t*>(p1)[0], 0x80);
    EXPECT_EQ(static_cast<uint8_t*>(p1)[1204], 0x80);
    EXPECT_EQ(static_cast<uint8_t*>(p2)[0], 0x80);
    EXPECT_EQ(static_cast<uint8_t*>(p2)[999], 0x80);
    ASSERT_EQ(b->Unlock(p1, n1, p2, n2), DS_OK);
    EXPECT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
}

TEST(DirectSound, FailedDeviceLosesBuffersAndRestoreReopensIt) {
    ScopedEnv failing("WIN32_AUDIO", "null:failafter=100");
    Module m;
    Ref<IDirectSound> ds;
    ASSERT_EQ(m.create(nullptr, ds.out(), nullptr), DS_OK);
    ASSERT_EQ(ds->SetCooperativeLevel(dstest::some_window(), DSSCL_NORMAL), DS_OK);
    WAVEFORMATEX f = pcm(1, 16, 22050);
    DSBUFFERDESC d = buffer_desc(kControls, 4410, &f);
    Ref<IDirectSoundBuffer> b;
    ASSERT_EQ(ds->CreateSoundBuffer(&d, b.out(), nullptr), DS_OK);
    ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    auto start = std::chrono::steady_clock::now();
    while (!(dstest::status_of(b.get()) & DSBSTATUS_BUFFERLOST) &&
           std::chrono::steady_clock::now() - start < 5s) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(dstest::status_of(b.get()), DWORD(DSBSTATUS_BUFFERLOST));
    EXPECT_EQ(b->Play(0, 0, 0), DSERR_BUFFERLOST);
    ASSERT_EQ(b->Restore(), DS_OK);
    EXPECT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
}

TEST(DirectSound, BuffersOutliveTheirObjectHarmlessly) {
    Fixture fx;
    ASSERT_TRUE(fx.ds);
    Ref<IDirectSoundBuffer> b = fx.buffer(pcm(2, 16, 44100), 4000);
    ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    fx.ds.reset();
    DWORD status = 0;
    EXPECT_EQ(b->GetStatus(&status), DSERR_INVALIDCALL);
    EXPECT_EQ(b->Play(0, 0, 0), DSERR_INVALIDCALL);
    EXPECT_EQ(b->SetVolume(-100), DSERR_INVALIDCALL);
}

TEST(DirectSound, ReferenceCounting) {
    Fixture fx;
    ASSERT_TRUE(fx.ds);
    Ref<IDirectSoundBuffer> b = fx.buffer(pcm(1, 16, 22050), 100);
    EXPECT_EQ(b->AddRef(), 2u);
    IUnknown* unknown = nullptr;
    ASSERT_EQ(b->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown), static_cast<void*>(b.get()));
    EXPECT_EQ(unknown->Release(), 2u);
    EXPECT_EQ(b->Release(), 1u);
    IDirectSound* again = nullptr;
    ASSERT_EQ(fx.ds->QueryInterface(IID_IDirectSound, reinterpret_cast<void**>(&again)), S_OK);
    EXPECT_EQ(again, fx.ds.get());
    EXPECT_EQ(again->Release(), 1u);
}

}  // namespace
