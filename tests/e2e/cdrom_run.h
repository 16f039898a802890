// Runs the real CDROM from a copy of the demo disc on the headless screen,
// with wav: audio, a trace log of the sound library and an input script,
// and reads back what it left: screenshots, captured sound, the trace,
// the Windows folder.
#pragma once

#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "scratch_dir.h"

namespace e2e {

namespace fs = std::filesystem;

inline std::string read_text(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void write_text(const fs::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary);
    out << text;
}

// An RGB picture, 0x00RRGGBB, rows from the top.
struct Image {
    int width = 0, height = 0;
    std::vector<uint32_t> px;
    uint32_t at(int x, int y) const { return px[size_t(y) * size_t(width) + size_t(x)]; }
    bool empty() const { return px.empty(); }
};

inline Image read_png(const fs::path& p) {
    Image img;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, p.c_str())) return img;
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) {
        png_image_free(&image);
        return img;
    }
    img.width = int(image.width);
    img.height = int(image.height);
    img.px.resize(size_t(img.width) * size_t(img.height));
    for (size_t i = 0; i < img.px.size(); ++i)
        img.px[i] = uint32_t(rgb[3 * i]) << 16 | uint32_t(rgb[3 * i + 1]) << 8 | rgb[3 * i + 2];
    return img;
}

// The mono signal of a captured 8- or 16-bit PCM WAV file, centred on 0.
struct Sound {
    int rate = 0;
    std::vector<double> samples;
};

inline Sound read_wav(const fs::path& p) {
    Sound s;
    const std::string b = read_text(p);
    if (b.size() < 12 || b.compare(0, 4, "RIFF") || b.compare(8, 4, "WAVE")) return s;
    auto u32 = [&](size_t at) {
        return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
               uint32_t(uint8_t(b[at + 3])) << 24;
    };
    auto u16 = [&](size_t at) { return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8; };
    int channels = 0, bits = 0;
    for (size_t pos = 12; pos + 8 <= b.size();) {
        const uint32_t len = u32(pos + 4);
        const size_t body = pos + 8;
        if (!b.compare(pos, 4, "fmt ") && body + 16 <= b.size()) {
            channels = int(u16(body + 2));
            s.rate = int(u32(body + 4));
            bits = int(u16(body + 14));
        } else if (!b.compare(pos, 4, "data") && channels > 0 && (bits == 8 || bits == 16)) {
            const size_t end = std::min(b.size(), body + size_t(len));
            const size_t frame = size_t(channels) * size_t(bits / 8);
            for (size_t at = body; at + frame <= end; at += frame) {
                double sum = 0;
                for (int c = 0; c < channels; ++c) {
                    if (bits == 8) sum += (uint8_t(b[at + size_t(c)]) - 128) / 128.0;
                    else sum += int16_t(u16(at + size_t(c) * 2)) / 32768.0;
                }
                s.samples.push_back(sum / channels);
            }
            break;
        }
        pos = body + len + (len & 1);
    }
    return s;
}

struct Result {
    bool finished = false;  // false: killed at the time limit
    int status = -1;        // exit status when it exited
    double seconds = 0;
};

// One run of the menu: a copy of the disc, drive C: with a Windows folder,
// and everything the program wrote.
class MenuRun {
public:
    MenuRun() {
        disc_ = dir_.path() / "disc";
        root_ = dir_.path() / "drive_c";
        fs::copy(KD_DISC_DIR, disc_, fs::copy_options::recursive);
        fs::create_directories(root_ / "WINDOWS" / "SYSTEM");
        write_text(windows() / "WIN.INI", "[SONVEX]\nSONVEXDebug=" + (dir_.path() / "trace.log").string() + "\n");
        // Every Windows installation has the desktop key the changer writes to.
        write_text(windows() / "REGISTRY.TXT",
                   "win32-registry 1\nkey HKEY_CURRENT_USER \"Control Panel\" \"desktop\"\n");
        env_["WIN32_VIDEO"] = "headless";
        env_["WIN32_ROOT"] = root_.string();
        env_["WIN32_AUDIO"] = "wav:" + (dir_.path() / "sound.wav").string();
        env_["WIN32_SCREEN"] = "1024x768x32";
    }

    const fs::path& disc() const { return disc_; }
    const fs::path& root() const { return root_; }
    fs::path windows() const { return root_ / "WINDOWS"; }
    fs::path shot(const std::string& name) const { return dir_.path() / (name + ".png"); }
    void set_env(const std::string& name, const std::string& value) { env_[name] = value; }
    void unset_env(const std::string& name) { unset_.push_back(name); }

    // Runs the script (screenshots named as for shot()), at most `limit_s`.
    Result start(std::string script, double limit_s = 60) {
        for (size_t at = 0; (at = script.find("shot ", at)) != std::string::npos;) {
            const size_t end = script.find('\n', at);
            const std::string name = script.substr(at + 5, end - at - 5);
            const std::string path = shot(name).string();
            script.replace(at + 5, end - at - 5, path);
            at += 5 + path.size();
        }
        write_text(dir_.path() / "script.txt", script);
        env_["WIN32_SCRIPT"] = (dir_.path() / "script.txt").string();
        return exec(limit_s);
    }

    std::string trace() const { return read_text(dir_.path() / "trace.log"); }
    // Lines of the trace that call `name` (e.g. "SVX_start_sample(").
    int calls(const std::string& name) const {
        const std::string t = trace();
        int n = 0;
        for (size_t at = 0; (at = t.find("] " + name, at)) != std::string::npos; ++at) ++n;
        return n;
    }
    Sound sound() const { return read_wav(dir_.path() / "sound.wav"); }
    std::string output() const { return read_text(dir_.path() / "stdout.txt"); }

private:
    Result exec(double limit_s) {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string kv = *e;
            const std::string name = kv.substr(0, kv.find('='));
            if (name.rfind("WIN32_", 0) == 0 || name == "windir" || env_.count(name)) continue;
            bool drop = false;
            for (const std::string& u : unset_) drop |= u == name;
            if (!drop) env.push_back(kv);
        }
        for (const auto& [k, v] : env_) {
            bool drop = false;
            for (const std::string& u : unset_) drop |= u == k;
            if (!drop) env.push_back(k + "=" + v);
        }
        std::vector<char*> envp;
        for (std::string& s : env) envp.push_back(s.data());
        envp.push_back(nullptr);
        const std::string program = (disc_ / "CDROM").string();
        const std::string out = (dir_.path() / "stdout.txt").string();
        const auto t0 = std::chrono::steady_clock::now();
        const pid_t pid = fork();
        if (pid == 0) {
            if (chdir(disc_.c_str()) != 0) _exit(126);
            FILE* f = std::fopen(out.c_str(), "w");
            if (f) {
                dup2(fileno(f), 1);
                dup2(fileno(f), 2);
            }
            char* argv[] = {const_cast<char*>("CDROM"), nullptr};
            execve(program.c_str(), argv, envp.data());
            _exit(127);
        }
        Result r;
        if (pid < 0) return r;
        for (;;) {
            int status = 0;
            const pid_t got = waitpid(pid, &status, WNOHANG);
            r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            if (got == pid) {
                r.finished = true;
                r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return r;
            }
            if (r.seconds > limit_s) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                return r;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    testing_support::ScratchDir dir_;
    fs::path disc_, root_;
    std::map<std::string, std::string> env_;
    std::vector<std::string> unset_;
};

// Ends a run cleanly: nothing asked, nothing crashed, in time.
inline void expect_clean_exit(const Result& r, const MenuRun& run) {
    EXPECT_TRUE(r.finished) << "still running after " << r.seconds << " s\n" << run.output();
    EXPECT_EQ(r.status, 0) << run.output();
}

}  // namespace e2e
