// A real process moves and restores the items of a generated tree in a loop and is killed
// with SIGKILL at random moments; after each kill a fresh engine recovers, and every byte
// of every item must be where the journal says, with no working name left. The number of
// kills comes from KELDWICK_KILLS (200 by default; `make soak` runs 1,000) and the moments
// from KELDWICK_KILL_SEED (plus the shard's number), so a failing sequence can be played
// again.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <random>
#include <thread>

#include "foundation/Clock.h"
#include "support/EngineWorld.h"
#include "drives/FolderDriveLocator.h"
#include "engine/OffloadEngine.h"
#include "foundation/ItemChecks.h"

namespace keldwick {
namespace {

using test::makeDirs;
using test::writeFile;
using test::contentOf;
using test::workingNamesUnder;

using Content = std::map<std::string, std::string>;

int64_t fromEnvironment(const char* name, int64_t fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::strtoll(text, nullptr, 10) : fallback;
}

// Tmpfs when there is one: the kills test the engine's order of steps, not the disk.
std::string scratchBase() {
    if (::access("/dev/shm", W_OK) == 0) return "/dev/shm";
    return "";
}

class KillWorld : public test::EngineWorld {
public:
    KillWorld() : EngineWorld(Journal::inMemory(Clock::system()), scratchBase()), documents(home + "/Documents") {}

    // A few files of one to several chunks and a folder of files in sub-folders.
    void generate() {
        std::mt19937 bytes(7);
        auto some = [&](size_t size) {
            std::string text(size, '\0');
            for (auto& c : text) c = static_cast<char>(bytes());
            return text;
        };
        writeFile(documents + "/small.bin", some(900));
        writeFile(documents + "/chunks.bin", some(3 * 4096 + 17));
        writeFile(documents + "/Project notes.txt", some(6000));
        writeFile(documents + "/Photos/a.jpg", some(5000));
        writeFile(documents + "/Photos/2019/b.jpg", some(7000));
        writeFile(documents + "/Photos/2019/summer/c.jpg", some(300));
        for (const auto& name : listDirectory(documents))
            originals[documents + "/" + name] = *contentOf(documents + "/" + name);
    }

    // An engine over the journal file, finding the drive by its folder as the program does.
    std::unique_ptr<OffloadEngine> engine(const std::shared_ptr<Journal>& journal) const {
        auto made = std::make_unique<OffloadEngine>(
            journal, drive, std::make_shared<FolderDriveLocator>(drive.id, root),
            std::make_shared<test::FakeOpenFiles>(), RuleList{}, std::make_shared<NoFaults>(),
            std::make_shared<NoIconPlacing>(), configuration);
        made->inhibitor = [](const std::string&) { return -1; };
        return made;
    }

    std::string journalPath() const { return tmp / "journal.sqlite"; }

    // The child: moves what is on the computer and brings back what is on the drive, one
    // item after another, until it is killed. It writes one byte to `beats` as each
    // operation begins, so the parent can time its kill by the operations' real pace,
    // however slowly a loaded or sanitized build runs. Never returns.
    [[noreturn]] void churn(unsigned seed, int beats) const {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        std::mt19937 pick(seed);
        try {
            auto journal = Journal::open(journalPath(), Clock::system());
            auto made = engine(journal);
            std::vector<std::string> paths;
            for (const auto& [path, content] : originals) paths.push_back(path);
            for (;;) {
                if (::write(beats, "b", 1) != 1) std::_Exit(6);
                const std::string& path = paths[pick() % paths.size()];
                auto active = journal->activeRecords(path);
                try {
                    if (active.empty()) {
                        made->offload(candidateFor(path), false);
                    } else if (active.back().phase == Phase::offloaded) {
                        made->restore(active.back().id);
                    } else {
                        std::_Exit(3);  // nothing else may be left between two operations
                    }
                } catch (const std::exception&) {
                    std::_Exit(4);  // nobody else touches these items: no operation may fail
                }
            }
        } catch (...) {
            std::_Exit(5);
        }
    }

    static Candidate candidateFor(const std::string& path) {
        return test::candidateFor(path, Clock::system()->now().adding(3600));
    }

    const std::string documents;
    std::map<std::string, Content> originals;
};

// The kills are shared among a few shards that the test runner can run side by side.
constexpr int shards = 4;

class RealKill : public ::testing::TestWithParam<int> {};

TEST_P(RealKill, EveryByteSurvivesSigkillAtRandomMoments) {
    const int shard = GetParam();
    const int64_t total = fromEnvironment("KELDWICK_KILLS", 200);
    const int64_t kills = total / shards + (shard < total % shards ? 1 : 0);
    const auto seed = static_cast<unsigned>(fromEnvironment("KELDWICK_KILL_SEED", 20261208) + shard);
    std::cout << "kills: " << kills << " of " << total << ", seed: " << seed << std::endl;
    // A fresh world every few kills: the journal and the drive's manifest only grow, and
    // reading them back at each recovery would slow every later kill.
    constexpr int64_t killsPerWorld = 25;
    std::unique_ptr<KillWorld> fresh;
    std::mt19937 moments(seed);
    std::map<std::string, int> phasesFound;  // what each kill interrupted
    int64_t done = 0;

    for (; done < kills; ++done) {
        SCOPED_TRACE("kill " + std::to_string(done + 1) + " of seed " + std::to_string(seed));
        if (done % killsPerWorld == 0) {
            fresh.reset();
            fresh = std::make_unique<KillWorld>();
            fresh->generate();
        }
        KillWorld& world = *fresh;
        int beats[2];
        ASSERT_EQ(::pipe(beats), 0);
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(beats[0]);
            world.churn(moments(), beats[1]);
        }
        ::close(beats[1]);
        // Two beats time one whole operation; the kill falls at a random moment of about
        // that length into the next.
        char byte = 0;
        const bool first = ::read(beats[0], &byte, 1) == 1;
        const auto begun = std::chrono::steady_clock::now();
        const bool second = first && ::read(beats[0], &byte, 1) == 1;
        const auto operation = std::chrono::steady_clock::now() - begun;
        if (!second) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
            ::close(beats[0]);
            FAIL() << "the child ended before it had begun two operations";
        }
        std::this_thread::sleep_for(operation * static_cast<double>(moments() % 1000) / 1000.0);
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ::close(beats[0]);  // only now, so the child can't die of a closed pipe before the kill
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child stopped by itself with " << WEXITSTATUS(status);

        auto journal = Journal::open(world.journalPath(), Clock::system());
        for (const auto& record : journal->allRecords())
            if (isInFlight(record.phase)) ++phasesFound[std::string(toString(record.phase))];
        world.engine(journal)->recover();

        EXPECT_TRUE(workingNamesUnder(world.documents).empty());
        EXPECT_TRUE(workingNamesUnder(world.root).empty());
        for (const auto& [path, original] : world.originals) {
            auto active = journal->activeRecords(path);
            if (active.empty()) {
                EXPECT_EQ(contentOf(path), original) << path;
                continue;
            }
            ASSERT_EQ(active.size(), 1u) << path;
            EXPECT_EQ(toString(active[0].phase), toString(Phase::offloaded)) << path;
            EXPECT_TRUE(isLinkToDriveCopy(path, active[0])) << path;
            EXPECT_EQ(contentOf(world.drivePathFor(path)), original) << path;
        }
        if (::testing::Test::HasFailure()) break;
    }
    std::cout << "kills done: " << done << "; interrupted phases:";
    for (const auto& [phase, count] : phasesFound) std::cout << " " << phase << " " << count;
    std::cout << std::endl;
    EXPECT_EQ(done, kills);
    if (kills > 0) {
        EXPECT_FALSE(phasesFound.empty()) << "no kill landed inside an operation";
    }
}

INSTANTIATE_TEST_SUITE_P(Shards, RealKill, ::testing::Range(0, shards));

}  // namespace
}  // namespace keldwick
