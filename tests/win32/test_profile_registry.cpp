// The profile (WIN.INI) and the registry file of the kernel stand-in.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "file_text.h"
#include "scratch_dir.h"
#include "win32/kernel.h"

extern char** environ;

namespace fs = std::filesystem;
using testing_support::read_file;
using testing_support::ScratchDrive;
using testing_support::write_file;

namespace {

// ---- Profile -----------------------------------------------------------------

class Win32Profile : public ::testing::Test {
protected:
    void SetUp() override {
        write_file(drive_.windows() / "WIN.INI",
                   "; settings\r\n"
                   "[SONVEX]\r\n"
                   "  SONVEXDebug =  C:\\trace.log  \r\n"
                   "Reset=1\n"
                   "Quoted = \"  spaced  \"\n"
                   "Single='x'\n"
                   "Mismatched=\"abc'\n"
                   "Empty=\n"
                   ";Hidden=1\n"
                   "NoEquals\n"
                   "[ Other Section ]\n"
                   "Key=value\n"
                   "[Pair]\n"
                   "ab=1\n"
                   "cd=2\n"
                   "[Blank]\n");
    }

    // The result and the whole buffer, which starts as '#' everywhere.
    std::pair<DWORD, std::string> get(const char* section, const char* key, const char* def,
                                      DWORD size) {
        std::string buffer(64, '#');
        DWORD result = GetProfileStringA(section, key, def, buffer.data(), size);
        return {result, buffer};
    }

    // What a buffer of `size` bytes gets: the result, the bytes written,
    // and nothing touched after them.
    struct Cut {
        DWORD size;
        DWORD result;
        std::string written;
    };

    void expect_cuts(const char* section, const char* key, const char* def,
                     const std::vector<Cut>& cases) {
        for (const Cut& test : cases) {
            auto [result, buffer] = get(section, key, def, test.size);
            EXPECT_EQ(result, test.result) << "size " << test.size;
            EXPECT_EQ(buffer.substr(0, test.written.size()), test.written) << "size " << test.size;
            EXPECT_EQ(buffer.find_first_not_of('#', test.written.size()), std::string::npos)
                << "size " << test.size;
        }
    }

    ScratchDrive drive_;
};

TEST_F(Win32Profile, ValuesAndDefaults) {
    struct Case {
        const char* section;
        const char* key;
        const char* def;
        std::string expected;
    } cases[] = {
        {"SONVEX", "SONVEXDebug", "None", "C:\\trace.log"},
        {"sonvex", "sonvexdebug", "None", "C:\\trace.log"},
        {"SONVEX", "Reset", "None", "1"},
        {"SONVEX", "Quoted", "", "  spaced  "},
        {"SONVEX", "Single", "", "x"},
        {"SONVEX", "Mismatched", "", "\"abc'"},
        {"SONVEX", "Empty", "dflt", ""},
        {"SONVEX", "Hidden", "0", "0"},
        {"SONVEX", "NoEquals", "d", "d"},
        {"SONVEX", "Missing", "None  ", "None"},
        {"SONVEX", "Missing", nullptr, ""},
        {"Nowhere", "Reset", "d", "d"},
        {"other section", "KEY", "", "value"},
        {"Blank", nullptr, "empty", "empty"},
    };
    for (const Case& test : cases) {
        auto [result, buffer] = get(test.section, test.key, test.def, 64);
        EXPECT_EQ(result, test.expected.size()) << test.section << "/" << (test.key ? test.key : "-");
        EXPECT_EQ(buffer.substr(0, test.expected.size() + 1), test.expected + '\0')
            << test.section << "/" << (test.key ? test.key : "-");
    }
}

TEST_F(Win32Profile, MissingFileGivesDefault) {
    fs::remove(drive_.windows() / "WIN.INI");
    auto [result, buffer] = get("SONVEX", "Reset", "None", 64);
    EXPECT_EQ(result, 4u);
    EXPECT_EQ(buffer.substr(0, 5), std::string("None\0", 5));
}

TEST_F(Win32Profile, StringCutToBuffer) {
    // "C:\trace.log" is 12 characters.
    expect_cuts("SONVEX", "SONVEXDebug", "None",
                {
                    {0, 0, ""},
                    {1, 0, std::string("\0", 1)},
                    {12, 11, std::string("C:\\trace.lo\0", 12)},
                    {13, 12, std::string("C:\\trace.log\0", 13)},
                    {40, 12, std::string("C:\\trace.log\0", 13)},
                });
    // The default is cut the same way.
    auto [result, buffer] = get("SONVEX", "Missing", "Default", 4);
    EXPECT_EQ(result, 3u);
    EXPECT_EQ(buffer.substr(0, 5), std::string("Def\0#", 5));
}

TEST_F(Win32Profile, KeyAndSectionListsCutToBuffer) {
    // Keys of [Pair]: "ab\0cd\0\0" needs 7 bytes.
    expect_cuts("pair", nullptr, "unused",
                {
                    {0, 0, ""},
                    {1, 0, std::string("\0", 1)},
                    {2, 0, std::string("\0\0", 2)},
                    {3, 1, std::string("a\0\0", 3)},
                    {4, 2, std::string("ab\0\0", 4)},
                    {5, 3, std::string("ab\0\0\0", 5)},
                    {6, 4, std::string("ab\0c\0\0", 6)},
                    {7, 6, std::string("ab\0cd\0\0", 7)},
                    {20, 6, std::string("ab\0cd\0\0", 7)},
                });

    const std::string sections("SONVEX\0Other Section\0Pair\0Blank\0\0", 33);
    auto [result, buffer] = get(nullptr, "ignored", "unused", 64);
    EXPECT_EQ(result, sections.size() - 1);
    EXPECT_EQ(buffer.substr(0, sections.size()), sections);
}

// Each name once however long the list: 60,000 keys, every one twice in
// another case, are listed in linear time (once quadratic: seconds).
TEST_F(Win32Profile, LongListsNameEachKeyOnceQuickly) {
    std::string text = "[Big]\n";
    for (int i = 0; i < 60000; ++i) text += "Key" + std::to_string(i) + "=1\nKEY" + std::to_string(i) + "=2\n";
    write_file(drive_.windows() / "WIN.INI", text);
    std::string buffer(1 << 20, '#');
    const auto started = std::chrono::steady_clock::now();
    const DWORD length = GetProfileStringA("big", nullptr, "", buffer.data(), DWORD(buffer.size()));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    const std::string list = buffer.substr(0, length);
    EXPECT_EQ(std::count(list.begin(), list.end(), '\0'), 60000);
    EXPECT_EQ(list.substr(0, 10), std::string("Key0\0Key1\0", 10));
}

// ---- Registry ----------------------------------------------------------------

class Win32Registry : public ::testing::Test {
protected:
    fs::path store() const { return drive_.windows() / "REGISTRY.TXT"; }
    bool temporary_file_present() const {
        std::error_code ec;
        for (fs::directory_iterator it(drive_.windows(), ec), end; !ec && it != end; it.increment(ec)) {
            if (it->path().filename().string().starts_with("REGISTRY.TXT.")) return true;
        }
        return false;
    }

    static HKEY create(HKEY root, const char* path, DWORD* disposition = nullptr) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                  nullptr, &key, disposition),
                  ERROR_SUCCESS)
            << path;
        return key;
    }
    static LSTATUS set(HKEY key, const char* name, DWORD type, const std::string& data) {
        return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                              static_cast<DWORD>(data.size()));
    }
    // The value's type and bytes, or the failure.
    static LSTATUS query(HKEY key, const char* name, DWORD& type, std::string& data) {
        DWORD size = 0;
        LSTATUS status = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
        if (status != ERROR_SUCCESS) return status;
        data.assign(size, '\0');
        status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
        data.resize(size);
        return status;
    }
    static std::string text(HKEY root, const char* path, const char* name) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return "<no key>";
        DWORD type = 0;
        std::string data;
        LSTATUS status = query(key, name, type, data);
        RegCloseKey(key);
        if (status != ERROR_SUCCESS) return "<error " + std::to_string(status) + ">";
        return data.substr(0, data.find('\0'));
    }

    ScratchDrive drive_;
};

TEST_F(Win32Registry, ANewRegistryHasTheDesktopKey) {
    // Programs open it to set the wallpaper; every installation has it.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Control Panel\\desktop", 0, KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(Win32Registry, CreateSetQueryDelete) {
    DWORD disposition = 0;
    HKEY key = create(HKEY_CURRENT_USER, "Software\\Kelvora\\Menu", &disposition);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    RegCloseKey(create(HKEY_CURRENT_USER, "software\\KELVORA\\menu", &disposition));
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));

    const std::string wallpaper("C:\\x.bmp", 9);  // with its NUL
    ASSERT_EQ(set(key, "Wallpaper", REG_SZ, wallpaper), ERROR_SUCCESS);

    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExA(key, "WALLPAPER", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 9u);
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    size = 8;
    EXPECT_EQ(RegQueryValueExA(key, "Wallpaper", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 9u);
    EXPECT_EQ(buffer[0], '#');
    size = 9;
    ASSERT_EQ(RegQueryValueExA(key, "Wallpaper", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::string(buffer, 10), wallpaper + '#');

    EXPECT_EQ(RegQueryValueExA(key, "Absent", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueA(key, "wallpaper"), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(key, "Wallpaper", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueA(key, "Wallpaper"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(Win32Registry, KeyPathsAndRoots) {
    RegCloseKey(create(HKEY_CURRENT_USER, "Control Panel\\Desktop\\WindowMetrics"));
    struct Case {
        HKEY root;
        const char* path;
        LSTATUS status;
    } cases[] = {
        {HKEY_CURRENT_USER, "Control Panel\\Desktop\\WindowMetrics", ERROR_SUCCESS},
        {HKEY_CURRENT_USER, "\\control panel\\DESKTOP", ERROR_SUCCESS},
        {HKEY_CURRENT_USER, "Control Panel", ERROR_SUCCESS},
        {HKEY_CURRENT_USER, "", ERROR_SUCCESS},
        {HKEY_CURRENT_USER, "Control Panel\\Colors", ERROR_FILE_NOT_FOUND},
        {HKEY_LOCAL_MACHINE, "Control Panel", ERROR_FILE_NOT_FOUND},
        {HKEY_USERS, "Control Panel", ERROR_FILE_NOT_FOUND},
        {HKEY_CLASSES_ROOT, "Control Panel", ERROR_FILE_NOT_FOUND},
        {reinterpret_cast<HKEY>(0x1234), "Control Panel", ERROR_INVALID_HANDLE},
        {nullptr, "Control Panel", ERROR_INVALID_HANDLE},
    };
    for (const Case& test : cases) {
        HKEY key = reinterpret_cast<HKEY>(1);
        EXPECT_EQ(RegOpenKeyExA(test.root, test.path, 0, KEY_READ, &key), test.status) << test.path;
        if (test.status == ERROR_SUCCESS)
            RegCloseKey(key);
        else
            EXPECT_EQ(key, nullptr) << test.path;
    }

    // A subkey opened relative to an opened key.
    HKEY panel = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Control Panel", 0, KEY_ALL_ACCESS, &panel), ERROR_SUCCESS);
    HKEY metrics = create(panel, "desktop\\windowmetrics");
    ASSERT_EQ(set(metrics, "StatusFont", REG_BINARY, std::string("\x0b\0\xff", 3)), ERROR_SUCCESS);
    EXPECT_EQ(text(HKEY_CURRENT_USER, "Control Panel\\Desktop\\WindowMetrics", "statusfont"), "\x0b");
    RegCloseKey(metrics);
    RegCloseKey(panel);
}

TEST_F(Win32Registry, DefaultValueAndAccess) {
    HKEY key = create(HKEY_LOCAL_MACHINE, "Software\\Kelvora");
    ASSERT_EQ(set(key, nullptr, REG_SZ, std::string("dflt", 5)), ERROR_SUCCESS);
    EXPECT_EQ(text(HKEY_LOCAL_MACHINE, "Software\\Kelvora", ""), "dflt");
    ASSERT_EQ(set(key, "", REG_SZ, std::string("new", 4)), ERROR_SUCCESS);
    EXPECT_EQ(text(HKEY_LOCAL_MACHINE, "Software\\Kelvora", nullptr), "new");
    RegCloseKey(key);

    HKEY reader = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Kelvora", 0, KEY_READ, &reader), ERROR_SUCCESS);
    EXPECT_EQ(set(reader, "x", REG_SZ, std::string("1", 2)), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueA(reader, ""), ERROR_ACCESS_DENIED);
    EXPECT_EQ(text(HKEY_LOCAL_MACHINE, "Software\\Kelvora", nullptr), "new");
    EXPECT_EQ(RegCloseKey(reader), ERROR_SUCCESS);
}

TEST_F(Win32Registry, HandlesThatAreNotKeys) {
    HKEY key = create(HKEY_CURRENT_USER, "Software");
    ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "x", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);

    write_file(drive_.path() / "file.txt", "x");
    HANDLE file = CreateFileA((drive_.str() + "/file.txt").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    auto* not_a_key = static_cast<HKEY>(file);
    EXPECT_EQ(set(not_a_key, "x", REG_SZ, "1"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(not_a_key), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(CloseHandle(file));  // still open: RegCloseKey left it alone
    EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
}

TEST_F(Win32Registry, AnyBytesRoundTripThroughTheFile) {
    std::string all_bytes;
    for (int b = 0; b < 256; ++b) all_bytes += static_cast<char>(b);
    struct Case {
        std::string key;  // under HKEY_CURRENT_USER
        std::string name;
        DWORD type;
        std::string data;
    } cases[] = {
        {"Odd\\Names", "line\nbreak \"quoted\" \\ tab\t\x7f\xe4\xb8\xad", REG_SZ, std::string("v\0w\n\0", 5)},
        {"Odd\\Names", "binary", REG_BINARY, all_bytes},
        {"Odd\\Names", "empty binary", REG_BINARY, ""},
        {"Odd\\Names", "dword", REG_DWORD, std::string("\x2a\0\0\x80", 4)},
        {"Odd\\Names", "short dword", REG_DWORD, std::string("\x01\x02", 2)},
        {"Odd\\Names", "unterminated", REG_SZ, "abc"},
        {"Odd\\Names", "empty sz", REG_SZ, ""},
        {"Odd\\Names", "expand", REG_EXPAND_SZ, std::string("%windir%\0", 9)},
        {"Odd\\Names", "other type", 7, std::string("a\0b\0\0", 5)},
        {"key \"x\"\nnewline\\sub]", "= sz \"y\"", REG_SZ, std::string("z\0", 2)},
    };
    for (const Case& test : cases) {
        HKEY key = create(HKEY_CURRENT_USER, test.key.c_str());
        ASSERT_EQ(set(key, test.name.c_str(), test.type, test.data), ERROR_SUCCESS) << test.name;
        RegCloseKey(key);
    }
    for (const Case& test : cases) {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, test.key.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
        DWORD type = 0;
        std::string data;
        ASSERT_EQ(query(key, test.name.c_str(), type, data), ERROR_SUCCESS) << test.name;
        EXPECT_EQ(type, test.type) << test.name;
        EXPECT_EQ(data, test.data) << test.name;
        RegCloseKey(key);
    }
    // Readable text: no raw NUL or control bytes other than line ends.
    std::string file = read_file(store());
    for (char c : file) EXPECT_TRUE(static_cast<unsigned char>(c) >= 0x20 || c == '\n') << int(c);
}

TEST_F(Win32Registry, LeftoverTemporaryFilesAreIgnored) {
    HKEY key = create(HKEY_CURRENT_USER, "Software\\Kelvora");
    ASSERT_EQ(set(key, "kept", REG_SZ, std::string("yes", 4)), ERROR_SUCCESS);
    write_file(drive_.windows() / "REGISTRY.TXT.tmp-a1b2c3", "garbage that does not parse\n");
    EXPECT_EQ(text(HKEY_CURRENT_USER, "Software\\Kelvora", "kept"), "yes");
    ASSERT_EQ(set(key, "more", REG_SZ, std::string("1", 2)), ERROR_SUCCESS);
    EXPECT_EQ(text(HKEY_CURRENT_USER, "Software\\Kelvora", "kept"), "yes");
    RegCloseKey(key);
}

// A damaged file is refused by every call and never rewritten.
TEST_F(Win32Registry, DamagedFileGivesBadDbAndStaysUnchanged) {
    const std::string deep = [] {
        std::string line = "key HKEY_CURRENT_USER";
        for (int i = 0; i < 5000; ++i) line += " \"k\"";
        return "win32-registry 1\n" + line + "\n";
    }();
    const std::string cases[] = {
        "not a registry\n",
        "win32-registry 1\nkey HKEY_CURRENT_USER \"unterminated\n",
        "win32-registry 1\n  \"value before key\" = sz \"x\"\n",
        "win32-registry 1\nkey HKEY_NOWHERE \"a\"\n",
        "win32-registry 1\nkey HKEY_CURRENT_USER \"a\"\n  \"v\" = binary 0g\n",
        "win32-registry 1\nkey HKEY_CURRENT_USER \"a\"\n  \"v\" = sz \"bad \\q escape\"\n",
        "win32-registry 1\nkey HKEY_CURRENT_USER \"a\"\n  \"v\" = dword 0x100000000\n",
        "win32-registry 1\nkey HKEY_CURRENT_USER \"a\"\n  \"v\" = sz \"x\" trailing\n",
        std::string("\x00\xff\x13 binary junk", 15),
        deep,
    };
    for (const std::string& damaged : cases) {
        write_file(store(), damaged);
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "a", 0, KEY_READ, &key), ERROR_BADDB);
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "b", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr),
                  ERROR_BADDB);
        EXPECT_EQ(set(HKEY_CURRENT_USER, "v", REG_SZ, "x"), ERROR_BADDB);
        DWORD size = 0;
        EXPECT_EQ(RegQueryValueExA(HKEY_CURRENT_USER, "v", nullptr, nullptr, nullptr, &size), ERROR_BADDB);
        EXPECT_EQ(RegDeleteValueA(HKEY_CURRENT_USER, "v"), ERROR_BADDB);
        EXPECT_EQ(read_file(store()), damaged) << damaged.substr(0, 60);
    }

    write_file(store(), "still not a registry\n");
    testing::internal::CaptureStderr();
    DWORD size = 0;
    RegQueryValueExA(HKEY_CURRENT_USER, "v", nullptr, nullptr, nullptr, &size);
    RegQueryValueExA(HKEY_CURRENT_USER, "v", nullptr, nullptr, nullptr, &size);
    std::string message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find("REGISTRY.TXT"), std::string::npos) << message;
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
}

// ---- Other processes ---------------------------------------------------------

struct Child {
    pid_t pid = -1;
    FILE* out = nullptr;  // the child's standard output
};

// Starts registry_child with our environment, so it shares WIN32_ROOT.
Child start_child(const std::vector<std::string>& args) {
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
    std::vector<std::string> all = {REGISTRY_CHILD};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);
    Child child;
    if (posix_spawn(&child.pid, REGISTRY_CHILD, &actions, nullptr, argv.data(), environ) != 0)
        child.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_fds[1]);
    child.out = fdopen(pipe_fds[0], "r");
    return child;
}

std::string read_line(FILE* in) {
    std::string line;
    for (int c; (c = std::fgetc(in)) != EOF && c != '\n';) line += static_cast<char>(c);
    return line;
}

int finish(Child& child) {
    int status = -1;
    waitpid(child.pid, &status, 0);
    std::fclose(child.out);
    return status;
}

// Runs registry_child to the end: its exit code and output.
std::pair<int, std::string> run_child(const std::vector<std::string>& args) {
    Child child = start_child(args);
    EXPECT_GT(child.pid, 0);
    if (child.pid <= 0) return {-1, ""};
    std::string output;
    for (int c; (c = std::fgetc(child.out)) != EOF;) output += static_cast<char>(c);
    int status = finish(child);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

// A file of 20,000 sibling keys and 20,000 values in one key is read in
// linear time (it once took minutes), and an unchanged file is not parsed
// again on every call; a change, by this process or another, is still seen.
TEST_F(Win32Registry, LargeFileReadsQuicklyAndOnlyAgainWhenItChanges) {
    std::string file = "win32-registry 1\n";
    for (int i = 0; i < 20000; ++i) file += "key HKEY_CURRENT_USER \"Big\" \"k" + std::to_string(i) + "\"\n";
    file += "key HKEY_CURRENT_USER \"Values\"\n";
    for (int i = 0; i < 20000; ++i) file += "  \"v" + std::to_string(i) + "\" = dword 0x00000001\n";
    write_file(store(), file);
    // Old enough that its times cannot be shared with a later change.
    const auto an_hour_ago = fs::file_time_type::clock::now() - std::chrono::hours(1);
    fs::last_write_time(store(), an_hour_ago);

    using Clock = std::chrono::steady_clock;
    auto started = Clock::now();
    EXPECT_EQ(text(HKEY_CURRENT_USER, "Big\\K19999", ""), "<error 2>");
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(10));

    started = Clock::now();
    for (int i = 0; i < 300; ++i) {
        DWORD type = 0;
        std::string data;
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Values", 0, KEY_READ, &key), ERROR_SUCCESS);
        ASSERT_EQ(query(key, ("V" + std::to_string(i * 66)).c_str(), type, data), ERROR_SUCCESS);
        EXPECT_EQ(type, DWORD(REG_DWORD));
        RegCloseKey(key);
    }
    // 600 parses would take far longer than 600 lookups.
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(5));

    HKEY key = create(HKEY_CURRENT_USER, "Big\\k7");
    ASSERT_EQ(set(key, "mine", REG_SZ, std::string("1", 2)), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(text(HKEY_CURRENT_USER, "Big\\k7", "mine"), "1");
    HKEY values = create(HKEY_CURRENT_USER, "Values");
    EXPECT_EQ(RegDeleteValueA(values, "V5"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(values, "v5"), ERROR_FILE_NOT_FOUND);
    RegCloseKey(values);
    fs::last_write_time(store(), an_hour_ago);
    EXPECT_EQ(text(HKEY_CURRENT_USER, "Values", "v5"), "<error 2>");
    EXPECT_EQ(text(HKEY_CURRENT_USER, "Values", "v6"), std::string("\x01", 1));
    EXPECT_EQ(text(HKEY_CURRENT_USER, "Values", "v19999"), std::string("\x01", 1));
    EXPECT_EQ(run_child({"set", "Big\\k8", "theirs", "2"}).first, 0);
    EXPECT_EQ(text(HKEY_CURRENT_USER, "Big\\k8", "theirs"), "2");
    EXPECT_EQ(text(HKEY_CURRENT_USER, "Big\\k7", "mine"), "1");
}

TEST_F(Win32Registry, ValueWrittenByOneProcessIsReadByTheNext) {
    EXPECT_EQ(run_child({"set", "Software\\Kelvora\\Shared", "Greeting", "hello from a child"}).first, 0);
    EXPECT_EQ(run_child({"get", "software\\kelvora\\shared", "GREETING"}),
              std::make_pair(0, std::string("hello from a child")));
    EXPECT_EQ(text(HKEY_CURRENT_USER, "Software\\Kelvora\\Shared", "Greeting"), "hello from a child");

    // And back: this process writes, a child reads.
    HKEY key = create(HKEY_CURRENT_USER, "Software\\Kelvora\\Shared");
    ASSERT_EQ(set(key, "Reply", REG_SZ, std::string("from the parent", 16)), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(run_child({"get", "Software\\Kelvora\\Shared", "Reply"}),
              std::make_pair(0, std::string("from the parent")));
    EXPECT_EQ(run_child({"get", "Software\\Kelvora\\Shared", "Absent"}).first, 1);
}

TEST_F(Win32Registry, WriterKilledMidWriteLeavesAWholeFile) {
    HKEY keep = create(HKEY_CURRENT_USER, "Software\\Kelvora\\Keep");
    ASSERT_EQ(set(keep, "Stay", REG_SZ, std::string("put", 4)), ERROR_SUCCESS);
    RegCloseKey(keep);

    for (int round = 0; round < 8; ++round) {
        // A large value makes each write take long enough to be hit.
        Child child = start_child({"loop", "Software\\Kelvora\\Counter", "Value", "200000"});
        ASSERT_GT(child.pid, 0);
        unsigned long last = 0;
        // After a few completed writes, kill either while the next write's
        // temporary file exists (or the registry file looks cut short, which
        // it never may) or after a different delay each round.
        for (int seen = 0; seen < 2 + round % 3; ++seen) last = std::stoul("0" + read_line(child.out));
        if (round % 2 == 0) {
            auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            std::error_code ec;
            while (!temporary_file_present() && fs::file_size(store(), ec) > 200000 &&
                   std::chrono::steady_clock::now() < give_up) {
            }
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(300 * round));
        }
        kill(child.pid, SIGKILL);
        for (std::string line; !(line = read_line(child.out)).empty();) last = std::stoul(line);
        int status = finish(child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "round " << round;
        ASSERT_GT(last, 0u) << "round " << round;

        // The file parses and holds the last write reported or the one after.
        std::string value = text(HKEY_CURRENT_USER, "Software\\Kelvora\\Counter", "Value");
        std::string number = value.substr(0, value.find(':'));
        ASSERT_FALSE(number.empty() || number.find_first_not_of("0123456789") != std::string::npos)
            << "round " << round << ": " << value.substr(0, 40);
        unsigned long found = std::stoul(number);
        EXPECT_TRUE(found == last || found == last + 1) << "round " << round << ": " << found
                                                        << " after " << last;
        EXPECT_EQ(value.size(), number.size() + 1 + 200000) << "round " << round;
        EXPECT_EQ(text(HKEY_CURRENT_USER, "Software\\Kelvora\\Keep", "Stay"), "put") << "round " << round;
    }
}

// Each writer's change survives the other's: the read, change and write
// of one process do not interleave with another's.
TEST_F(Win32Registry, ConcurrentWritersLoseNothing) {
    Child first = start_child({"loop", "Software\\Kelvora\\Busy", "First", "2000"});
    Child second = start_child({"loop", "Software\\Kelvora\\Busy", "Second", "2000"});
    ASSERT_GT(first.pid, 0);
    ASSERT_GT(second.pid, 0);
    unsigned long last_first = 0, last_second = 0;
    for (int i = 0; i < 40; ++i) {
        last_first = std::stoul("0" + read_line(first.out));
        last_second = std::stoul("0" + read_line(second.out));
    }
    kill(first.pid, SIGKILL);
    kill(second.pid, SIGKILL);
    for (std::string line; !(line = read_line(first.out)).empty();) last_first = std::stoul(line);
    for (std::string line; !(line = read_line(second.out)).empty();) last_second = std::stoul(line);
    finish(first);
    finish(second);
    ASSERT_GE(last_first, 40u);
    ASSERT_GE(last_second, 40u);

    for (auto [name, last] : {std::pair{"First", last_first}, std::pair{"Second", last_second}}) {
        std::string value = text(HKEY_CURRENT_USER, "Software\\Kelvora\\Busy", name);
        unsigned long found = std::stoul("0" + value.substr(0, value.find(':')));
        EXPECT_TRUE(found == last || found == last + 1) << name << ": " << found << " after " << last;
    }
}

}  // namespace
