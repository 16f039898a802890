// Process start: the named file only, never a search of PATH, and no wait.
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdarg>
#include <string>
#include <thread>
#include <vector>

#include "win32/kernel.h"
#include "win32/kernel_ext.h"

extern char** environ;

extern "C" intptr_t _spawnl(int mode, const char* path, const char* arg0, ...) {
    if (!path || mode != _P_NOWAIT) {
        errno = EINVAL;
        return -1;
    }
    try {
        std::vector<std::string> args;
        va_list list;
        va_start(list, arg0);
        for (const char* arg = arg0; arg; arg = va_arg(list, const char*)) args.emplace_back(arg);
        va_end(list);

        std::string host = win32::host_path(path);
        // A bare name means the current folder; posix_spawn never looks in PATH.
        if (host.find('/') == std::string::npos) host = "./" + host;

        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);

        pid_t pid = 0;
        int error = posix_spawn(&pid, host.c_str(), nullptr, nullptr, argv.data(), environ);
        if (error != 0) {
            errno = error;
            return -1;
        }
        // Nobody waits for the child; reap it so it does not linger as a zombie.
        std::thread([pid] {
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
        return pid;
    } catch (const std::exception&) {
        errno = ENOMEM;
        return -1;
    }
}
