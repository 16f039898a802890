// File handles over host file descriptors, with Windows' sharing rules
// enforced among the handles of this process.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "handles.h"
#include "paths.h"
#include "win32/kernel.h"
#include "win32/kernel_ext.h"

namespace {

using win32::detail::error_from_errno;
using win32::detail::find_as;
using win32::detail::KernelObject;

constexpr DWORD kGenericAll = 0x10000000u;
constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;

struct FileObject;

// Every open file handle, for the sharing checks.
struct ShareTable {
    std::mutex mutex;
    std::vector<const FileObject*> open;
};

ShareTable& share_table() {
    static ShareTable* table = new ShareTable;  // file handles may close during exit
    return *table;
}

struct FileObject : KernelObject {
    FileObject(int descriptor, DWORD access_mask, DWORD share_mode)
        : fd(descriptor), access(access_mask), share(share_mode) {}
    ~FileObject() override {
        {
            auto& table = share_table();
            std::lock_guard lock(table.mutex);
            std::erase(table.open, this);
        }
        if (owns_fd) close(fd);
    }
    FileObject(const FileObject&) = delete;
    FileObject& operator=(const FileObject&) = delete;

    int fd;
    bool owns_fd = true;
    DWORD access;  // GENERIC_READ / GENERIC_WRITE
    DWORD share;   // FILE_SHARE_*
    dev_t device = 0;
    ino_t inode = 0;
};

// Whether a new open with `access` and `share` clashes with one that is
// already open on the same file: each side must allow what the other does.
bool clashes(const FileObject& open, DWORD access, DWORD share) {
    // A handle that neither reads nor writes takes part in no sharing.
    if (!(open.access & kReadWrite) || !(access & kReadWrite)) return false;
    if ((access & GENERIC_READ) && !(open.share & FILE_SHARE_READ)) return true;
    if ((access & GENERIC_WRITE) && !(open.share & FILE_SHARE_WRITE)) return true;
    if ((open.access & GENERIC_READ) && !(share & FILE_SHARE_READ)) return true;
    if ((open.access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) return true;
    return false;
}

bool fail(DWORD error) {
    SetLastError(error);
    return false;
}

HANDLE no_handle(DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

int open_flags(DWORD access) {
    int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;  // a FIFO must not hang the open
    if ((access & kReadWrite) == kReadWrite) return flags | O_RDWR;
    if (access & GENERIC_WRITE) return flags | O_WRONLY;
    return flags | O_RDONLY;
}

// Opens according to the disposition; `created` tells whether the file
// is new. -1 with errno set on failure.
int open_for(const std::string& path, DWORD disposition, int flags, bool& created) {
    created = false;
    switch (disposition) {
    case CREATE_NEW: {
        int fd = open(path.c_str(), flags | O_CREAT | O_EXCL, 0666);
        created = fd >= 0;
        return fd;
    }
    case OPEN_EXISTING:
    case TRUNCATE_EXISTING:
        return open(path.c_str(), flags);
    default:  // CREATE_ALWAYS, OPEN_ALWAYS
        // Two steps, so that we know whether the file was there; retried
        // when someone else creates or deletes it in between.
        for (int attempt = 0; attempt < 8; ++attempt) {
            int fd = open(path.c_str(), flags);
            if (fd >= 0 || errno != ENOENT) return fd;
            fd = open(path.c_str(), flags | O_CREAT | O_EXCL, 0666);
            if (fd >= 0) {
                created = true;
                return fd;
            }
            if (errno != EEXIST) return fd;
        }
        errno = EAGAIN;
        return -1;
    }
}

HANDLE create_file(LPCSTR name, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    if (!name) return no_handle(ERROR_INVALID_PARAMETER);
    if (!*name) return no_handle(ERROR_PATH_NOT_FOUND);
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING)
        return no_handle(ERROR_INVALID_PARAMETER);
    if (access & kGenericAll) access |= kReadWrite;
    access &= kReadWrite;
    if (disposition == TRUNCATE_EXISTING && !(access & GENERIC_WRITE))
        return no_handle(ERROR_INVALID_PARAMETER);

    std::string path = win32::host_path(name);
    bool created = false;
    int fd = open_for(path, disposition, open_flags(access), created);
    if (fd < 0) {
        DWORD error = errno == EAGAIN ? ERROR_SHARING_VIOLATION : error_from_errno(errno, path);
        return no_handle(error);
    }
    auto file = std::make_shared<FileObject>(fd, access, share);

    struct stat st;
    if (fstat(fd, &st) != 0) return no_handle(error_from_errno(errno));
    // Folders, devices and pipes are not files a handle here can serve.
    if (!S_ISREG(st.st_mode)) return no_handle(ERROR_ACCESS_DENIED);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    file->device = st.st_dev;
    file->inode = st.st_ino;

    bool existed = !created;
    bool truncate = existed && (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING);
    {
        auto& table = share_table();
        std::lock_guard lock(table.mutex);
        // Truncating writes to the file whatever access was asked for.
        DWORD effective = truncate ? access | GENERIC_WRITE : access;
        for (const FileObject* other : table.open) {
            if (other->device == file->device && other->inode == file->inode &&
                clashes(*other, effective, share))
                return no_handle(ERROR_SHARING_VIOLATION);
        }
        if (truncate && ftruncate(fd, 0) != 0)
            return no_handle(error_from_errno(errno));
        table.open.push_back(file.get());
    }

    if (flags & FILE_FLAG_SEQUENTIAL_SCAN) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    if (flags & FILE_FLAG_RANDOM_ACCESS) posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);

    HANDLE handle = win32::detail::add_handle(std::move(file));
    bool found_existing = existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS);
    SetLastError(found_existing ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

// Resolves the handle and checks the access a transfer needs.
std::shared_ptr<FileObject> file_for(HANDLE handle, DWORD needed, LPDWORD count,
                                     LPOVERLAPPED overlapped) {
    if (count) *count = 0;
    auto file = find_as<FileObject>(handle);
    if (!file) return nullptr;
    // Without overlapped I/O the count is the only way to learn how much
    // was transferred.
    if (overlapped || !count) {
        fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!(file->access & needed)) {
        fail(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return file;
}

struct Transfer {
    DWORD moved = 0;
    ssize_t last = 1;  // what stopped it short: 0, or -1 with errno set
};

// Repeats `step(moved, chunk)`, a read or write of at most `chunk` bytes
// after the first `moved`, until `count` bytes have moved, one moves
// nothing, or one fails; a signal only makes it try again.
template <typename Step>
Transfer transfer(DWORD count, Step step) {
    Transfer t;
    while (t.moved < count) {
        size_t chunk = std::min<size_t>(count - t.moved, SSIZE_MAX);
        ssize_t n = step(t.moved, chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            t.last = n;
            break;
        }
        t.moved += static_cast<DWORD>(n);
    }
    return t;
}

}  // namespace

extern "C" {

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE) {
    try {
        return create_file(lpFileName, dwDesiredAccess, dwShareMode, dwCreationDisposition,
                           dwFlagsAndAttributes);
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
    auto file = file_for(hFile, GENERIC_READ, lpNumberOfBytesRead, lpOverlapped);
    if (!file) return FALSE;
    if (!lpBuffer && nNumberOfBytesToRead) return fail(ERROR_INVALID_PARAMETER);
    auto* out = static_cast<char*>(lpBuffer);
    Transfer t = transfer(nNumberOfBytesToRead, [&](DWORD moved, size_t chunk) {
        return read(file->fd, out + moved, chunk);
    });
    *lpNumberOfBytesRead = t.moved;
    if (t.last < 0) return fail(errno == EIO ? ERROR_READ_FAULT : error_from_errno(errno));
    return TRUE;  // at the end of the file too, with what was read
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    auto file = file_for(hFile, GENERIC_WRITE, lpNumberOfBytesWritten, lpOverlapped);
    if (!file) return FALSE;
    if (!lpBuffer && nNumberOfBytesToWrite) return fail(ERROR_INVALID_PARAMETER);
    const auto* in = static_cast<const char*>(lpBuffer);
    Transfer t = transfer(nNumberOfBytesToWrite, [&](DWORD moved, size_t chunk) {
        return write(file->fd, in + moved, chunk);
    });
    *lpNumberOfBytesWritten = t.moved;
    if (t.last <= 0)
        return fail(t.last == 0 || errno == EIO ? ERROR_WRITE_FAULT : error_from_errno(errno));
    return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                            DWORD dwMoveMethod) {
    auto file = find_as<FileObject>(hFile);
    if (!file) return INVALID_SET_FILE_POINTER;

    int64_t distance = lDistanceToMove;
    if (lpDistanceToMoveHigh) {
        uint64_t bits = (static_cast<uint64_t>(static_cast<uint32_t>(*lpDistanceToMoveHigh)) << 32) |
                        static_cast<uint32_t>(lDistanceToMove);
        distance = static_cast<int64_t>(bits);
    }
    int64_t base = 0;
    switch (dwMoveMethod) {
    case FILE_BEGIN:
        break;
    case FILE_CURRENT:
        base = lseek(file->fd, 0, SEEK_CUR);
        break;
    case FILE_END: {
        struct stat st;
        base = fstat(file->fd, &st) == 0 ? st.st_size : -1;
        break;
    }
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (base < 0) {
        SetLastError(error_from_errno(errno));
        return INVALID_SET_FILE_POINTER;
    }
    int64_t target;
    if (__builtin_add_overflow(base, distance, &target)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (target < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    // Without the high part the caller could not see a position past 4 GB.
    if (!lpDistanceToMoveHigh && target > 0xFFFFFFFFll) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (lseek(file->fd, target, SEEK_SET) < 0) {
        SetLastError(error_from_errno(errno));
        return INVALID_SET_FILE_POINTER;
    }
    if (lpDistanceToMoveHigh) *lpDistanceToMoveHigh = static_cast<LONG>(target >> 32);
    // A low part of 0xFFFFFFFF is a valid position; the cleared error says so.
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(target);
}

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    auto file = find_as<FileObject>(hFile);
    if (!file) return INVALID_FILE_SIZE;
    struct stat st;
    if (fstat(file->fd, &st) != 0) {
        SetLastError(error_from_errno(errno));
        return INVALID_FILE_SIZE;
    }
    auto size = static_cast<uint64_t>(st.st_size);
    if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size);
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
    if (!lpFileName) return fail(ERROR_INVALID_PARAMETER);
    if (!*lpFileName) return fail(ERROR_PATH_NOT_FOUND);
    try {
        std::string path = win32::host_path(lpFileName);
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) return fail(error_from_errno(errno, path));
        if (S_ISDIR(st.st_mode)) return fail(ERROR_ACCESS_DENIED);

        auto& table = share_table();
        std::lock_guard lock(table.mutex);
        for (const FileObject* open : table.open) {
            if (open->device == st.st_dev && open->inode == st.st_ino &&
                !(open->share & FILE_SHARE_DELETE))
                return fail(ERROR_SHARING_VIOLATION);
        }
        if (unlink(path.c_str()) != 0) return fail(error_from_errno(errno, path));
        return TRUE;
    } catch (...) {
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    }
}

FILE* win32_fopen(const char* path, const char* mode) {
    if (!path || !mode) {
        errno = EINVAL;
        return nullptr;
    }
    try {
        std::string host = win32::host_path(path);
        FILE* file = std::fopen(host.c_str(), mode);
        if (!file) return nullptr;
        // A folder opens for reading on Linux, but is no file.
        struct stat st;
        if (fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode)) {
            std::fclose(file);
            errno = EISDIR;
            return nullptr;
        }
        return file;
    } catch (...) {
        errno = ENOMEM;
        return nullptr;
    }
}

HANDLE win32_file_handle(int descriptor) {
    if (descriptor < 0) return no_handle(ERROR_INVALID_HANDLE);
    const int flags = fcntl(descriptor, F_GETFL);
    if (flags < 0) return no_handle(ERROR_INVALID_HANDLE);
    if ((flags & O_ACCMODE) == O_WRONLY) return no_handle(ERROR_ACCESS_DENIED);
    struct stat st;
    if (fstat(descriptor, &st) != 0) return no_handle(error_from_errno(errno));
    if (!S_ISREG(st.st_mode)) return no_handle(ERROR_ACCESS_DENIED);
    try {
        // Shares everything: the owner may do with its file what it likes.
        auto file = std::make_shared<FileObject>(descriptor, GENERIC_READ,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
        file->owns_fd = false;
        file->device = st.st_dev;
        file->inode = st.st_ino;
        return win32::detail::add_handle(std::move(file));
    } catch (...) {
        return no_handle(ERROR_NOT_ENOUGH_MEMORY);
    }
}

long long win32_file_size(const char* path) {
    if (!path) return -1;
    try {
        struct stat st;
        if (stat(win32::host_path(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
        return st.st_size;
    } catch (...) {
        return -1;
    }
}

}  // extern "C"
