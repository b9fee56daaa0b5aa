// Every fault point of a move and of a restore, on a file and on a folder, on volumes that
// can and can't exchange names, with the drive attached or not when recovery runs, with
// and without an app saving a new version in between. After recovery (and the drive's
// return) every version the user had must be visible at least once, on the computer or
// on the drive, no working name may remain, no record may be left in flight, and a
// further recovery must change nothing.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "support/EngineWorld.h"
#include "EngineWorldChecks.h"
#include "engine/OffloadEngine.h"
#include "foundation/ItemChecks.h"
#include "platform/Rename.h"

namespace keldwick {
namespace {

using test::readFile;
using test::writeFile;
using test::candidateFor;
using test::engineOver;
using test::Content;
using test::contentOf;
using test::EngineWorld;
using test::expectSettled;
using test::ScratchOnTmpfs;
using test::stateOf;

// What the crashed operation was.
enum class Request { move, restoreInPlace, restoreLinkMissing, restoreAsCopy, restoreAsCopyLinkMissing };

struct Case {
    FaultPoint point;
    bool folder;
    Request request;
    bool exchange;
    bool driveAtRecovery;
    bool mutate;

    std::string describe() const {
        static const char* requests[] = {"move", "restore in place", "restore of a missing link",
                                         "restore as copy beside a new version", "restore as copy of a missing link"};
        std::ostringstream out;
        out << toString(point) << ", " << (folder ? "folder" : "file") << ", "
            << requests[static_cast<int>(request)] << ", " << (exchange ? "exchange" : "no exchange") << ", drive "
            << (driveAtRecovery ? "present" : "absent") << " at recovery" << (mutate ? ", app saved meanwhile" : "");
        return out.str();
    }
};

class CrashMatrix {
public:
    explicit CrashMatrix(const Case& c) : case_(c), support_({.exclusive = true, .exchange = c.exchange}) {}

    // Plays the case and checks it; returns whether the operation crashed at its point.
    bool play() {
        const std::string path = case_.folder ? world_.makeFolder("Album", false) : world_.makeFile("Report.txt");
        precious_.push_back(*contentOf(path));
        int64_t id = 0;
        if (case_.request != Request::move) id = prepareRestore(path);

        world_.faults->inner = std::make_shared<CrashAt>(case_.point);
        bool crashed = false;
        try {
            auto made = engine();
            switch (case_.request) {
                case Request::move:
                    made->offload(candidateFor(path), false);
                    break;
                case Request::restoreInPlace:
                case Request::restoreLinkMissing:
                    made->restore(id);
                    break;
                case Request::restoreAsCopy:
                case Request::restoreAsCopyLinkMissing:
                    made->restoreAsCopy(id);
                    break;
            }
        } catch (const SimulatedCrash& crash) {
            EXPECT_EQ(crash.point(), case_.point);
            crashed = true;
        }
        world_.faults->inner = std::make_shared<NoFaults>();

        if (case_.mutate) saveNewVersion(path);

        // A fresh engine, as after a restart.
        world_.locator->present = case_.driveAtRecovery;
        engine()->recover();
        // Without the drive a displaced original may wait at its working name: it is
        // deleted only once its drive copy is seen.
        world_.locator->present = true;
        engine()->recover();

        checkSettled();
        auto before = state();
        EXPECT_TRUE(engine()->recover().empty()) << "a further recovery found work";
        EXPECT_EQ(state(), before) << "a further recovery changed something";
        return crashed;
    }

private:
    Case case_;
    EngineWorld world_;
    platform::ScopedRenameSupport support_;
    std::vector<Content> precious_;  // every version the user must still find

    std::unique_ptr<OffloadEngine> engine() { return engineOver(world_); }


    // Moves the item for real, then puts its record in the phase the request starts from.
    int64_t prepareRestore(const std::string& path) {
        auto outcome = engine()->offload(candidateFor(path), false);
        const int64_t id = outcome.record.id;
        if (case_.request == Request::restoreLinkMissing || case_.request == Request::restoreAsCopyLinkMissing) {
            ::unlink(path.c_str());
            engine()->recover();
        } else if (case_.request == Request::restoreAsCopy) {
            ::unlink(path.c_str());
            writeFile(path, "the version saved after the move");
            precious_.push_back(*contentOf(path));
            engine()->recover();
        }
        return id;
    }

    // An app saves at the item's place: an edit of what stands there, or a new file
    // where the link (or nothing) was.
    void saveNewVersion(const std::string& path) {
        auto status = FileStat::peek(path);
        if (status && status->isFile()) {
            std::ofstream(path, std::ios::app) << " edited";
            // The version it replaced was the user's to change.
            Content old = *contentOf(path);
            old[""].resize(old[""].size() - 7);
            std::erase(precious_, old);
        } else if (status && status->isDirectory()) {
            Content old = *contentOf(path);
            writeFile(path + "/added by an app.txt", "new");
            std::erase(precious_, old);
        } else {
            if (status) ::unlink(path.c_str());
            writeFile(path, "saved by an app");
        }
        precious_.push_back(*contentOf(path));
    }

    void checkSettled() { expectSettled(world_, precious_); }
    std::map<std::string, std::string> state() const { return stateOf(world_); }
};

struct PointAndKind {
    FaultPoint point;
    bool folder;
};

class CrashMatrixTest : public ::testing::TestWithParam<PointAndKind> {};

TEST_P(CrashMatrixTest, NothingIsLostAndRecoverySettlesEverything) {
    const auto [point, folder] = GetParam();
    const bool offloadPoint = static_cast<int>(point) <= static_cast<int>(FaultPoint::offloadSwapped);
    std::vector<Request> requests = offloadPoint ? std::vector<Request>{Request::move}
                                                 : std::vector<Request>{Request::restoreInPlace,
                                                                        Request::restoreLinkMissing,
                                                                        Request::restoreAsCopy,
                                                                        Request::restoreAsCopyLinkMissing};
    ScratchOnTmpfs scratch;
    int crashes = 0;
    for (Request request : requests)
        for (bool exchange : {true, false})
            for (bool driveAtRecovery : {true, false})
                for (bool mutate : {false, true}) {
                    Case c{point, folder, request, exchange, driveAtRecovery, mutate};
                    SCOPED_TRACE(c.describe());
                    if (CrashMatrix(c).play()) ++crashes;
                }
    EXPECT_GT(crashes, 0) << "the point was never reached";
}

std::vector<PointAndKind> allPoints() {
    std::vector<PointAndKind> all;
    for (FaultPoint point : FaultPoints::allCases())
        for (bool folder : {false, true}) all.push_back({point, folder});
    return all;
}

INSTANTIATE_TEST_SUITE_P(EveryPoint, CrashMatrixTest, ::testing::ValuesIn(allPoints()),
                         [](const ::testing::TestParamInfo<PointAndKind>& info) {
                             return toString(info.param.point) + (info.param.folder ? "Folder" : "File");
                         });

}  // namespace
}  // namespace keldwick
