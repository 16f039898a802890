// Paths, folders, environment and file handles of the kernel stand-in.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "file_text.h"
#include "scratch_dir.h"
#include "win32/kernel.h"
#include "win32/kernel_ext.h"

namespace fs = std::filesystem;
using testing_support::read_file;
using testing_support::ScratchDrive;
using testing_support::write_file;

namespace {

// Sets or clears variables for one test and puts the old values back.
class EnvGuard {
public:
    void set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~EnvGuard() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second)
                setenv(it->first.c_str(), it->second->c_str(), 1);
            else
                unsetenv(it->first.c_str());
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

class Win32Files : public ::testing::Test {
protected:
    void SetUp() override {
        old_cwd_ = fs::current_path();
        fs::current_path(drive_.path());
    }
    void TearDown() override { fs::current_path(old_cwd_); }

    fs::path c() const { return drive_.path() / "drive_c"; }
    std::string c_str() const { return c().string(); }

    ScratchDrive drive_;
    fs::path old_cwd_;
};

TEST_F(Win32Files, HostPathMapsDriveCaseAndHostPaths) {
    write_file(c() / "Games" / "Disc" / "Menu.bmp", "x");
    write_file(drive_.path() / "host" / "Data" / "Wave.WAV", "x");
    const std::string host = drive_.str() + "/host";

    struct Case {
        std::string windows;
        std::string expected;
    } cases[] = {
        {"C:\\Games\\Disc\\Menu.bmp", c_str() + "/Games/Disc/Menu.bmp"},
        {"c:\\GAMES\\disc\\MENU.BMP", c_str() + "/Games/Disc/Menu.bmp"},
        {"C:/games/DISC/menu.bmp", c_str() + "/Games/Disc/Menu.bmp"},
        {"C:\\gAmEs\\New.TXT", c_str() + "/Games/New.TXT"},
        {"C:\\games\\Missing\\Sub\\a.TXT", c_str() + "/Games/Missing/Sub/a.TXT"},
        {"C:", c_str()},
        {"C:\\", c_str()},
        {"\\GAMES\\disc", c_str() + "/Games/Disc"},
        {host + "/Data/Wave.WAV", host + "/Data/Wave.WAV"},
        {host + "/DATA/wave.wav", host + "/Data/Wave.WAV"},
        {"/kd-no-such-folder/File.TXT", "/kd-no-such-folder/File.TXT"},
        {"host\\data\\WAVE.wav", "host/Data/Wave.WAV"},
        {"host/Nothing/x", "host/Nothing/x"},
    };
    for (const Case& test : cases)
        EXPECT_EQ(win32::host_path(test.windows.c_str()), test.expected) << test.windows;
}

TEST_F(Win32Files, DriveRootDefaultsUnderHome) {
    EnvGuard env;
    env.set("WIN32_ROOT", nullptr);
    env.set("HOME", "/kd-home");
    EXPECT_EQ(win32::drive_root(), "/kd-home/.local/share/win32/drive_c");
    EXPECT_EQ(win32::host_path("C:\\WINDOWS\\WIN.INI"),
              "/kd-home/.local/share/win32/drive_c/WINDOWS/WIN.INI");
}

TEST_F(Win32Files, WindowsPathOfHostPath) {
    EXPECT_EQ(win32::windows_path_of(c_str() + "/Games/Menu.bmp"), "C:\\Games\\Menu.bmp");
    EXPECT_EQ(win32::windows_path_of(c_str()), "C:\\");
    // Only the drive folder itself, not a sibling whose name starts alike.
    EXPECT_EQ(win32::windows_path_of(c_str() + "2/x"), c_str() + "2/x");
    EXPECT_EQ(win32::windows_path_of("/elsewhere/x"), "/elsewhere/x");
}

TEST_F(Win32Files, CreateInCaseMatchedFolder) {
    fs::create_directories(c() / "Games" / "Disc");
    HANDLE file = CreateFileA("c:\\GAMES\\disc\\NewFile.DAT", GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, "abc", 3, &written, nullptr));
    CloseHandle(file);
    EXPECT_EQ(read_file(c() / "Games" / "Disc" / "NewFile.DAT"), "abc");
    EXPECT_FALSE(fs::exists(c() / "GAMES"));
}

TEST_F(Win32Files, FolderBufferRules) {
    using Getter = UINT(WINAPI*)(LPSTR, UINT);
    struct Folder {
        Getter get;
        std::string text;
    } folders[] = {{GetWindowsDirectoryA, "C:\\WINDOWS"}, {GetSystemDirectoryA, "C:\\WINDOWS\\SYSTEM"}};
    for (const Folder& folder : folders) {
        const UINT len = static_cast<UINT>(folder.text.size());
        for (UINT size : {0u, 1u, len, len + 1, len + 20}) {
            char buffer[64];
            std::memset(buffer, '#', sizeof buffer);
            UINT result = folder.get(buffer, size);
            if (size > len) {
                EXPECT_EQ(result, len) << folder.text << " size " << size;
                EXPECT_STREQ(buffer, folder.text.c_str());
                EXPECT_EQ(buffer[len + 1], '#');
            } else {
                EXPECT_EQ(result, len + 1) << folder.text << " size " << size;
                EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '#'));
            }
        }
    }
}

TEST_F(Win32Files, FoldersFollowWindirAndAreCreated) {
    fs::remove_all(c() / "WINDOWS");
    fs::create_directories(c() / "windows");
    char buffer[MAX_PATH];
    ASSERT_EQ(GetSystemDirectoryA(buffer, sizeof buffer), 17u);
    EXPECT_STREQ(buffer, "C:\\WINDOWS\\SYSTEM");
    // Made inside the folder that matches ignoring case, not beside it.
    EXPECT_TRUE(fs::is_directory(c() / "windows" / "SYSTEM"));
    EXPECT_FALSE(fs::exists(c() / "WINDOWS"));

    EnvGuard env;
    env.set("windir", "C:\\Win98\\");
    ASSERT_EQ(GetWindowsDirectoryA(buffer, sizeof buffer), 8u);
    EXPECT_STREQ(buffer, "C:\\Win98");
    ASSERT_EQ(GetSystemDirectoryA(buffer, sizeof buffer), 15u);
    EXPECT_STREQ(buffer, "C:\\Win98\\SYSTEM");
    EXPECT_TRUE(fs::is_directory(c() / "Win98" / "SYSTEM"));
}

TEST_F(Win32Files, EnvironmentVariableRules) {
    EnvGuard env;
    env.set("KD_TEST_VALUE", "hello");
    env.set("KD_TEST_EMPTY", "");
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(GetEnvironmentVariableA("KD_TEST_VALUE", buffer, 5), 6u);
    EXPECT_EQ(buffer[0], '#');
    EXPECT_EQ(GetEnvironmentVariableA("KD_TEST_VALUE", buffer, 6), 5u);
    EXPECT_STREQ(buffer, "hello");
    EXPECT_EQ(GetEnvironmentVariableA("kd_test_value", buffer, sizeof buffer), 5u);

    SetLastError(99);
    EXPECT_EQ(GetEnvironmentVariableA("KD_TEST_EMPTY", buffer, sizeof buffer), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_STREQ(buffer, "");

    EXPECT_EQ(GetEnvironmentVariableA("KD_TEST_ABSENT", buffer, sizeof buffer), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
}

TEST_F(Win32Files, TempPathOrderAndSeparator) {
    struct Case {
        const char* tmp;
        const char* temp;
        const char* tmpdir;
        std::string expected;
    } cases[] = {
        {"C:\\TEMP", "C:\\OTHER", nullptr, "C:\\TEMP\\"},
        {"", "C:\\OTHER\\", nullptr, "C:\\OTHER\\"},
        {nullptr, "/var/kd", nullptr, "/var/kd/"},
        {nullptr, nullptr, "/kd-host-tmp", "/kd-host-tmp/"},
        {nullptr, nullptr, nullptr, "/tmp/"},
    };
    for (const Case& test : cases) {
        EnvGuard env;
        env.set("TMP", test.tmp);
        env.set("TEMP", test.temp);
        env.set("TMPDIR", test.tmpdir);
        char buffer[MAX_PATH];
        std::memset(buffer, '#', sizeof buffer);
        const auto len = static_cast<DWORD>(test.expected.size());
        EXPECT_EQ(GetTempPathA(len, buffer), len + 1) << test.expected;
        EXPECT_EQ(buffer[0], '#');
        EXPECT_EQ(GetTempPathA(sizeof buffer, buffer), len);
        EXPECT_STREQ(buffer, test.expected.c_str());
    }
}

// ---- File handles ----------------------------------------------------------

HANDLE open_file(const char* name, DWORD access, DWORD share, DWORD disposition) {
    return CreateFileA(name, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST_F(Win32Files, ReadWriteSeekAndSize) {
    HANDLE file = CreateFileA("C:\\data.bin", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD count = 0;
    ASSERT_TRUE(WriteFile(file, "hello world", 11, &count, nullptr));
    EXPECT_EQ(count, 11u);
    DWORD high = 7;
    EXPECT_EQ(GetFileSize(file, &high), 11u);
    EXPECT_EQ(high, 0u);

    char buffer[16] = {};
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_BEGIN), 0u);
    ASSERT_TRUE(ReadFile(file, buffer, 5, &count, nullptr));
    EXPECT_EQ(std::string(buffer, count), "hello");
    EXPECT_EQ(SetFilePointer(file, -5, nullptr, FILE_END), 6u);
    ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(std::string(buffer, count), "world");
    // At the end a read succeeds with nothing.
    count = 99;
    EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(count, 0u);

    EXPECT_EQ(SetFilePointer(file, -12, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 11u);  // did not move
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, 7), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    ASSERT_TRUE(CloseHandle(file));
    EXPECT_FALSE(CloseHandle(file));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(ReadFile(file, buffer, 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(GetFileSize(file, nullptr), INVALID_FILE_SIZE);
}

TEST_F(Win32Files, AHandleOverAHostDescriptorLeavesItOpen) {
    write_file(c() / "host.bin", "0123456789");
    const int fd = ::open((c() / "host.bin").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(lseek(fd, 4, SEEK_SET), 4);
    HANDLE file = win32_file_handle(fd);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    char buffer[8] = {};
    DWORD count = 0;
    // It shares the descriptor's position, as a handle duplicated from it would.
    ASSERT_TRUE(ReadFile(file, buffer, 3, &count, nullptr));
    EXPECT_EQ(std::string(buffer, count), "456");
    EXPECT_EQ(GetFileSize(file, nullptr), 10u);
    DWORD written = 0;
    EXPECT_FALSE(WriteFile(file, "x", 1, &written, nullptr)) << "a read handle";
    ASSERT_TRUE(CloseHandle(file));
    EXPECT_EQ(pread(fd, buffer, 2, 0), 2) << "the descriptor is still open";
    EXPECT_EQ(std::string(buffer, 2), "01");
    // Nothing to read from: closed, write-only, not a file.
    ::close(fd);
    EXPECT_EQ(win32_file_handle(fd), INVALID_HANDLE_VALUE);
    EXPECT_EQ(win32_file_handle(-1), INVALID_HANDLE_VALUE);
    const int write_only = ::open((c() / "host.bin").c_str(), O_WRONLY);
    EXPECT_EQ(win32_file_handle(write_only), INVALID_HANDLE_VALUE);
    ::close(write_only);
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    EXPECT_EQ(win32_file_handle(pipe_ends[0]), INVALID_HANDLE_VALUE);
    ::close(pipe_ends[0]);
    ::close(pipe_ends[1]);
}

TEST_F(Win32Files, SeekPastFourGigabytesUsesHighPart) {
    HANDLE file = open_file("C:\\sparse.bin", GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LONG high = 1;
    EXPECT_EQ(SetFilePointer(file, 0x10, &high, FILE_BEGIN), 0x10u);
    EXPECT_EQ(high, 1);
    DWORD count = 0;
    ASSERT_TRUE(WriteFile(file, "z", 1, &count, nullptr));
    DWORD size_high = 0;
    EXPECT_EQ(GetFileSize(file, &size_high), 0x11u);
    EXPECT_EQ(size_high, 1u);

    // A negative high part moves back by whole 4 GB steps.
    high = -1;
    EXPECT_EQ(SetFilePointer(file, 0, &high, FILE_CURRENT), 0x11u);
    EXPECT_EQ(high, 0);
    // Without the high part a position past 4 GB cannot be reported.
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    CloseHandle(file);
}

TEST_F(Win32Files, CreationDispositions) {
    struct Case {
        DWORD disposition;
        bool exists;
        bool opens;
        DWORD error;
        std::optional<std::string> after;  // content afterwards; nullopt: no file
    } cases[] = {
        {CREATE_NEW, true, false, ERROR_FILE_EXISTS, "old"},
        {CREATE_NEW, false, true, ERROR_SUCCESS, ""},
        {CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS, ""},
        {CREATE_ALWAYS, false, true, ERROR_SUCCESS, ""},
        {OPEN_EXISTING, true, true, ERROR_SUCCESS, "old"},
        {OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND, std::nullopt},
        {OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS, "old"},
        {OPEN_ALWAYS, false, true, ERROR_SUCCESS, ""},
        {TRUNCATE_EXISTING, true, true, ERROR_SUCCESS, ""},
        {TRUNCATE_EXISTING, false, false, ERROR_FILE_NOT_FOUND, std::nullopt},
    };
    for (const Case& test : cases) {
        fs::remove(c() / "Target.txt");
        fs::remove(c() / "target.TXT");
        if (test.exists) write_file(c() / "Target.txt", "old");
        // An existing file is found ignoring case; a new one gets the given spelling.
        const fs::path host = c() / (test.exists ? "Target.txt" : "target.TXT");
        SetLastError(12345);
        HANDLE file = open_file("C:\\target.TXT", GENERIC_WRITE, 0, test.disposition);
        std::string label = "disposition " + std::to_string(test.disposition) +
                            (test.exists ? " existing" : " absent");
        EXPECT_EQ(file != INVALID_HANDLE_VALUE, test.opens) << label;
        EXPECT_EQ(GetLastError(), test.error) << label;
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        if (test.after)
            EXPECT_EQ(read_file(host), *test.after) << label;
        else
            EXPECT_FALSE(fs::exists(host)) << label;
        if (test.exists) {
            EXPECT_FALSE(fs::exists(c() / "target.TXT")) << label;
        }
    }
}

TEST_F(Win32Files, OpenErrors) {
    fs::create_directories(c() / "Folder");
    struct Case {
        const char* name;
        DWORD access;
        DWORD disposition;
        DWORD error;
    } cases[] = {
        {"C:\\NoSuchFolder\\file.txt", GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
        {"C:\\NoSuchFolder\\file.txt", GENERIC_WRITE, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
        {"C:\\folder", GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {"C:\\folder", GENERIC_WRITE, OPEN_ALWAYS, ERROR_ACCESS_DENIED},
        {"", GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
        {"C:\\x.txt", GENERIC_READ, 0, ERROR_INVALID_PARAMETER},
        {"C:\\x.txt", GENERIC_READ, TRUNCATE_EXISTING, ERROR_INVALID_PARAMETER},
    };
    for (const Case& test : cases) {
        HANDLE file = open_file(test.name, test.access, 0, test.disposition);
        EXPECT_EQ(file, INVALID_HANDLE_VALUE) << test.name;
        EXPECT_EQ(GetLastError(), test.error) << test.name;
    }
    EXPECT_EQ(open_file(nullptr, GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(fs::exists(c() / "x.txt"));
}

TEST_F(Win32Files, TransfersNeedTheirAccess) {
    write_file(c() / "ro.txt", "keep");
    HANDLE reader = open_file("C:\\ro.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              OPEN_EXISTING);
    HANDLE writer = open_file("C:\\ro.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              OPEN_EXISTING);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    char buffer[8];
    DWORD count = 99;
    EXPECT_FALSE(ReadFile(writer, buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(WriteFile(reader, "xx", 2, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(ReadFile(reader, buffer, sizeof buffer, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    CloseHandle(reader);
    CloseHandle(writer);
    EXPECT_EQ(read_file(c() / "ro.txt"), "keep");
}

TEST_F(Win32Files, ShareModesBetweenHandles) {
    constexpr DWORD R = GENERIC_READ, W = GENERIC_WRITE;
    constexpr DWORD SR = FILE_SHARE_READ, SW = FILE_SHARE_WRITE;
    struct Case {
        DWORD first_access, first_share;
        DWORD second_access, second_share, second_disposition;
        bool second_opens;
    } cases[] = {
        {R, SR, R, SR, OPEN_EXISTING, true},
        {R, SR, W, SR | SW, OPEN_EXISTING, false},      // first does not share writing
        {R, SR | SW, W, SR | SW, OPEN_EXISTING, true},
        {R, SR | SW, W, SW, OPEN_EXISTING, false},      // second does not share reading
        {W, 0, R, SR | SW, OPEN_EXISTING, false},
        {R | W, SR | SW, R | W, SR | SW, OPEN_ALWAYS, true},
        {0, 0, R | W, 0, OPEN_EXISTING, true},          // no access: nothing to clash with
        {R, SR, R, SR, CREATE_ALWAYS, false},           // truncating writes
    };
    for (const Case& test : cases) {
        write_file(c() / "Shared.dat", "content");
        HANDLE first = open_file("C:\\Shared.dat", test.first_access, test.first_share, OPEN_EXISTING);
        ASSERT_NE(first, INVALID_HANDLE_VALUE);
        // Another spelling of the same file is still the same file.
        HANDLE second = open_file("c:\\SHARED.DAT", test.second_access, test.second_share,
                                  test.second_disposition);
        std::string label = std::to_string(test.first_access) + "/" + std::to_string(test.first_share) +
                            " then " + std::to_string(test.second_access) + "/" +
                            std::to_string(test.second_share);
        EXPECT_EQ(second != INVALID_HANDLE_VALUE, test.second_opens) << label;
        if (second == INVALID_HANDLE_VALUE) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << label;
            EXPECT_EQ(read_file(c() / "Shared.dat"), "content") << label;
        } else {
            CloseHandle(second);
        }
        CloseHandle(first);
        // Closing the first handle lifts its restrictions.
        second = open_file("C:\\Shared.dat", test.second_access, test.second_share, OPEN_EXISTING);
        EXPECT_NE(second, INVALID_HANDLE_VALUE) << label;
        CloseHandle(second);
    }
}

TEST_F(Win32Files, DeleteFile) {
    write_file(c() / "Doomed.txt", "x");
    fs::create_directories(c() / "Folder");

    HANDLE open = open_file("C:\\Doomed.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    ASSERT_NE(open, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(DeleteFileA("C:\\doomed.TXT"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(fs::exists(c() / "Doomed.txt"));
    CloseHandle(open);

    open = open_file("C:\\Doomed.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING);
    EXPECT_TRUE(DeleteFileA("C:\\doomed.TXT"));
    EXPECT_FALSE(fs::exists(c() / "Doomed.txt"));
    CloseHandle(open);

    struct Case {
        const char* name;
        DWORD error;
    } cases[] = {
        {"C:\\Doomed.txt", ERROR_FILE_NOT_FOUND},
        {"C:\\NoFolder\\a.txt", ERROR_PATH_NOT_FOUND},
        {"C:\\Folder", ERROR_ACCESS_DENIED},
    };
    for (const Case& test : cases) {
        EXPECT_FALSE(DeleteFileA(test.name)) << test.name;
        EXPECT_EQ(GetLastError(), test.error) << test.name;
    }
    EXPECT_TRUE(fs::is_directory(c() / "Folder"));
}

TEST_F(Win32Files, StdioOnWindowsPaths) {
    fs::create_directories(c() / "Games");
    const std::string bytes("a\r\nb\0c\n", 7);
    FILE* out = win32_fopen("C:\\GAMES\\Out.bin", "wb");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), out), bytes.size());
    std::fclose(out);
    EXPECT_EQ(read_file(c() / "Games" / "Out.bin"), bytes);

    EXPECT_EQ(win32_file_size("c:\\games\\OUT.BIN"), 7);
    EXPECT_EQ(win32_file_size("C:\\Games\\absent.bin"), -1);
    EXPECT_EQ(win32_file_size("C:\\Games"), -1);
    EXPECT_EQ(win32_file_size(nullptr), -1);

    FILE* in = win32_fopen("c:\\games\\out.BIN", "rb");
    ASSERT_NE(in, nullptr);
    char buffer[16];
    EXPECT_EQ(std::fread(buffer, 1, sizeof buffer, in), bytes.size());
    std::fclose(in);
    EXPECT_EQ(std::string(buffer, bytes.size()), bytes);

    EXPECT_EQ(win32_fopen("C:\\Games", "rb"), nullptr);
    EXPECT_EQ(win32_fopen("C:\\Games\\absent.bin", "rb"), nullptr);
}

}  // namespace
