#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "scratch_dir.h"
#include "win32/kernel.h"
#include "win32/kernel_ext.h"

namespace fs = std::filesystem;
using testing_support::ScratchDrive;

namespace {

int builtin_answer() { return 7; }

TEST(Modules, BuiltinModulesResolveByFileNameInAnyCase) {
    win32::register_builtin_module(
        {"TESTMOD.DLL", [] { return true; }, [](const char* name) -> FARPROC {
             return std::string(name) == "Answer" ? reinterpret_cast<FARPROC>(&builtin_answer)
                                                  : nullptr;
         }});
    HMODULE a = LoadLibraryA("testmod");
    HMODULE b = LoadLibraryA("C:\\WINDOWS\\SYSTEM\\TestMod.dll");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    auto answer = reinterpret_cast<int (*)()>(GetProcAddress(a, "Answer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 7);
    EXPECT_EQ(GetProcAddress(a, "Missing"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(GetProcAddress(a, reinterpret_cast<LPCSTR>(uintptr_t(1))), nullptr)
        << "ordinals are refused, not read as strings";
    EXPECT_TRUE(FreeLibrary(a));
    EXPECT_TRUE(FreeLibrary(b));
    EXPECT_FALSE(FreeLibrary(b)) << "the last reference is gone";
}

TEST(Modules, ABuiltinModuleCanRefuseToLoad) {
    win32::register_builtin_module({"ABSENT.DLL", [] { return false; }, nullptr});
    EXPECT_EQ(LoadLibraryA("ABSENT.DLL"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
}

TEST(Modules, SharedObjectsLoadFromWindowsPathsAndKnowTheirOwnName) {
    ScratchDrive drive;
    fs::create_directories(drive.path() / "drive_c" / "Disc");
    fs::copy_file(PLUGIN_SO, drive.path() / "drive_c" / "Disc" / "PLUGIN.DLL");

    HMODULE module = LoadLibraryA("c:\\disc\\plugin.dll");
    ASSERT_NE(module, nullptr);
    auto answer = reinterpret_cast<int (*)()>(GetProcAddress(module, "plugin_answer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);

    HMODULE found = nullptr;
    ASSERT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                       GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                   reinterpret_cast<LPCSTR>(answer), &found));
    char name[MAX_PATH];
    DWORD length = GetModuleFileNameA(found, name, sizeof name);
    EXPECT_STREQ(name, "C:\\Disc\\PLUGIN.DLL");
    EXPECT_EQ(length, std::strlen(name));

    char small[5] = {'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(GetModuleFileNameA(found, small, 4), 4u);
    EXPECT_STREQ(small, "C:\\");
    EXPECT_EQ(small[4], 'x') << "nothing written past the buffer";
    EXPECT_TRUE(FreeLibrary(module));
}

TEST(Modules, MissingLibraryAndBadHandles) {
    ScratchDrive drive;
    EXPECT_EQ(LoadLibraryA("C:\\nowhere\\none.dll"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
    int local = 0;
    HMODULE bogus = reinterpret_cast<HMODULE>(&local);
    EXPECT_EQ(GetProcAddress(bogus, "x"), nullptr);
    char name[16];
    EXPECT_EQ(GetModuleFileNameA(bogus, name, sizeof name), 0u);
    EXPECT_EQ(SetErrorMode(SEM_FAILCRITICALERRORS), 0u);
    EXPECT_EQ(SetErrorMode(0), UINT(SEM_FAILCRITICALERRORS));
}

// Runs a test body inside a scratch folder made the current directory.
class ProcessStart : public ::testing::Test {
protected:
    void SetUp() override {
        old_ = fs::current_path();
        fs::current_path(dir_.path());
        out_ = dir_.path() / "probe.out";
        setenv("SPAWN_PROBE_OUT", out_.c_str(), 1);
    }
    void TearDown() override {
        fs::current_path(old_);
        unsetenv("SPAWN_PROBE_OUT");
        unsetenv("SPAWN_PROBE_SLEEP_MS");
    }
    void install(const fs::path& where) {
        fs::create_directories(where.parent_path());
        fs::copy_file(SPAWN_PROBE, where);
        chmod(where.c_str(), 0755);
    }
    // What the probe wrote, once it has written it (empty after the wait).
    std::string wait_for_output(std::chrono::milliseconds limit) {
        auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            std::ifstream in(out_);
            if (in) {
                std::stringstream text;
                text << in.rdbuf();
                return text.str();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return {};
    }

    testing_support::ScratchDir dir_;
    fs::path old_, out_;
};

TEST_F(ProcessStart, TheProgramGetsItsOwnNameAsItsOnlyArgument) {
    install(dir_.path() / "Qarmet.exe");
    intptr_t pid = _spawnl(_P_NOWAIT, "Qarmet.exe", "Qarmet.exe", nullptr);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(wait_for_output(std::chrono::seconds(10)), "1\nQarmet.exe\n");
}

TEST_F(ProcessStart, TheNameIsMatchedWithoutRegardToCase) {
    install(dir_.path() / "Setup" / "Qarmet.exe");
    ASSERT_GT(_spawnl(_P_NOWAIT, "SETUP\\QARMET.EXE", "QARMET.EXE", nullptr), 0);
    EXPECT_EQ(wait_for_output(std::chrono::seconds(10)), "1\nQARMET.EXE\n");
}

TEST_F(ProcessStart, IsNotFoundThroughThePath) {
    fs::path bin = dir_.path() / "bin";
    install(bin / "Qarmet.exe");
    std::string old_path = getenv("PATH") ? getenv("PATH") : "";
    setenv("PATH", (bin.string() + ":" + old_path).c_str(), 1);
    errno = 0;
    intptr_t pid = _spawnl(_P_NOWAIT, "Qarmet.exe", "Qarmet.exe", nullptr);
    int error = errno;
    setenv("PATH", old_path.c_str(), 1);
    EXPECT_EQ(pid, -1);
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(wait_for_output(std::chrono::milliseconds(300)), "");
}

TEST_F(ProcessStart, TheCallerDoesNotWait) {
    install(dir_.path() / "Qarmet.exe");
    setenv("SPAWN_PROBE_SLEEP_MS", "1500", 1);
    auto before = std::chrono::steady_clock::now();
    ASSERT_GT(_spawnl(_P_NOWAIT, "Qarmet.exe", "Qarmet.exe", nullptr), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1000));
    EXPECT_EQ(wait_for_output(std::chrono::milliseconds(100)), "");
    EXPECT_EQ(wait_for_output(std::chrono::seconds(10)), "1\nQarmet.exe\n");
}

}  // namespace
