#include "foundation/OffloadRecord.h"

#include "foundation/PathUtil.h"

namespace keldwick {

std::string OffloadRecord::name() const { return PathUtil::name(originalPath); }

std::string OffloadRecord::drivePath(const std::string& root) const {
    if (driveRelativePath.empty()) return root;
    if (!root.empty() && root.back() == '/') return root + driveRelativePath;
    return root + "/" + driveRelativePath;
}

}  // namespace keldwick

namespace {

template <typename T>
void mix(size_t& seed, const T& value) {
    seed ^= std::hash<T>{}(value) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

template <typename T>
void mix(size_t& seed, const std::optional<T>& value) {
    mix(seed, value.has_value());
    if (value) mix(seed, *value);
}

void mix(size_t& seed, const keldwick::Date& date) { mix(seed, date.secondsSince1970); }
void mix(size_t& seed, const std::optional<keldwick::Date>& date) {
    mix(seed, date.has_value());
    if (date) mix(seed, *date);
}

}  // namespace

size_t std::hash<keldwick::OffloadRecord>::operator()(const keldwick::OffloadRecord& r) const noexcept {
    size_t seed = 0;
    mix(seed, r.id);
    mix(seed, r.originalPath);
    mix(seed, r.driveID);
    mix(seed, r.driveRelativePath);
    mix(seed, r.isDirectory);
    mix(seed, r.size);
    mix(seed, r.checksum);
    mix(seed, r.phase);
    mix(seed, r.lastUsed);
    mix(seed, r.createdAt);
    mix(seed, r.updatedAt);
    mix(seed, r.error);
    mix(seed, r.restoreChecksum);
    mix(seed, r.originalIdentity);
    return seed;
}
