// Another process for the registry tests, working on HKEY_CURRENT_USER:
//   registry_child set KEY NAME TEXT    writes TEXT as REG_SZ
//   registry_child get KEY NAME         prints the REG_SZ value
//   registry_child loop KEY NAME PAD    writes "1:" PAD..., "2:" PAD..., ...
//                                       forever, printing each number once
//                                       its write has returned
// Exit status 0 on success, 1 on a registry error (printed), 2 on misuse.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "win32/kernel.h"

namespace {

int report(const char* what, LSTATUS status) {
    std::fprintf(stderr, "registry_child: %s failed with %ld\n", what, static_cast<long>(status));
    return 1;
}

LSTATUS set_text(HKEY key, const char* name, const std::string& text) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    const std::string command = argv[1];
    const char* subkey = argv[2];
    const char* name = argv[3];

    HKEY key = nullptr;
    LSTATUS status = command == "get"
                         ? RegOpenKeyExA(HKEY_CURRENT_USER, subkey, 0, KEY_READ, &key)
                         : RegCreateKeyExA(HKEY_CURRENT_USER, subkey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return report("open", status);

    if (command == "set" && argc == 5) {
        status = set_text(key, name, argv[4]);
        if (status != ERROR_SUCCESS) return report("set", status);
    } else if (command == "get" && argc == 4) {
        DWORD size = 0;
        DWORD type = 0;
        status = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
        if (status != ERROR_SUCCESS) return report("query", status);
        std::vector<BYTE> data(size + 1, 0);
        status = RegQueryValueExA(key, name, nullptr, &type, data.data(), &size);
        if (status != ERROR_SUCCESS) return report("query", status);
        std::fputs(reinterpret_cast<const char*>(data.data()), stdout);
    } else if (command == "loop" && argc == 5) {
        const std::string pad(std::strtoul(argv[4], nullptr, 10), '.');
        for (unsigned long n = 1;; ++n) {
            status = set_text(key, name, std::to_string(n) + ":" + pad);
            if (status != ERROR_SUCCESS) return report("set", status);
            std::printf("%lu\n", n);
            std::fflush(stdout);
        }
    } else {
        return 2;
    }
    RegCloseKey(key);
    return 0;
}
