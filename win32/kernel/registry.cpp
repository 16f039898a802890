// The registry, kept in REGISTRY.TXT in the Windows folder.
//
// Every call sees the file as it is now, so another process's changes
// are seen; an unchanged file is not parsed again. A change takes REGISTRY.LCK (flock) for the whole read, change
// and write, writes a temporary file beside the registry, syncs it and
// renames it over the old one: a writer killed at any moment leaves the
// old file or the new one, never half of one. A file that does not parse
// is reported and left alone.
//
// Format (text; names and strings are quoted with C-like escapes, so any
// byte round-trips):
//
//   win32-registry 1
//   key HKEY_CURRENT_USER "Control Panel" "desktop"
//     "Wallpaper" = sz "C:\\WINDOWS\\990401.bmp"
//     "Count" = dword 0x0000002a
//     "StatusFont" = binary 0b 00 ff
//     "Odd" = raw 7 41 00
//
// "sz" and "expand_sz" imply the terminating NUL; data of any other shape
// is written as "raw <type>" and hex bytes. Blank lines and lines starting
// with ';' are ignored.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "handles.h"
#include "paths.h"
#include "registry_text.h"
#include "win32/kernel.h"
#include "win32/kernel_ext.h"

namespace {

using win32::detail::ascii_lower;

constexpr const char* kHeader = "win32-registry 1";
// Temporary files are "<registry file>.tmp-XXXXXX".
constexpr const char* kTempInfix = ".tmp-";
constexpr const char* kRootNames[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                      "HKEY_LOCAL_MACHINE", "HKEY_USERS"};
constexpr int kRootCount = 4;
constexpr size_t kMaxKeyNameLength = 255;
// Windows' limit; it also bounds the recursion over a hostile file.
constexpr size_t kMaxKeyDepth = 512;

// ---- The tree --------------------------------------------------------------

struct Value {
    std::string name;
    DWORD type = REG_NONE;
    std::string data;
};

// Names are found through an index by their lower-case form, so that a
// file of many siblings parses in linear time.
struct Key {
    std::string name;
    std::vector<Key> subkeys;  // in file order
    std::vector<Value> values;
    std::unordered_map<std::string, size_t> subkey_index;
    std::unordered_map<std::string, size_t> value_index;

    Key* subkey(std::string_view wanted) {
        auto found = subkey_index.find(ascii_lower(wanted));
        return found == subkey_index.end() ? nullptr : &subkeys[found->second];
    }
    const Key* subkey(std::string_view wanted) const { return const_cast<Key*>(this)->subkey(wanted); }
    Key& add_subkey(std::string name) {
        subkey_index.emplace(ascii_lower(name), subkeys.size());
        subkeys.push_back(Key{std::move(name), {}, {}, {}, {}});
        return subkeys.back();
    }
    Value* value(std::string_view wanted) {
        auto found = value_index.find(ascii_lower(wanted));
        return found == value_index.end() ? nullptr : &values[found->second];
    }
    const Value* value(std::string_view wanted) const { return const_cast<Key*>(this)->value(wanted); }
    // Replaces the value of the same name, or adds it; whether anything changed.
    bool set_value(Value v) {
        if (Value* old = value(v.name)) {
            const bool changed = old->type != v.type || old->data != v.data;
            old->type = v.type;
            old->data = std::move(v.data);
            return changed;
        }
        value_index.emplace(ascii_lower(v.name), values.size());
        values.push_back(std::move(v));
        return true;
    }
    bool erase_value(std::string_view wanted) {
        auto found = value_index.find(ascii_lower(wanted));
        if (found == value_index.end()) return false;
        const size_t at = found->second;
        values.erase(values.begin() + static_cast<std::ptrdiff_t>(at));
        value_index.erase(found);
        for (auto& entry : value_index)
            if (entry.second > at) --entry.second;
        return true;
    }
};

struct Store {
    Key roots[kRootCount];
};

using KeyPath = std::vector<std::string>;

const Key* find_key(const Store& store, int root, const KeyPath& path) {
    const Key* key = &store.roots[root];
    for (const std::string& part : path) {
        key = key->subkey(part);
        if (!key) return nullptr;
    }
    return key;
}

Key* find_key(Store& store, int root, const KeyPath& path) {
    return const_cast<Key*>(find_key(std::as_const(store), root, path));
}

Key& create_key(Store& store, int root, const KeyPath& path, bool& created) {
    created = false;
    Key* key = &store.roots[root];
    for (const std::string& part : path) {
        Key* next = key->subkey(part);
        if (!next) {
            next = &key->add_subkey(part);
            created = true;
        }
        key = next;
    }
    return *key;
}

// ---- Text form ---------------------------------------------------------------

// Escapes of quoted text other than \xHH: one table, so that what is
// written is what is read back.
struct Escape {
    char raw;
    char letter;  // after the backslash
};
constexpr Escape kEscapes[] = {{'\\', '\\'}, {'"', '"'}, {'\n', 'n'}, {'\r', 'r'}, {'\t', 't'}};

void put_quoted(std::string& out, std::string_view text) {
    static const char digits[] = "0123456789abcdef";
    out += '"';
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        const Escape* escape = std::ranges::find(kEscapes, c, &Escape::raw);
        if (escape != std::end(kEscapes)) {
            out += '\\';
            out += escape->letter;
        } else if (byte < 0x20 || byte == 0x7f) {
            out += "\\x";
            out += digits[byte >> 4];
            out += digits[byte & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

void put_hex(std::string& out, std::string_view data) {
    char byte[4];
    for (char c : data) {
        std::snprintf(byte, sizeof byte, " %02x", static_cast<unsigned char>(c));
        out += byte;
    }
}

void put_value(std::string& out, const Value& v) {
    out += "  ";
    put_quoted(out, v.name);
    out += " = ";
    bool terminated = !v.data.empty() && v.data.back() == '\0';
    if ((v.type == REG_SZ || v.type == REG_EXPAND_SZ) && terminated) {
        out += v.type == REG_SZ ? "sz " : "expand_sz ";
        put_quoted(out, std::string_view(v.data).substr(0, v.data.size() - 1));
    } else if (v.type == REG_DWORD && v.data.size() == 4) {
        uint32_t number = 0;
        for (int i = 3; i >= 0; --i) number = (number << 8) | static_cast<unsigned char>(v.data[i]);
        char text[24];
        std::snprintf(text, sizeof text, "dword 0x%08x", number);
        out += text;
    } else if (v.type == REG_BINARY) {
        out += "binary";
        put_hex(out, v.data);
    } else {
        out += "raw " + std::to_string(v.type);
        put_hex(out, v.data);
    }
    out += '\n';
}

void put_key(std::string& out, const Key& key, std::vector<const Key*>& path, int root) {
    // Roots always exist; their line is only needed for their own values.
    if (!path.empty() || !key.values.empty()) {
        out += "key ";
        out += kRootNames[root];
        for (const Key* k : path) {
            out += ' ';
            put_quoted(out, k->name);
        }
        out += '\n';
        for (const Value& v : key.values) put_value(out, v);
    }
    for (const Key& sub : key.subkeys) {
        path.push_back(&sub);
        put_key(out, sub, path, root);
        path.pop_back();
    }
}

std::string serialize(const Store& store) {
    std::string out = kHeader;
    out += "\n; Registry of the Windows stand-in. Written whole on every change.\n";
    for (int root = 0; root < kRootCount; ++root) {
        std::vector<const Key*> path;
        put_key(out, store.roots[root], path, root);
    }
    return out;
}

// Reads one line's tokens; every failure leaves `ok` false.
class Line {
public:
    explicit Line(std::string_view text) : text_(text) {}

    bool at_end() {
        skip_blanks();
        return pos_ == text_.size();
    }
    std::string_view word() {
        skip_blanks();
        size_t start = pos_;
        while (pos_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[pos_])) ||
                                       text_[pos_] == '_'))
            ++pos_;
        return text_.substr(start, pos_ - start);
    }
    bool literal(char c) {
        skip_blanks();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    bool next_is_quote() {
        skip_blanks();
        return pos_ < text_.size() && text_[pos_] == '"';
    }
    std::optional<std::string> quoted() {
        if (!literal('"')) return std::nullopt;
        std::string out;
        while (pos_ < text_.size()) {
            char c = text_[pos_++];
            if (c == '"') return out;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= text_.size()) return std::nullopt;
            char e = text_[pos_++];
            const Escape* escape = std::ranges::find(kEscapes, e, &Escape::letter);
            if (escape != std::end(kEscapes)) {
                out += escape->raw;
            } else if (e == 'x') {
                int high = pos_ < text_.size() ? hex_digit(text_[pos_]) : -1;
                int low = pos_ + 1 < text_.size() ? hex_digit(text_[pos_ + 1]) : -1;
                if (high < 0 || low < 0) return std::nullopt;
                out += static_cast<char>(high * 16 + low);
                pos_ += 2;
            } else {
                return std::nullopt;
            }
        }
        return std::nullopt;  // no closing quote
    }
    // Hex bytes up to the end of the line.
    std::optional<std::string> hex_bytes() {
        std::string out;
        while (!at_end()) {
            std::string_view token = word();
            if (token.size() != 2) return std::nullopt;
            int high = hex_digit(token[0]);
            int low = hex_digit(token[1]);
            if (high < 0 || low < 0) return std::nullopt;
            out += static_cast<char>(high * 16 + low);
        }
        return out;
    }
    std::optional<uint32_t> number(int base) {
        std::string_view digits = word();
        if (base == 16) {
            if (digits.size() < 3 || digits[0] != '0' || (digits[1] != 'x' && digits[1] != 'X'))
                return std::nullopt;
            digits.remove_prefix(2);
        }
        if (digits.empty() || digits.size() > 10) return std::nullopt;
        uint64_t value = 0;
        for (char c : digits) {
            int d = hex_digit(c);
            if (d < 0 || d >= base) return std::nullopt;
            value = value * base + d;
        }
        if (value > 0xFFFFFFFFu) return std::nullopt;
        return static_cast<uint32_t>(value);
    }

private:
    static int hex_digit(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }
    void skip_blanks() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\r'))
            ++pos_;
    }

    std::string_view text_;
    size_t pos_ = 0;
};

std::optional<Value> parse_value(Line& line) {
    Value v;
    auto name = line.quoted();
    if (!name || !line.literal('=')) return std::nullopt;
    v.name = std::move(*name);
    std::string_view kind = line.word();
    std::optional<std::string> data;
    if (kind == "sz" || kind == "expand_sz") {
        v.type = kind == "sz" ? REG_SZ : REG_EXPAND_SZ;
        data = line.quoted();
        if (data) *data += '\0';
    } else if (kind == "dword") {
        v.type = REG_DWORD;
        if (auto number = line.number(16)) {
            data = std::string(4, '\0');
            for (int i = 0; i < 4; ++i) (*data)[i] = static_cast<char>((*number >> (8 * i)) & 0xFF);
        }
    } else if (kind == "binary") {
        v.type = REG_BINARY;
        data = line.hex_bytes();
    } else if (kind == "raw") {
        auto type = line.number(10);
        if (!type) return std::nullopt;
        v.type = *type;
        data = line.hex_bytes();
    }
    if (!data || !line.at_end()) return std::nullopt;
    v.data = std::move(*data);
    return v;
}

// The store, or the number of the first line that does not parse.
struct Parsed {
    std::optional<Store> store;
    size_t bad_line = 0;
};

Parsed parse(const std::string& text) {
    Store store;
    Key* current = nullptr;
    size_t number = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        Line line(std::string_view(text).substr(pos, end - pos));
        pos = end + 1;
        ++number;

        auto fail = [&] { return Parsed{std::nullopt, number}; };
        if (number == 1) {
            std::string_view header = std::string_view(text).substr(0, end);
            if (!header.empty() && header.back() == '\r') header.remove_suffix(1);
            if (header != kHeader) return fail();
            continue;
        }
        if (line.at_end() || line.literal(';')) continue;
        if (line.next_is_quote()) {
            auto value = parse_value(line);
            if (!value || !current) return fail();
            current->set_value(std::move(*value));
            continue;
        }
        if (line.word() != "key") return fail();
        std::string_view root_name = line.word();
        auto root = std::find(std::begin(kRootNames), std::end(kRootNames), root_name);
        if (root == std::end(kRootNames)) return fail();
        KeyPath path;
        while (!line.at_end()) {
            auto part = line.quoted();
            if (!part || part->empty() || path.size() == kMaxKeyDepth) return fail();
            path.push_back(std::move(*part));
        }
        bool created;
        current = &create_key(store, static_cast<int>(root - std::begin(kRootNames)), path, created);
    }
    // An empty file holds an empty registry.
    return Parsed{std::move(store), 0};
}

}  // namespace

bool win32::detail::rewrite_registry_text(const std::string& text, std::string& written,
                                          size_t& bad_line) {
    Parsed parsed = parse(text);
    bad_line = parsed.bad_line;
    if (!parsed.store) return false;
    written = serialize(*parsed.store);
    return true;
}

namespace {

// ---- The file ------------------------------------------------------------------

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0) close(fd_);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

struct StoreFiles {
    std::string folder;  // host folder of the three files
    std::string file;
    std::string lock;
};

StoreFiles store_files() {
    std::string windows = win32::windows_folder();
    StoreFiles files;
    files.folder = win32::host_path(windows.c_str());
    files.file = win32::host_path((windows + "\\REGISTRY.TXT").c_str());
    files.lock = win32::host_path((windows + "\\REGISTRY.LCK").c_str());
    return files;
}

std::string base_name(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string folder_of(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Says once per damaged version of the file why the registry is refused.
void report_damage(const std::string& path, size_t line) {
    static std::mutex mutex;
    static std::string reported;
    struct stat st {};
    stat(path.c_str(), &st);
    std::string id = path + '\n' + std::to_string(st.st_size) + '\n' +
                     std::to_string(st.st_mtim.tv_sec) + '.' + std::to_string(st.st_mtim.tv_nsec);
    std::lock_guard lock(mutex);
    if (id == reported) return;
    reported = id;
    std::fprintf(stderr, "win32: registry file %s is damaged at line %zu; left unchanged\n",
                 path.c_str(), line);
}

// The file as it was last parsed, kept while its identity and times stay
// the same, so that reads do not parse an unchanged file again. A file
// changed less than kSettle before it was read is never kept: a later
// change could leave the same size and, within the clock's coarse step,
// the same times.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{}, changed{};

    static FileStamp of(const struct stat& st) {
        return FileStamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
    }
    bool operator==(const FileStamp& o) const {
        return device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
               changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
    }
};

constexpr time_t kSettle = 2;  // seconds

struct ParsedFile {
    std::mutex mutex;
    std::string path;
    FileStamp stamp;
    std::shared_ptr<const Store> store;
};

ParsedFile& parsed_file() {
    static ParsedFile cache;
    return cache;
}

bool settled(const FileStamp& stamp, const timespec& read_at) {
    const time_t newest = std::max(stamp.modified.tv_sec, stamp.changed.tv_sec);
    return read_at.tv_sec - newest >= kSettle;
}

LSTATUS load(const std::string& path, std::shared_ptr<const Store>& store) {
    ParsedFile& cache = parsed_file();
    struct stat now_st;
    if (stat(path.c_str(), &now_st) == 0) {
        std::lock_guard lock(cache.mutex);
        if (cache.store && cache.path == path && cache.stamp == FileStamp::of(now_st)) {
            store = cache.store;
            return ERROR_SUCCESS;
        }
    }
    timespec read_at{};
    clock_gettime(CLOCK_REALTIME, &read_at);
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT) {
            // A new installation has the user's desktop settings key, which
            // programs open rather than create.
            auto fresh = std::make_shared<Store>();
            bool created;
            create_key(*fresh, 1, KeyPath{"Control Panel", "desktop"}, created);
            store = std::move(fresh);
            return ERROR_SUCCESS;
        }
        return errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_CANTREAD;
    }
    struct stat st;
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return ERROR_CANTREAD;
    std::string text;
    char chunk[65536];
    for (;;) {
        ssize_t got = read(fd.get(), chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return ERROR_CANTREAD;
        if (got == 0) break;
        text.append(chunk, static_cast<size_t>(got));
    }
    Parsed parsed = parse(text);
    if (!parsed.store) {
        report_damage(path, parsed.bad_line);
        return ERROR_BADDB;
    }
    store = std::make_shared<const Store>(std::move(*parsed.store));
    const FileStamp stamp = FileStamp::of(st);
    if (settled(stamp, read_at)) {
        std::lock_guard lock(cache.mutex);
        cache.path = path;
        cache.stamp = stamp;
        cache.store = store;
    }
    return ERROR_SUCCESS;
}

bool write_all(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t put = write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += static_cast<size_t>(put);
    }
    return true;
}

// Temporary files of writers that died; only called under the lock, when
// no live writer can have one.
void remove_leftovers(const StoreFiles& files) {
    std::string prefix = base_name(files.file) + kTempInfix;
    DIR* dir = opendir(folder_of(files.file).c_str());
    if (!dir) return;
    std::vector<std::string> doomed;
    while (dirent* entry = readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name.size() == prefix.size() + 6 && name.substr(0, prefix.size()) == prefix)
            doomed.emplace_back(name);
    }
    closedir(dir);
    for (const std::string& name : doomed) unlink((folder_of(files.file) + "/" + name).c_str());
}

LSTATUS save(const StoreFiles& files, const Store& store) {
    std::string text = serialize(store);
    remove_leftovers(files);
    std::string temp = files.file + kTempInfix + "XXXXXX";
    UniqueFd fd(mkostemp(temp.data(), O_CLOEXEC));
    if (fd.get() < 0) return ERROR_CANTWRITE;

    struct stat old;
    fchmod(fd.get(), stat(files.file.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);
    bool ok = write_all(fd.get(), text) && fsync(fd.get()) == 0;
    ok = close(fd.release()) == 0 && ok;
    if (!ok || rename(temp.c_str(), files.file.c_str()) != 0) {
        unlink(temp.c_str());
        return ERROR_CANTWRITE;
    }
    // The rename itself must reach the disk too.
    UniqueFd folder(open(folder_of(files.file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0) fsync(folder.get());
    return ERROR_SUCCESS;
}

// Reads, changes and writes the store under the lock. `change` returns a
// status and sets `changed` when there is something to write.
template <typename Change>
LSTATUS modify(Change&& change) {
    StoreFiles files = store_files();
    win32::detail::make_folders(files.folder);
    UniqueFd lock(open(files.lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (lock.get() < 0) return errno == EACCES || errno == EROFS ? ERROR_ACCESS_DENIED : ERROR_CANTWRITE;
    while (flock(lock.get(), LOCK_EX) != 0)
        if (errno != EINTR) return ERROR_CANTWRITE;

    std::shared_ptr<const Store> current;
    LSTATUS status = load(files.file, current);
    if (status != ERROR_SUCCESS) return status;
    Store store = *current;
    bool changed = false;
    status = change(store, changed);
    if (status != ERROR_SUCCESS || !changed) return status;
    return save(files, store);
}

LSTATUS read_store(std::shared_ptr<const Store>& store) { return load(store_files().file, store); }

// ---- Handles -----------------------------------------------------------------

constexpr REGSAM kMaximumAllowed = 0x02000000;
constexpr REGSAM kGenericRead = 0x80000000;
constexpr REGSAM kGenericWrite = 0x40000000;
constexpr REGSAM kGenericAll = 0x10000000;

REGSAM effective_access(REGSAM sam) {
    if (sam & (kMaximumAllowed | kGenericAll)) sam |= KEY_ALL_ACCESS;
    if (sam & kGenericRead) sam |= KEY_READ;
    if (sam & kGenericWrite) sam |= KEY_WRITE;
    return sam;
}

struct RegKey : win32::detail::KernelObject {
    RegKey(int r, KeyPath p, REGSAM a) : root(r), path(std::move(p)), access(a) {}
    int root;
    KeyPath path;
    REGSAM access;
};

struct KeyRef {
    int root;
    KeyPath path;
    REGSAM access;
};

std::optional<KeyRef> resolve(HKEY key) {
    auto value = reinterpret_cast<uintptr_t>(key);
    auto first = reinterpret_cast<uintptr_t>(HKEY_CLASSES_ROOT);
    if (value >= first && value < first + kRootCount)
        return KeyRef{static_cast<int>(value - first), {}, KEY_ALL_ACCESS};
    if (!key) return std::nullopt;
    auto object = std::dynamic_pointer_cast<RegKey>(win32::detail::find_handle(key));
    if (!object) return std::nullopt;
    return KeyRef{object->root, object->path, object->access};
}

// Subkey names under `base`; a leading '\' and empty parts are ignored.
std::optional<KeyPath> full_path(const KeyRef& base, LPCSTR subkey) {
    KeyPath path = base.path;
    std::string_view rest = subkey ? subkey : "";
    while (!rest.empty()) {
        size_t slash = rest.find('\\');
        std::string_view part = rest.substr(0, slash);
        if (part.size() > kMaxKeyNameLength) return std::nullopt;
        if (!part.empty()) path.emplace_back(part);
        if (path.size() > kMaxKeyDepth) return std::nullopt;
        if (slash == std::string_view::npos) break;
        rest.remove_prefix(slash + 1);
    }
    return path;
}

HKEY new_handle(int root, KeyPath path, REGSAM access) {
    auto object = std::make_shared<RegKey>(root, std::move(path), effective_access(access));
    return static_cast<HKEY>(win32::detail::add_handle(std::move(object)));
}

std::string_view value_name(LPCSTR name) { return name ? name : ""; }

template <typename Body>
LSTATUS guarded(Body&& body) {
    try {
        return body();
    } catch (...) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

}  // namespace

extern "C" {

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired,
                             PHKEY phkResult) {
    return guarded([&]() -> LSTATUS {
        if (!phkResult) return ERROR_INVALID_PARAMETER;
        *phkResult = nullptr;
        auto base = resolve(hKey);
        if (!base) return ERROR_INVALID_HANDLE;
        auto path = full_path(*base, lpSubKey);
        if (!path) return ERROR_INVALID_PARAMETER;
        std::shared_ptr<const Store> store;
        if (LSTATUS status = read_store(store); status != ERROR_SUCCESS) return status;
        if (!find_key(*store, base->root, *path)) return ERROR_FILE_NOT_FOUND;
        *phkResult = new_handle(base->root, std::move(*path), samDesired);
        return ERROR_SUCCESS;
    });
}

LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD,
                               REGSAM samDesired, LPSECURITY_ATTRIBUTES, PHKEY phkResult,
                               LPDWORD lpdwDisposition) {
    return guarded([&]() -> LSTATUS {
        if (!phkResult || !lpSubKey) return ERROR_INVALID_PARAMETER;
        *phkResult = nullptr;
        auto base = resolve(hKey);
        if (!base) return ERROR_INVALID_HANDLE;
        auto path = full_path(*base, lpSubKey);
        if (!path) return ERROR_INVALID_PARAMETER;

        // Opening an existing key needs no lock and no write.
        std::shared_ptr<const Store> store;
        if (LSTATUS status = read_store(store); status != ERROR_SUCCESS) return status;
        bool created = false;
        if (!find_key(*store, base->root, *path)) {
            LSTATUS status = modify([&](Store& current, bool& changed) {
                create_key(current, base->root, *path, created);
                changed = created;
                return ERROR_SUCCESS;
            });
            if (status != ERROR_SUCCESS) return status;
        }
        *phkResult = new_handle(base->root, std::move(*path), samDesired);
        if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
        return ERROR_SUCCESS;
    });
}

LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved,
                                LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    return guarded([&]() -> LSTATUS {
        if (lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
        auto key = resolve(hKey);
        if (!key) return ERROR_INVALID_HANDLE;
        if (!(key->access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
        std::shared_ptr<const Store> store;
        if (LSTATUS status = read_store(store); status != ERROR_SUCCESS) return status;
        const Key* node = find_key(*store, key->root, key->path);
        const Value* value = node ? node->value(value_name(lpValueName)) : nullptr;
        if (!value) return ERROR_FILE_NOT_FOUND;

        if (lpType) *lpType = value->type;
        auto size = static_cast<DWORD>(value->data.size());
        if (!lpData) {
            if (lpcbData) *lpcbData = size;
            return ERROR_SUCCESS;
        }
        if (*lpcbData < size) {
            *lpcbData = size;
            return ERROR_MORE_DATA;
        }
        std::memcpy(lpData, value->data.data(), size);
        *lpcbData = size;
        return ERROR_SUCCESS;
    });
}

LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType,
                              const BYTE* lpData, DWORD cbData) {
    return guarded([&]() -> LSTATUS {
        if (!lpData && cbData) return ERROR_INVALID_PARAMETER;
        auto key = resolve(hKey);
        if (!key) return ERROR_INVALID_HANDLE;
        if (!(key->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
        Value wanted{std::string(value_name(lpValueName)), dwType, {}};
        if (lpData) wanted.data.assign(reinterpret_cast<const char*>(lpData), cbData);
        return modify([&](Store& store, bool& changed) {
            // A key that vanished from the file since it was opened comes
            // back rather than losing the value.
            bool created;
            Key& node = create_key(store, key->root, key->path, created);
            changed = node.set_value(std::move(wanted)) || created;
            return ERROR_SUCCESS;
        });
    });
}

LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    return guarded([&]() -> LSTATUS {
        auto key = resolve(hKey);
        if (!key) return ERROR_INVALID_HANDLE;
        if (!(key->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
        return modify([&](Store& store, bool& changed) -> LSTATUS {
            Key* node = find_key(store, key->root, key->path);
            if (!node || !node->erase_value(value_name(lpValueName))) return ERROR_FILE_NOT_FOUND;
            changed = true;
            return ERROR_SUCCESS;
        });
    });
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
    return guarded([&]() -> LSTATUS {
        auto value = reinterpret_cast<uintptr_t>(hKey);
        auto first = reinterpret_cast<uintptr_t>(HKEY_CLASSES_ROOT);
        if (value >= first && value < first + kRootCount) return ERROR_SUCCESS;
        if (!hKey || !std::dynamic_pointer_cast<RegKey>(win32::detail::find_handle(hKey)))
            return ERROR_INVALID_HANDLE;
        return win32::detail::remove_handle(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
    });
}

}  // extern "C"
