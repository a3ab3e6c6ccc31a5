// Named 32-bit values kept between runs, grouped under one key.
//
// The program keeps its settings under a registry-style key such as
// "Software\Lumbra Karaoke".  The store in use is process-wide; the program
// uses the INI file in the user's configuration folder; tests install a
// store of their own.  Nothing is cached: every read and write goes to the store.
// User-interface thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace vozaro::platform {

class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // The value stored under key\name, or nothing when the key or the value
    // is missing, the value is not a 32-bit integer or the store cannot be
    // read.
    virtual std::optional<std::int32_t> readInt(const std::string& key,
                                                const std::string& name) = 0;

    // Stores the value, creating the key when missing.  False when the store
    // could not be written.
    virtual bool writeInt(const std::string& key, const std::string& name,
                          std::int32_t value) = 0;
};

// An INI file read and written through QSettings; the key becomes the group
// (its backslashes separate sub-groups).
class IniSettingsStore final : public SettingsStore {
public:
    // The file "vozaro/vozaro.ini" in the user's configuration folder
    // ($XDG_CONFIG_HOME, by default ~/.config), looked up at every call.
    IniSettingsStore();
    // A file of the caller's choice.
    explicit IniSettingsStore(std::string filePath);

    std::optional<std::int32_t> readInt(const std::string& key, const std::string& name) override;
    bool writeInt(const std::string& key, const std::string& name, std::int32_t value) override;

    // Where the values are kept.
    std::string filePath() const;

private:
    std::string filePath_;  // empty: the user's configuration folder
};

// The store every settings operation uses; an IniSettingsStore until another
// is installed.
SettingsStore& settingsStore();

// Installs a store and returns the previous one; nullptr restores the INI file.
std::unique_ptr<SettingsStore> installSettingsStore(std::unique_ptr<SettingsStore> store);

}  // namespace vozaro::platform
