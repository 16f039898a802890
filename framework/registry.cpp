#include "registry.h"

#include <cstring>
#include <vector>

const ClassInfo& TRegistry::StaticClassInfo() {
    static const ClassInfo info{"TRegistry", &TObject::StaticClassInfo(), {}, {}, {}};
    return info;
}

TRegistry::~TRegistry() { CloseKey(); }

void TRegistry::SetRootKey(HKEY key) {
    if (key == root_) return;
    CloseKey();
    root_ = key;
}

void TRegistry::CloseKey() {
    if (current_) RegCloseKey(current_);
    current_ = nullptr;
    path_.clear();
}

HKEY TRegistry::base_for(const std::string& key, std::string& sub) const {
    const bool absolute = !key.empty() && key[0] == '\\';
    sub = absolute ? key.substr(1) : key;
    return absolute || !current_ ? root_ : current_;
}

bool TRegistry::OpenKey(const std::string& key, bool create) {
    std::string sub;
    const HKEY base = base_for(key, sub);
    const bool relative = base == current_ && current_;
    HKEY opened = nullptr;
    LSTATUS status;
    if (create) {
        DWORD disposition = 0;
        status = RegCreateKeyExA(base, sub.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                 nullptr, &opened, &disposition);
    } else {
        status = RegOpenKeyExA(base, sub.c_str(), 0, KEY_ALL_ACCESS, &opened);
    }
    if (status != ERROR_SUCCESS || !opened) return false;
    std::string path = relative && !sub.empty() ? path_ + "\\" + sub : relative ? path_ : sub;
    CloseKey();
    current_ = opened;
    path_ = std::move(path);
    return true;
}

bool TRegistry::KeyExists(const std::string& key) const {
    std::string sub;
    const HKEY base = base_for(key, sub);
    HKEY opened = nullptr;
    if (RegOpenKeyExA(base, sub.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS || !opened) return false;
    RegCloseKey(opened);
    return true;
}

bool TRegistry::ValueExists(const std::string& name) const {
    return current_ && RegQueryValueExA(current_, name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

std::string TRegistry::ReadString(const std::string& name) const {
    const std::string failed = "Failed to get data for '" + name + "'";
    if (!current_) throw ERegistryException(failed);
    // The value may change between asking its size and reading it.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD type = REG_NONE, size = 0;
        if (RegQueryValueExA(current_, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            throw ERegistryException(failed);
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            throw ERegistryException("Invalid data type for '" + name + "'");
        std::vector<BYTE> data(static_cast<size_t>(size) + 1, 0);
        DWORD got = size;
        const LSTATUS status = RegQueryValueExA(current_, name.c_str(), nullptr, &type, data.data(), &got);
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS || got > size) throw ERegistryException(failed);
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            throw ERegistryException("Invalid data type for '" + name + "'");
        // Stored strings need not end in a zero; stop at the first one or at
        // the stored size, whichever comes first.
        const auto* bytes = reinterpret_cast<const char*>(data.data());
        return std::string(bytes, strnlen(bytes, got));
    }
    throw ERegistryException(failed);
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
    if (!current_ || value.size() >= 0xFFFFFFFFu ||
        RegSetValueExA(current_, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1)) != ERROR_SUCCESS)
        throw ERegistryException("Failed to set data for '" + name + "'");
}
