// Settings kept in memory, for tests: a store that a test installs in place
// of the user's INI file.
#pragma once

#include <map>
#include <vector>

#include "platform/SettingsStore.h"

namespace vozaro::platform {

// A value can also be stored as something
// other than a number (as an INI file edited by hand can hold), and writes
// can be made to fail.
class MemorySettingsStore final : public SettingsStore {
public:
    std::optional<std::int32_t> readInt(const std::string& key, const std::string& name) override;
    bool writeInt(const std::string& key, const std::string& name, std::int32_t value) override;

    // Stores a value that is not a number (it reads as missing).
    void putNonInteger(const std::string& key, const std::string& name);
    void setWritable(bool writable) { writable_ = writable; }
    bool contains(const std::string& key, const std::string& name) const;
    // The names in the order they were last written, oldest first.
    const std::vector<std::string>& writeLog() const { return writeLog_; }

private:
    struct Value {
        std::optional<std::int32_t> number;  // nothing: stored as text
    };
    std::map<std::string, Value> values_;  // "key\name"
    std::vector<std::string> writeLog_;
    bool writable_ = true;
};

}  // namespace vozaro::platform
