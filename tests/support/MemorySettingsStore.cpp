#include "support/MemorySettingsStore.h"

namespace vozaro::platform {

namespace {

std::string memoryKey(const std::string& key, const std::string& name) { return key + '\\' + name; }

}  // namespace

std::optional<std::int32_t> MemorySettingsStore::readInt(const std::string& key,
                                                         const std::string& name) {
    const auto found = values_.find(memoryKey(key, name));
    if (found == values_.end())
        return std::nullopt;
    return found->second.number;
}

bool MemorySettingsStore::writeInt(const std::string& key, const std::string& name,
                                   std::int32_t value) {
    if (!writable_)
        return false;
    values_[memoryKey(key, name)] = Value{value};
    writeLog_.push_back(name);
    return true;
}

void MemorySettingsStore::putNonInteger(const std::string& key, const std::string& name) {
    values_[memoryKey(key, name)] = Value{std::nullopt};
}

bool MemorySettingsStore::contains(const std::string& key, const std::string& name) const {
    return values_.count(memoryKey(key, name)) != 0;
}

}  // namespace vozaro::platform
