// The spellings of every enumeration the program stores or exchanges as text, pinned as
// journals, manifests, settings and fault lists written before spell them: a value's
// spelling never changes, and parsing takes that spelling and no other.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "drives/DriveHardware.h"
#include "drives/DriveTier.h"
#include "drives/WakeDetector.h"
#include "engine/FaultPoint.h"
#include "engine/RecoveryResult.h"
#include "foundation/DriveManifest.h"
#include "foundation/EnumNames.h"
#include "foundation/JournalEvent.h"
#include "foundation/Phase.h"
#include "foundation/TreeManifest.h"
#include "scanning/Candidate.h"
#include "scanning/WholeKind.h"

namespace keldwick {
namespace {

// `spellings` in the enumeration's order, from its first value on.
template <typename Enum, typename ToString, typename Parse>
void expectSpellings(const std::vector<std::string>& spellings, ToString toText, Parse parse) {
    for (size_t index = 0; index < spellings.size(); ++index) {
        const auto value = static_cast<Enum>(index);
        const std::string& spelling = spellings[index];
        EXPECT_EQ(std::string(toText(value)), spelling);
        EXPECT_EQ(parse(spelling), value) << spelling;
        std::string capital = spelling;
        capital[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(capital[0])));
        EXPECT_EQ(parse(capital), std::nullopt) << capital;
        EXPECT_EQ(parse(spelling + " "), std::nullopt) << spelling;
    }
    EXPECT_EQ(parse(""), std::nullopt);
}

TEST(EnumSpellingsTest, JournalAndManifestSpellingsStay) {
    expectSpellings<Phase>({"offload-copying", "offload-verified", "offload-swapping", "offload-cleanup", "offloaded",
                            "restore-copying", "restore-swapping", "restore-cleanup", "restored", "abandoned",
                            "superseded", "returned", "link-missing"},
                           [](Phase v) { return toString(v); }, [](std::string_view t) { return parsePhase(t); });
    expectSpellings<EventLevel>({"info", "warning", "error"}, [](EventLevel v) { return toString(v); },
                                [](std::string_view t) { return parseEventLevel(t); });
    expectSpellings<TreeEntry::Kind>({"file", "directory", "symlink"}, [](TreeEntry::Kind v) { return toString(v); },
                                     [](std::string_view t) { return parseTreeEntryKind(t); });
    expectSpellings<DriveManifest::Entry::Event>(
        {"offloaded", "restored", "discarded"}, [](DriveManifest::Entry::Event v) { return toString(v); },
        [](std::string_view t) { return parseDriveManifestEvent(t); });
    expectSpellings<RecoveryAction>({"rolledBack", "rolledForward", "deferred", "markedReturned", "markedLinkMissing",
                                     "relinked", "adopted", "unchanged"},
                                    [](RecoveryAction v) { return toString(v); },
                                    [](std::string_view t) { return parseRecoveryAction(t); });
}

TEST(EnumSpellingsTest, SettingsAndCandidateSpellingsStay) {
    expectSpellings<DriveTier>({"fastSSD", "slow", "hardDrive"}, [](DriveTier v) { return toString(v); },
                               [](std::string_view t) { return parseDriveTier(t); });
    expectSpellings<DriveHardware::Medium>({"solidState", "rotational", "unknown"},
                                           [](DriveHardware::Medium v) { return toString(v); },
                                           [](std::string_view t) { return parseMedium(t); });
    expectSpellings<DriveWakeState>({"awake", "asleep", "waking"}, [](DriveWakeState v) { return toString(v); },
                                    [](std::string_view t) { return parseDriveWakeState(t); });
    expectSpellings<LastUsedSource>({"recentlyUsed", "accessDate", "modificationDate", "creationDate", "addedDate"},
                                    [](LastUsedSource v) { return toString(v); },
                                    [](std::string_view t) { return parseLastUsedSource(t); });
    expectSpellings<WholeKind>({"project", "emulator", "chosen"}, [](WholeKind v) { return toString(v); },
                               [](std::string_view t) { return parseWholeKind(t); });
}

TEST(EnumSpellingsTest, FaultPointsKeepTheirNamesAndOrder) {
    const std::vector<std::string> names = {
        "offloadRecorded", "offloadMidCopy",   "offloadCopied",      "offloadVerified",
        "offloadLinkStaged", "offloadSwapped", "restoreRecorded",    "restoreMidCopy",
        "restoreVerified", "restoreLinkRemoved", "restoreSwapped",   "restoreDriveCopyDeleted"};
    std::vector<std::string> listed;
    for (FaultPoint point : FaultPoints::allCases()) listed.push_back(toString(point));
    EXPECT_EQ(listed, names);
    for (const auto& name : names) EXPECT_EQ(toString(*parseFaultPoint(name)), name);
    EXPECT_EQ(parseFaultPoint("OffloadRecorded"), std::nullopt);
}

enum class Colour { red, green };
constexpr EnumNames::Name<Colour> kColours[] = {{Colour::red, "red"}, {Colour::green, "green"}};

TEST(EnumSpellingsTest, TheHelperReadsATableBothWays) {
    static_assert(EnumNames::spellingOf(kColours, Colour::green) == "green");
    static_assert(EnumNames::valueOf(kColours, "red") == Colour::red);
    EXPECT_EQ(EnumNames::spellingOf(kColours, static_cast<Colour>(7), "red"), "red");
    EXPECT_EQ(EnumNames::spellingOf(kColours, static_cast<Colour>(7)), "");
    EXPECT_EQ(EnumNames::valueOf(kColours, "Red"), std::nullopt);
    EXPECT_EQ(EnumNames::values(kColours), (std::vector<Colour>{Colour::red, Colour::green}));
}

}  // namespace
}  // namespace keldwick
