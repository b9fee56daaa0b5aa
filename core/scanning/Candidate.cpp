#include "scanning/Candidate.h"

#include <algorithm>

#include "foundation/EnumNames.h"
#include "foundation/ItemName.h"
#include "foundation/PathUtil.h"

namespace keldwick {

namespace {

constexpr EnumNames::Name<LastUsedSource> kSourceNames[] = {
    {LastUsedSource::recentlyUsed, "recentlyUsed"},
    {LastUsedSource::accessDate, "accessDate"},
    {LastUsedSource::modificationDate, "modificationDate"},
    {LastUsedSource::creationDate, "creationDate"},
    {LastUsedSource::addedDate, "addedDate"},
};

}  // namespace

std::string_view toString(LastUsedSource source) {
    return EnumNames::spellingOf(kSourceNames, source, "modificationDate");
}

std::optional<LastUsedSource> parseLastUsedSource(std::string_view text) {
    return EnumNames::valueOf(kSourceNames, text);
}

Candidate::Candidate(std::string path, bool isDirectory, int64_t size, int64_t fileCount, Date lastUsed,
                     LastUsedSource lastUsedSource, double score, bool isRecent, std::optional<WholeKind> whole,
                     std::optional<int64_t> driveSize, std::vector<Candidate> parts)
    : path(std::move(path)),
      isDirectory(isDirectory),
      size(size),
      driveSize(std::max(driveSize.value_or(size), size)),
      parts(std::move(parts)),
      fileCount(fileCount),
      lastUsed(lastUsed),
      lastUsedSource(lastUsedSource),
      score(score),
      isRecent(isRecent),
      whole(whole) {}

std::string Candidate::name() const { return PathUtil::name(path); }

std::string Candidate::displayName() const {
    return deviceName ? *deviceName + " emulator" : ItemName::display(path);
}

namespace {

void combine(size_t& seed, size_t value) { seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2); }

void feed(size_t& seed, const Candidate& c) {
    combine(seed, std::hash<std::string>{}(c.path));
    combine(seed, std::hash<bool>{}(c.isDirectory));
    combine(seed, std::hash<int64_t>{}(c.size));
    combine(seed, std::hash<int64_t>{}(c.driveSize));
    combine(seed, std::hash<size_t>{}(c.parts.size()));
    for (const auto& part : c.parts) feed(seed, part);
    combine(seed, std::hash<int64_t>{}(c.fileCount));
    combine(seed, std::hash<double>{}(c.lastUsed.secondsSince1970 == 0 ? 0.0 : c.lastUsed.secondsSince1970));
    combine(seed, std::hash<std::string_view>{}(toString(c.lastUsedSource)));
    combine(seed, std::hash<double>{}(c.score == 0 ? 0.0 : c.score));
    combine(seed, std::hash<bool>{}(c.isRecent));
    if (!c.whole) {
        combine(seed, 0);
    } else {
        combine(seed, 1);
        combine(seed, std::hash<std::string_view>{}(toString(*c.whole)));
    }
    combine(seed, c.deviceName ? std::hash<std::string>{}(*c.deviceName) : 0);
}

}  // namespace

size_t Candidate::hashValue() const {
    size_t seed = 0;
    feed(seed, *this);
    return seed;
}

}  // namespace keldwick
