#pragma once
// An item proposed for moving, and where its last-use date came from.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Date.h"
#include "scanning/WholeKind.h"

namespace keldwick {

enum class LastUsedSource { recentlyUsed, accessDate, modificationDate, creationDate, addedDate };

// "recentlyUsed", "accessDate", "modificationDate", "creationDate", "addedDate".
std::string_view toString(LastUsedSource source);
// Exactly one of those strings (case-sensitive); nothing for any other.
std::optional<LastUsedSource> parseLastUsedSource(std::string_view text);

struct Candidate {
    std::string path;       // absolute; also the identity
    bool isDirectory = false;
    int64_t size = 0;       // bytes freed on this computer
    int64_t driveSize = 0;  // bytes needed on the drive; never less than size
    std::vector<Candidate> parts;  // smaller candidates that make up this one
    int64_t fileCount = 0;
    Date lastUsed;
    LastUsedSource lastUsedSource = LastUsedSource::modificationDate;
    double score = 0;       // the ranker's; the only field meant to change after construction
    bool isRecent = false;  // qualified as a recently used light file
    std::optional<WholeKind> whole;
    std::optional<std::string> deviceName;  // an emulator device's name, read when it was listed

    Candidate() = default;
    // driveSize is stored as the larger of (driveSize, or size when absent) and size.
    Candidate(std::string path, bool isDirectory, int64_t size, int64_t fileCount, Date lastUsed,
              LastUsedSource lastUsedSource, double score = 0, bool isRecent = false,
              std::optional<WholeKind> whole = std::nullopt, std::optional<int64_t> driveSize = std::nullopt,
              std::vector<Candidate> parts = {});

    const std::string& id() const { return path; }
    // The last path component.
    std::string name() const;
    // The name shown to the user (an emulator device shows its device name).
    std::string displayName() const;

    bool operator==(const Candidate&) const = default;

    // Hash over every field in declaration order (parts recursively); 0.0 and -0.0
    // hash alike, as they compare equal.
    size_t hashValue() const;
};

}  // namespace keldwick

template <>
struct std::hash<keldwick::Candidate> {
    size_t operator()(const keldwick::Candidate& candidate) const { return candidate.hashValue(); }
};
