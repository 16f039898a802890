// The registry object: one open key at a time under a root key.
#pragma once

#include <string>

#include "classes.h"
#include "win32/kernel.h"

class TRegistry : public TObject {
public:
    TRegistry() = default;
    ~TRegistry() override;
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    HKEY RootKey() const { return root_; }
    void SetRootKey(HKEY key);  // closes the current key
    HKEY CurrentKey() const { return current_; }
    const std::string& CurrentPath() const { return path_; }

    // A path with a leading '\' starts at the root key, otherwise at the
    // current key when one is open. False when it does not exist (and
    // create is false) or cannot be made.
    bool OpenKey(const std::string& key, bool create);
    void CloseKey();
    bool KeyExists(const std::string& key) const;
    bool ValueExists(const std::string& name) const;

    // Raise ERegistryException: "Failed to get data for '<name>'" when there
    // is no open key or no such value, "Invalid data type for '<name>'" when
    // the value is not a string; "Failed to set data for '<name>'".
    std::string ReadString(const std::string& name) const;
    void WriteString(const std::string& name, const std::string& value);

    FW_CLASS_INFO();

private:
    HKEY base_for(const std::string& key, std::string& sub) const;

    HKEY root_ = HKEY_CURRENT_USER;
    HKEY current_ = nullptr;
    std::string path_;
};
