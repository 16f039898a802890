#include <cstdio>
#include <mutex>
#include <set>
#include <string>

#include "win32/kernel_ext.h"

namespace win32 {

void warn_bad_setting(const char* variable, const char* value, const char* accepted) {
    static auto* mutex = new std::mutex;
    static auto* told = new std::set<std::string>;
    std::lock_guard lock(*mutex);
    if (!told->insert(variable).second) return;
    std::fprintf(stderr, "win32: %s=\"%s\" cannot be read and is not used; it takes %s\n",
                 variable, value, accepted);
}

}  // namespace win32
