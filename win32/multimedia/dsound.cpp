// The DirectSound stand-in: the built-in module "DSOUND.DLL" with
// DirectSoundCreate and DirectSoundEnumerateA, the object and its buffers.
// WIN32_DSOUND: native (default), emulated (caps carry DSCAPS_EMULDRIVER),
// absent (the module does not load).
#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <system_error>

#include "backend_config.h"
#include "dsound_core.h"
#include "win32/dsound.h"
#include "win32/kernel_ext.h"

namespace win32::mm::ds {

namespace {

enum class Mode { native, emulated, absent };

Mode read_mode() {
    BackendChoice choice = read_backend_choice("WIN32_DSOUND", "native");
    if (choice.kind == "native" && !choice.has_arg) return Mode::native;
    if (choice.kind == "emulated" && !choice.has_arg) return Mode::emulated;
    if (choice.kind != "absent" || choice.has_arg)
        warn_unreadable("WIN32_DSOUND", "native, emulated or absent");
    return Mode::absent;  // a misspelt setting must not pass for a device
}

// The one device, as enumeration names it.
constexpr GUID kDeviceGuid = {
    0x5D0B7A31, 0x6C2E, 0x4F1A, {0x9B, 0x44, 0x1E, 0x58, 0xC3, 0x07, 0xA2, 0x6D}};
constexpr const char* kDefaultDescription = "Primary Sound Driver";
constexpr const char* kModuleName = "dsound.vxd";

// The default primary format, until SetFormat.
constexpr PcmFormat kDefaultFormat{22050, 2, 8};

// Windows maps nothing in the first 64 KiB: such "pointers" are small
// integers passed by mistake.
template <typename T>
bool bad(const T* p) {
    auto at = reinterpret_cast<uintptr_t>(p);
    return at < 0x10000 || at % alignof(T) != 0;
}

// IUnknown of an object with one interface besides it. On the last Release,
// Derived::last_release() detaches the object before it is deleted.
template <class Derived, class Interface, const IID& kIid>
class Unknown : public Interface {
public:
    HRESULT WINAPI QueryInterface(REFIID riid, LPVOID* ppv) override {
        if (bad(ppv)) return DSERR_INVALIDPARAM;
        *ppv = nullptr;
        if (bad(&riid)) return DSERR_INVALIDPARAM;
        if (riid == IID_IUnknown || riid == kIid) {
            AddRef();
            *ppv = static_cast<Interface*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }

    ULONG WINAPI AddRef() override { return ++refs_; }

    ULONG WINAPI Release() override {
        ULONG n = --refs_;
        if (n != 0) return n;
        auto* self = static_cast<Derived*>(this);
        self->last_release();
        delete self;
        return 0;
    }

protected:
    std::atomic<ULONG> refs_{1};
};

bool bad_format(const WAVEFORMATEX& f) {
    return f.wFormatTag != WAVE_FORMAT_PCM || (f.nChannels != 1 && f.nChannels != 2) ||
           (f.wBitsPerSample != 8 && f.wBitsPerSample != 16) ||
           f.nSamplesPerSec < DSBFREQUENCY_MIN || f.nSamplesPerSec > DSBFREQUENCY_MAX ||
           f.nBlockAlign != f.nChannels * f.wBitsPerSample / 8;
}

PcmFormat pcm_of(const WAVEFORMATEX& f) {
    return PcmFormat{f.nSamplesPerSec, f.nChannels, f.wBitsPerSample};
}

HRESULT result_of(MMRESULT r) {
    switch (r) {
        case MMSYSERR_NOERROR:
            return DS_OK;
        case MMSYSERR_ALLOCATED:
            return DSERR_ALLOCATED;
        case MMSYSERR_NOMEM:
            return DSERR_OUTOFMEMORY;
        case WAVERR_BADFORMAT:
            return DSERR_BADFORMAT;
        default:
            return DSERR_NODRIVER;
    }
}

constexpr DWORD kSecondaryFlags = DSBCAPS_STATIC | DSBCAPS_LOCSOFTWARE | DSBCAPS_CTRLFREQUENCY |
                                  DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME |
                                  DSBCAPS_CTRLPOSITIONNOTIFY | DSBCAPS_STICKYFOCUS |
                                  DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2;
constexpr DWORD kPrimaryFlags = DSBCAPS_PRIMARYBUFFER | DSBCAPS_LOCSOFTWARE | DSBCAPS_CTRLPAN |
                                DSBCAPS_CTRLVOLUME | DSBCAPS_STICKYFOCUS |
                                DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2;

// ---- Buffers ------------------------------------------------------------------

class SoundBuffer final
    : public Unknown<SoundBuffer, IDirectSoundBuffer, IID_IDirectSoundBuffer> {
public:
    SoundBuffer(std::shared_ptr<Core> core, const Voice& voice)
        : core_(std::move(core)), voice_(voice) {}

    // Makes the buffer known to the mixer. Caller holds the core's mutex.
    void attach() {
        voice_.owner = this;
        core_->voices.push_back(&voice_);
        if (voice_.primary) core_->primary = this;
    }

    // A reference taken under the core's mutex, unless the buffer is
    // already on its way out.
    bool try_add_ref() {
        ULONG n = refs_.load();
        while (n != 0)
            if (refs_.compare_exchange_weak(n, n + 1)) return true;
        return false;
    }

    Voice& voice() { return voice_; }

    HRESULT WINAPI GetCaps(LPDSBCAPS caps) override {
        if (bad(caps) || caps->dwSize != sizeof(DSBCAPS)) return DSERR_INVALIDPARAM;
        std::lock_guard lock(core_->mutex);
        if (!core_->alive) return DSERR_INVALIDCALL;
        caps->dwFlags = voice_.flags | DSBCAPS_LOCSOFTWARE;
        caps->dwBufferBytes =
            voice_.primary ? core_->primary_frames() * core_->format.frame_bytes() : voice_.bytes();
        caps->dwUnlockTransferRate = 0;
        caps->dwPlayCpuOverhead = 0;
        return DS_OK;
    }

    HRESULT WINAPI GetCurrentPosition(LPDWORD play, LPDWORD write) override {
        if ((!play && !write) || (play && bad(play)) || (write && bad(write)))
            return DSERR_INVALIDPARAM;
        std::lock_guard lock(core_->mutex);
        if (!core_->alive) return DSERR_INVALIDCALL;
        DWORD p, w;
        if (voice_.primary) {
            const uint32_t frames = core_->primary_frames();
            const uint32_t align = core_->format.frame_bytes();
            p = DWORD(core_->heard_frames.load() % frames * align);
            w = DWORD(core_->written % frames * align);
        } else {
            core_->settle(voice_);
            const uint32_t align = voice_.format.frame_bytes();
            w = DWORD((voice_.playing ? voice_.pos : core_->play_position(voice_)) >> kFracBits) *
                align;
            // Without the newer rule the play cursor is reported where
            // mixing stands, ahead of what is heard.
            p = voice_.flags & DSBCAPS_GETCURRENTPOSITION2
                    ? DWORD(core_->play_position(voice_) >> kFracBits) * align
                    : w;
        }
        if (play) *play = p;
        if (write) *write = w;
        return DS_OK;
    }

    HRESULT WINAPI GetFormat(LPWAVEFORMATEX wfx, DWORD size, LPDWORD size_written) override {
        if (!wfx && !size_written) return DSERR_INVALIDPARAM;
        if ((wfx && bad(wfx)) || (size_written && bad(size_written))) return DSERR_INVALIDPARAM;
        if (wfx && size < sizeof(WAVEFORMATEX)) return DSERR_INVALIDPARAM;
        std::lock_guard lock(core_->mutex);
        if (!core_->alive) return DSERR_INVALIDCALL;
        const PcmFormat& f = voice_.primary ? core_->format : voice_.format;
        if (wfx) {
            WAVEFORMATEX out{};
            out.wFormatTag = WAVE_FORMAT_PCM;
            out.nChannels = f.channels;
            out.nSamplesPerSec = f.rate;
            out.nBlockAlign = WORD(f.frame_bytes());
            out.nAvgBytesPerSec = f.rate * f.frame_bytes();
            out.wBitsPerSample = f.bits;
            std::memcpy(wfx, &out, sizeof out);
        }
        if (size_written) *size_written = sizeof(WAVEFORMATEX);
        return DS_OK;
    }

    HRESULT WINAPI GetVolume(LPLONG out) override {
        return get(out, DSBCAPS_CTRLVOLUME, [&] { return voice_.volume; });
    }
    HRESULT WINAPI GetPan(LPLONG out) override {
        return get(out, DSBCAPS_CTRLPAN, [&] { return voice_.pan; });
    }
    HRESULT WINAPI GetFrequency(LPDWORD out) override {
        return get(out, DSBCAPS_CTRLFREQUENCY, [&] { return voice_.frequency; });
    }

    HRESULT WINAPI GetStatus(LPDWORD status) override {
        if (bad(status)) return DSERR_INVALIDPARAM;
        std::lock_guard lock(core_->mutex);
        if (!core_->alive) return DSERR_INVALIDCALL;
        if (!voice_.primary) core_->settle(voice_);
        DWORD s = 0;
        if (voice_.playing) s |= DSBSTATUS_PLAYING;
        if (voice_.playing && voice_.looping) s |= DSBSTATUS_LOOPING;
        if (voice_.lost) s |= DSBSTATUS_BUFFERLOST;
        *status = s;
        return DS_OK;
    }

    HRESULT WINAPI Initialize(LPDIRECTSOUND, LPCDSBUFFERDESC) override {
        return DSERR_ALREADYINITIALIZED;
    }

    HRESULT WINAPI Lock(DWORD offset, DWORD bytes, LPVOID* ptr1, LPDWORD bytes1, LPVOID* ptr2,
                        LPDWORD bytes2, DWORD flags) override {
        if (bad(ptr1) || bad(bytes1)) return DSERR_INVALIDPARAM;
        if ((ptr2 && bad(ptr2)) || (bytes2 && bad(bytes2))) return DSERR_INVALIDPARAM;
        if (flags & ~DWORD(DSBLOCK_FROMWRITECURSOR | DSBLOCK_ENTIREBUFFER))
            return DSERR_INVALIDPARAM;
        std::lock_guard lock(core_->mutex);
        if (!core_->alive) return DSERR_INVALIDCALL;
        // Writing the primary buffer is not offered: it plays the mix.
        if (voice_.primary)
            return core_->level == DSSCL_WRITEPRIMARY ? DSERR_UNSUPPORTED : DSERR_PRIOLEVELNEEDED;
        if (voice_.lost) return DSERR_BUFFERLOST;
        const DWORD size = voice_.bytes();
        if (flags & DSBLOCK_FROMWRITECURSOR) {
            core_->settle(voice_);
            offset = DWORD(voice_.pos >> kFracBits) * voice_.format.frame_bytes();
        }
        if (flags & DSBLOCK_ENTIREBUFFER) bytes = size;
        if (offset >= size || bytes == 0 || bytes > size) return DSERR_INVALIDPARAM;
        const DWORD first = std::min(bytes, size - offset);
        const DWORD second = bytes - first;
        if (second != 0 && (!ptr2 || !bytes2)) return DSERR_INVALIDPARAM;
        Storage& st = *voice_.storage;
        try {
            if (st.mirror.size() != st.data.size()) st.mirror.resize(st.data.size());
        } catch (const std::bad_alloc&) {
            return DSERR_OUTOFMEMORY;
        }
        // The caller works on a copy, which Unlock puts in place: the mixer
        // never reads memory the caller is writing.
        std::memcpy(st.mirror.data() + offset, st.data.data() + offset, first);
        std::memcpy(st.mirror.data(), st.data.data(), second);
        *ptr1 = st.mirror.data() + offset;
        *bytes1 = first;
        if (ptr2) *ptr2 = second ? st.mirror.data() : nullptr;
        if (bytes2) *bytes2 = second;
        return DS_OK;
    }

    HRESULT WINAPI Play(DWORD reserved, DWORD priority, DWORD flags) override {
        if (reserved != 0 || priority != 0 || (flags & ~DWORD(DSBPLAY_LOOPING)))
            return DSERR_INVALIDPARAM;
        std::lock_guard lock(core_->mutex);
        if (!core_->alive) return DSERR_INVALIDCALL;
        if (core_->level == 0) return DSERR_PRIOLEVELNEEDED;
        if (voice_.lost || core_->output_failed) return DSERR_BUFFERLOST;
        if (voice_.primary) {
            if (!(flags & DSBPLAY_LOOPING)) return DSERR_INVALIDPARAM;
            voice_.playing = voice_.looping = true;
            return DS_OK;
        }
        core_->settle(voice_);
        voice_.looping = flags & DSBPLAY_LOOPING;
        // A once-buffer still sounding its end goes on around the loop.
        if (voice_.looping) voice_.draining = false;
        if (!voice_.playing) {
            voice_.playing = true;
            voice_.draining = false;
            voice_.clear_marks();
        }
        return DS_OK;
    }

    HRESULT WINAPI SetCurrentPosition(DWORD position) override {
        std::lock_guard lock(core_->mutex);
        if (!core_->alive) return DSERR_INVALIDCALL;
        if (voice_.primary) return DSERR_INVALIDCALL;
        if (position >= voice_.bytes()) return DSERR_INVALIDPARAM;
        core_->settle(voice_);
        voice_.pos = uint64_t(position / voice_.format.frame_bytes()) << kFracBits;
        voice_.draining = false;
        voice_.clear_marks();
        return DS_OK;
    }

    HRESULT WINAPI SetFormat(LPCWAVEFORMATEX wfx) override {
        if (bad(wfx)) return DSERR_INVALIDPARAM;
        WAVEFORMATEX f;
        std::memcpy(&f, wfx, sizeof f);
        std::lock_guard control(core_->control);
        {
            std::lock_guard lock(core_->mutex);
            if (!core_->alive) return DSERR_INVALIDCALL;
            if (!voice_.primary) return DSERR_INVALIDCALL;
            if (core_->level < DSSCL_PRIORITY) return DSERR_PRIOLEVELNEEDED;
        }
        if (bad_format(f)) return DSERR_BADFORMAT;
        return core_->change_format(pcm_of(f));
    }

    HRESULT WINAPI SetVolume(LONG volume) override {
        if (volume < DSBVOLUME_MIN || volume > DSBVOLUME_MAX) return DSERR_INVALIDPARAM;
        return set(DSBCAPS_CTRLVOLUME, [&] { voice_.volume = volume; });
    }

    HRESULT WINAPI SetPan(LONG pan) override {
        if (pan < DSBPAN_LEFT || pan > DSBPAN_RIGHT) return DSERR_INVALIDPARAM;
        return set(DSBCAPS_CTRLPAN, [&] { voice_.pan = pan; });
    }

    HRESULT WINAPI SetFrequency(DWORD frequency) override {
        if (frequency != DSBFREQUENCY_ORIGINAL &&
            (frequency < DSBFREQUENCY_MIN || frequency > DSBFREQUENCY_MAX))
            return DSERR_INVALIDPARAM;
        if (voice_.primary) return DSERR_CONTROLUNAVAIL;
        return set(DSBCAPS_CTRLFREQUENCY, [&] {
            voice_.frequency = frequency == DSBFREQUENCY_ORIGINAL ? voice_.format.rate : frequency;
        });
    }

    HRESULT WINAPI Stop() override {
        std::lock_guard lock(core_->mutex);
        if (!core_->alive) return DSERR_INVALIDCALL;
        if (!voice_.primary) {
            core_->settle(voice_);
            // It stands where it is heard; what was mixed beyond is dropped.
            voice_.pos = core_->play_position(voice_) >> kFracBits << kFracBits;
            voice_.draining = false;
            voice_.clear_marks();
        }
        voice_.playing = false;
        return DS_OK;
    }

    HRESULT WINAPI Unlock(LPVOID ptr1, DWORD bytes1, LPVOID ptr2, DWORD bytes2) override {
        std::lock_guard lock(core_->mutex);
        if (!core_->alive) return DSERR_INVALIDCALL;
        if (voice_.primary) return DSERR_INVALIDCALL;
        Storage& st = *voice_.storage;
        if (st.mirror.empty()) return DSERR_INVALIDPARAM;  // never locked
        auto inside = [&](LPVOID p, DWORD n) {
            auto base = reinterpret_cast<uintptr_t>(st.mirror.data());
            auto at = reinterpret_cast<uintptr_t>(p);
            return at >= base && at - base <= st.mirror.size() && n <= st.mirror.size() - (at - base);
        };
        if (!ptr1 || !inside(ptr1, bytes1)) return DSERR_INVALIDPARAM;
        if (ptr2 ? !inside(ptr2, bytes2) : bytes2 != 0) return DSERR_INVALIDPARAM;
        auto put = [&](LPVOID p, DWORD n) {
            size_t at = static_cast<uint8_t*>(p) - st.mirror.data();
            std::memcpy(st.data.data() + at, st.mirror.data() + at, n);
        };
        put(ptr1, bytes1);
        if (ptr2) put(ptr2, bytes2);
        return DS_OK;
    }

    HRESULT WINAPI Restore() override {
        std::lock_guard control(core_->control);
        {
            std::lock_guard lock(core_->mutex);
            if (!core_->alive) return DSERR_INVALIDCALL;
        }
        if (!core_->revive_output()) return DSERR_BUFFERLOST;
        std::lock_guard lock(core_->mutex);
        voice_.lost = false;
        return DS_OK;
    }

private:
    friend Unknown;
    ~SoundBuffer() = default;

    void last_release() {
        std::lock_guard lock(core_->mutex);
        auto& list = core_->voices;
        list.erase(std::remove(list.begin(), list.end(), &voice_), list.end());
        if (core_->primary == this) core_->primary = nullptr;
    }

    template <typename T, typename Read>
    HRESULT get(T* out, DWORD control, Read read) {
        if (bad(out)) return DSERR_INVALIDPARAM;
        std::lock_guard lock(core_->mutex);
        if (!core_->alive) return DSERR_INVALIDCALL;
        if (!(voice_.flags & control)) return DSERR_CONTROLUNAVAIL;
        *out = read();
        return DS_OK;
    }

    template <typename Write>
    HRESULT set(DWORD control, Write write) {
        std::lock_guard lock(core_->mutex);
        if (!core_->alive) return DSERR_INVALIDCALL;
        if (!(voice_.flags & control)) return DSERR_CONTROLUNAVAIL;
        write();
        return DS_OK;
    }

    std::shared_ptr<Core> core_;
    Voice voice_;
};

// ---- The object ---------------------------------------------------------------

class DirectSound final : public Unknown<DirectSound, IDirectSound, IID_IDirectSound> {
public:
    explicit DirectSound(std::shared_ptr<Core> core) : core_(std::move(core)) {}

    HRESULT WINAPI CreateSoundBuffer(LPCDSBUFFERDESC desc, LPDIRECTSOUNDBUFFER* out,
                                     LPUNKNOWN outer) override {
        if (bad(out)) return DSERR_INVALIDPARAM;
        *out = nullptr;
        if (outer) return DSERR_NOAGGREGATION;
        if (bad(desc)) return DSERR_INVALIDPARAM;
        DSBUFFERDESC d{};
        if (desc->dwSize == sizeof(DSBUFFERDESC)) {
            std::memcpy(&d, desc, sizeof d);
        } else if (desc->dwSize == sizeof(DSBUFFERDESC1)) {
            std::memcpy(&d, desc, sizeof(DSBUFFERDESC1));
        } else {
            return DSERR_INVALIDPARAM;
        }
        try {
            return (d.dwFlags & DSBCAPS_PRIMARYBUFFER) ? create_primary(d, out)
                                                        : create_secondary(d, out);
        } catch (const std::bad_alloc&) {
            return DSERR_OUTOFMEMORY;
        }
    }

    HRESULT WINAPI GetCaps(LPDSCAPS caps) override {
        if (bad(caps) || caps->dwSize != sizeof(DSCAPS)) return DSERR_INVALIDPARAM;
        DSCAPS c{};
        c.dwSize = sizeof c;
        c.dwFlags = DSCAPS_PRIMARYMONO | DSCAPS_PRIMARYSTEREO | DSCAPS_PRIMARY8BIT |
                    DSCAPS_PRIMARY16BIT | DSCAPS_CONTINUOUSRATE | DSCAPS_SECONDARYMONO |
                    DSCAPS_SECONDARYSTEREO | DSCAPS_SECONDARY8BIT | DSCAPS_SECONDARY16BIT |
                    (core_->emulated ? DSCAPS_EMULDRIVER : 0);
        c.dwMinSecondarySampleRate = DSBFREQUENCY_MIN;
        c.dwMaxSecondarySampleRate = DSBFREQUENCY_MAX;
        c.dwPrimaryBuffers = 1;
        c.dwPlayCpuOverheadSwBuffers = 1;  // percent of a processor per buffer, roughly
        *caps = c;
        return DS_OK;
    }

    HRESULT WINAPI DuplicateSoundBuffer(LPDIRECTSOUNDBUFFER original,
                                        LPDIRECTSOUNDBUFFER* out) override {
        if (bad(out)) return DSERR_INVALIDPARAM;
        *out = nullptr;
        std::lock_guard lock(core_->mutex);
        SoundBuffer* source = nullptr;
        // Only a buffer of this object, found by address: anything else
        // could be a stale or foreign pointer.
        for (Voice* v : core_->voices)
            if (v->owner == original) source = static_cast<SoundBuffer*>(v->owner);
        if (!source) return DSERR_INVALIDPARAM;
        if (source->voice().primary) return DSERR_INVALIDCALL;
        try {
            Voice v;
            const Voice& s = source->voice();
            v.flags = s.flags;
            v.format = s.format;
            v.frames = s.frames;
            v.storage = s.storage;
            v.frequency = s.frequency;
            v.volume = s.volume;
            v.pan = s.pan;
            auto* copy = new SoundBuffer(core_, v);
            core_->voices.reserve(core_->voices.size() + 1);
            copy->attach();
            *out = copy;
        } catch (const std::bad_alloc&) {
            return DSERR_OUTOFMEMORY;
        }
        return DS_OK;
    }

    HRESULT WINAPI SetCooperativeLevel(HWND hwnd, DWORD level) override {
        if (!hwnd || level < DSSCL_NORMAL || level > DSSCL_WRITEPRIMARY) return DSERR_INVALIDPARAM;
        std::lock_guard lock(core_->mutex);
        core_->window = hwnd;
        core_->level = level;
        return DS_OK;
    }

    HRESULT WINAPI Compact() override {
        std::lock_guard lock(core_->mutex);
        return core_->level >= DSSCL_PRIORITY ? DS_OK : DSERR_PRIOLEVELNEEDED;
    }

    HRESULT WINAPI GetSpeakerConfig(LPDWORD config) override {
        if (bad(config)) return DSERR_INVALIDPARAM;
        std::lock_guard lock(core_->mutex);
        *config = core_->speakers;
        return DS_OK;
    }

    HRESULT WINAPI SetSpeakerConfig(DWORD config) override {
        const DWORD kind = DSSPEAKER_CONFIG(config);
        if (kind < DSSPEAKER_HEADPHONE || kind > DSSPEAKER_SURROUND) return DSERR_INVALIDPARAM;
        std::lock_guard lock(core_->mutex);
        core_->speakers = config;
        return DS_OK;
    }

    HRESULT WINAPI Initialize(LPCGUID) override { return DSERR_ALREADYINITIALIZED; }

private:
    friend Unknown;
    ~DirectSound() = default;

    // Buffers still held keep the state alive but are heard no more.
    void last_release() {
        std::lock_guard control(core_->control);
        {
            std::lock_guard lock(core_->mutex);
            core_->alive = false;
            for (Voice* v : core_->voices) v->playing = false;
        }
        core_->stop_output();
    }

    HRESULT create_primary(const DSBUFFERDESC& d, LPDIRECTSOUNDBUFFER* out) {
        if (d.dwFlags & ~kPrimaryFlags) return DSERR_INVALIDPARAM;
        if (d.dwBufferBytes != 0 || d.lpwfxFormat) return DSERR_INVALIDPARAM;
        std::lock_guard lock(core_->mutex);
        if (!core_->alive) return DSERR_INVALIDCALL;
        // One primary buffer per object: later requests share it.
        if (auto* p = static_cast<SoundBuffer*>(core_->primary); p && p->try_add_ref()) {
            *out = p;
            return DS_OK;
        }
        Voice v;
        v.primary = true;
        v.flags = d.dwFlags;
        v.format = core_->format;
        core_->voices.reserve(core_->voices.size() + 1);
        auto* buffer = new SoundBuffer(core_, v);
        buffer->attach();
        *out = buffer;
        return DS_OK;
    }

    HRESULT create_secondary(const DSBUFFERDESC& d, LPDIRECTSOUNDBUFFER* out) {
        if (d.dwFlags & DSBCAPS_CTRL3D) return DSERR_CONTROLUNAVAIL;
        if (d.dwFlags & DSBCAPS_LOCHARDWARE) return DSERR_CONTROLUNAVAIL;  // no hardware mixing
        if (d.dwFlags & ~kSecondaryFlags) return DSERR_INVALIDPARAM;
        if (d.dwBufferBytes < DSBSIZE_MIN || d.dwBufferBytes > DSBSIZE_MAX)
            return DSERR_INVALIDPARAM;
        if (bad(d.lpwfxFormat)) return DSERR_INVALIDPARAM;
        WAVEFORMATEX f;
        std::memcpy(&f, d.lpwfxFormat, sizeof f);
        if (bad_format(f)) return DSERR_BADFORMAT;
        Voice v;
        v.flags = d.dwFlags;
        v.format = pcm_of(f);
        v.frames = d.dwBufferBytes / v.format.frame_bytes();
        if (v.frames == 0) return DSERR_INVALIDPARAM;
        v.frequency = f.nSamplesPerSec;
        v.storage = std::make_shared<Storage>();
        v.storage->silence = f.wBitsPerSample == 8 ? 0x80 : 0;
        v.storage->data.assign(v.bytes(), v.storage->silence);
        std::lock_guard lock(core_->mutex);
        if (!core_->alive) return DSERR_INVALIDCALL;
        core_->voices.reserve(core_->voices.size() + 1);
        auto* buffer = new SoundBuffer(core_, v);
        buffer->attach();
        *out = buffer;
        return DS_OK;
    }

    std::shared_ptr<Core> core_;
};

// ---- Entry points -------------------------------------------------------------

HRESULT WINAPI DirectSoundCreate(LPGUID guid, LPDIRECTSOUND* out, LPUNKNOWN outer) {
    if (bad(out)) return DSERR_INVALIDPARAM;
    *out = nullptr;
    if (outer) return DSERR_NOAGGREGATION;
    if (guid) {
        if (bad(guid)) return DSERR_INVALIDPARAM;
        if (!(*guid == GUID_NULL) && !(*guid == kDeviceGuid)) return DSERR_NODRIVER;
    }
    Mode mode = read_mode();
    if (mode == Mode::absent) return DSERR_NODRIVER;
    try {
        auto core = std::make_shared<Core>(mode == Mode::emulated);
        HRESULT result;
        {
            std::lock_guard control(core->control);
            result = result_of(core->start_output(kDefaultFormat));
        }
        if (result != DS_OK) return result;
        *out = new DirectSound(std::move(core));
        return DS_OK;
    } catch (const std::bad_alloc&) {
        return DSERR_OUTOFMEMORY;
    } catch (const std::system_error&) {
        return DSERR_OUTOFMEMORY;
    }
}

HRESULT WINAPI DirectSoundEnumerateA(LPDSENUMCALLBACKA callback, LPVOID context) {
    if (!callback) return DSERR_INVALIDPARAM;
    if (pcm_sink_formats() == 0) return DS_OK;  // no usable device: nothing to report
    try {
        const std::string name = pcm_sink_name();
        if (!callback(nullptr, kDefaultDescription, "", context)) return DS_OK;
        GUID device = kDeviceGuid;
        callback(&device, name.c_str(), kModuleName, context);
    } catch (const std::bad_alloc&) {
        return DSERR_OUTOFMEMORY;
    }
    return DS_OK;
}

struct Registrar {
    Registrar() {
        win32::register_builtin_module(BuiltinModule{
            "DSOUND.DLL",
            [] { return read_mode() != Mode::absent; },
            [](const char* name) -> FARPROC {
                // Through void(*)(), the type that stands for any function.
                using Any = void (*)();
                if (std::strcmp(name, "DirectSoundCreate") == 0)
                    return reinterpret_cast<FARPROC>(reinterpret_cast<Any>(&DirectSoundCreate));
                if (std::strcmp(name, "DirectSoundEnumerateA") == 0)
                    return reinterpret_cast<FARPROC>(
                        reinterpret_cast<Any>(&DirectSoundEnumerateA));
                return nullptr;
            },
        });
    }
} registrar;

}  // namespace

}  // namespace win32::mm::ds
