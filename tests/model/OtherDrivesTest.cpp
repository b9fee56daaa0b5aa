#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "ModelStateFixtures.h"
#include "model/OtherDrives.h"
#include "support/FakeDriveLocator.h"

using namespace keldwick;
using keldwick::test::readyState;
using keldwick::test::record;

namespace {

// What a mount change reads and the model then lists, for the drives other than the chosen one.
std::map<std::string, DriveStatus> otherDrives(const ModelState& state, const DriveLocating& locator,
                                               const DriveNameReader& nameAt) {
    const std::string chosen = state.settings.drive ? state.settings.drive->id : std::string();
    return keldwick::otherDrives(mountedOtherDrives(state.records, chosen, locator, nameAt), state.otherDrives);
}

}  // namespace

TEST(OtherDrivesTest, NamesAndConnections) {
    ModelState state = readyState();
    const std::string chosen = state.settings.drive->id;
    test::FakeDriveLocator locator;
    auto nameAt = [](const std::string& mount) -> std::optional<std::string> {
        if (mount == "/media/u/OLD") return "Old Archive";
        return std::nullopt;
    };

    state.records = {record("/a", Phase::offloaded, false, 1, chosen), record("/b", Phase::restored, false, 1, chosen)};
    EXPECT_TRUE(otherDrives(state, locator, nameAt).empty());

    state.records.push_back(record("/c", Phase::restored, false, 1, "OLD"));
    state.records.push_back(record("/d", Phase::offloaded, false, 1, "NAMELESS"));
    state.records.push_back(record("/e", Phase::offloaded, false, 1, "NEVER-SEEN"));
    locator.mounts = {{"OLD", "/media/u/OLD"}, {"NAMELESS", "/media/u/x"}, {chosen, "/media/u/Archive"}};
    state.otherDrives = {{"GONE", {"Gone", false}}};
    auto drives = otherDrives(state, locator, nameAt);
    EXPECT_EQ(drives, (std::map<std::string, DriveStatus>{{"OLD", {"Old Archive", true}},
                                                          {"NAMELESS", {"your other drive", true}},
                                                          {"NEVER-SEEN", {"your other drive", false}}}));

    // Unplugged, the old drive keeps the name learned while it was plugged in.
    state.otherDrives = drives;
    locator.mounts.clear();
    drives = otherDrives(state, locator, nameAt);
    EXPECT_EQ(drives.at("OLD"), (DriveStatus{"Old Archive", false}));
    EXPECT_EQ(drives.at("NEVER-SEEN"), (DriveStatus{"your other drive", false}));

    state.otherDrives = drives;
    EXPECT_EQ(driveStatus(state, state.records[0]), (DriveStatus{"Archive", true}));
    EXPECT_EQ(driveStatus(state, state.records[2]), (DriveStatus{"Old Archive", false}));
    EXPECT_EQ(driveStatus(state, record("/f", Phase::offloaded, false, 1, "UNKNOWN")),
              (DriveStatus{"your other drive", false}));
    state.driveRoot.reset();
    EXPECT_EQ(driveStatus(state, state.records[0]), (DriveStatus{"Archive", false}));

    // Without a chosen drive, every record's drive is another drive.
    state.settings.drive.reset();
    EXPECT_EQ(otherDrives(state, locator, nameAt).count(chosen), 1u);
}

// The drive ids are found once per list, each once, whatever order the records come in.
TEST(OtherDrivesTest, AListKnowsEachDriveItsRecordsNameOnce) {
    const struct {
        std::vector<std::string> drives;
        std::set<std::string> ids;
    } cases[] = {
        {{}, {}},
        {{"A"}, {"A"}},
        {{"A", "A", "A"}, {"A"}},
        {{"B", "A", "B", "C", "A"}, {"A", "B", "C"}},
    };
    for (const auto& c : cases) {
        std::vector<OffloadRecord> records;
        for (const auto& drive : c.drives) records.push_back(record("/x", Phase::offloaded, false, 1, drive));
        RecordList list(records);
        EXPECT_EQ(list.driveIDs(), c.ids) << c.drives.size();
        // An edited list knows its new drive too; the one it was copied from is unchanged.
        RecordList edited = list;
        edited.push_back(record("/y", Phase::offloaded, false, 1, "NEW"));
        EXPECT_TRUE(edited.driveIDs().contains("NEW"));
        EXPECT_FALSE(list.driveIDs().contains("NEW"));
    }
}
