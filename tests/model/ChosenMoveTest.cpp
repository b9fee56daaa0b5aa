#include <gtest/gtest.h>

#include <functional>

#include "ModelStateFixtures.h"
#include "foundation/ItemName.h"
#include "model/ChosenMove.h"
#include "support/TempDir.h"

using namespace keldwick;
using keldwick::test::readyState;
using keldwick::test::record;

TEST(ChosenMoveTest, RefusalLines) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Kept on this computer", "\u201CTaxes\u201D stays on your computer: kept on this computer."},
        {"It's already on Archive", "\u201CTaxes\u201D stays on your computer: it's already on Archive."},
        {"already lower", "\u201CTaxes\u201D stays on your computer: already lower."},
        {"", "\u201CTaxes\u201D stays on your computer: ."},
    };
    for (const auto& [reason, line] : cases) {
        EXPECT_EQ(refusalText(ManualMove::Refusal{"/home/u/Taxes", reason}), line) << reason;
    }
}

// No refused item goes unmentioned: the others by name up to three, then by count.
TEST(ChosenMoveTest, EveryRefusalIsNamed) {
    auto refused = [](std::vector<std::string> names) {
        std::vector<ManualMove::Refusal> list;
        for (const auto& name : names) list.push_back({"/home/u/" + name, "Kept on this computer"});
        return list;
    };
    const std::string first = "\u201CBilder\u201D stays on your computer: kept on this computer.";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, ""},
        {{"Bilder"}, first},
        {{"Bilder", "Musik"}, first + " \u201CMusik\u201D stays too."},
        {{"Bilder", "Musik", "Videos"}, first + " \u201CMusik\u201D and \u201CVideos\u201D stay too."},
        {{"Bilder", "Musik", "Videos", "a"}, first + " \u201CMusik\u201D, \u201CVideos\u201D and \u201Ca\u201D stay too."},
        {{"Bilder", "Musik", "Videos", "a", "b"}, first + " 4 other items stay too."},
    };
    for (const auto& [names, text] : cases) {
        EXPECT_EQ(refusalsText(refused(names)), text) << names.size();
    }
}

TEST(ChosenMoveTest, PlansAndReports) {
    test::TempDir home;
    const std::string file = test::writeFile(home / "report.pdf", "pdf");
    const std::string onDrive = home / "moved.mov";  // now a link to the drive; its record is offloaded
    const std::string gone = home / "gone";
    const std::string gone2 = home / "gone2";
    const std::string homeName = ItemName::display(home.path());
    const ChosenProblem plugIn{"Plug in Archive", "Keldwick moves files to Archive, so it needs to be plugged in."};

    struct Case {
        const char* name;
        std::vector<std::string> paths;
        std::function<void(ModelState&)> change;
        std::optional<ChosenProblem> report;
        std::vector<std::string> planned;
        std::optional<std::string> firstProblem;
    };
    const std::vector<Case> cases = {
        {"nothing chosen", {}, [](ModelState& s) { s.settings.onboardingComplete = false; }, std::nullopt, {},
         std::nullopt},
        {"setup incomplete with the drive mounted", {file},
         [](ModelState& s) { s.settings.onboardingComplete = false; }, plugIn, {}, std::nullopt},
        {"drive unplugged", {file}, [](ModelState& s) { s.driveRoot.reset(); }, plugIn, {}, std::nullopt},
        {"drive mounted but refused", {file},
         [](ModelState& s) {
             s.driveRoot.reset();
             s.driveRefusals = {{"/media/u/Archive", DriveRefusal::Kind::othersCanReplace, "Keldwick folder"}};
         },
         ChosenProblem{"Keldwick won't use the volume at /media/u/Archive",
                       "Other users of this computer can rename its Keldwick folder and put another in its place. "
                       "Make the drive's top folder writable only by you, for example with \u201csudo chmod 755\u201d on it."},
         {}, std::nullopt},
        {"journal unusable", {file}, [](ModelState& s) { s.journalProblem = "disk I/O error"; },
         ChosenProblem{"Keldwick can't open its records",
                       "Quit Keldwick and open it again. Files on your drive are safe."},
         {}, std::nullopt},
        {"journal unusable in test mode",
         {file},
         [](ModelState& s) {
             s.journalProblem = "disk I/O error";
             s.settings.dryRunMode = true;
         },
         std::nullopt, {file}, std::nullopt},
        {"busy", {file}, [](ModelState& s) { s.activity = Activity::scanning; },
         ChosenProblem{"Keldwick is busy", "Try again once it's done with what it's doing."}, {}, std::nullopt},
        {"one item already on the drive", {onDrive}, [](ModelState&) {},
         ChosenProblem{"Couldn't move \u201Cmoved.mov\u201D",
                       "\u201Cmoved.mov\u201D stays on your computer: it's already on Archive."},
         {}, std::nullopt},
        {"several refused, the core's refusals first", {onDrive, gone, gone2}, [](ModelState&) {},
         ChosenProblem{"Couldn't move these files",
                       "\u201Cgone\u201D stays on your computer: it isn't there anymore. \u201Cgone2\u201D and "
                       "\u201Cmoved.mov\u201D stay too."},
         {}, std::nullopt},
        {"the home folder itself", {home.path()}, [](ModelState&) {},
         ChosenProblem{"Couldn't move \u201C" + homeName + "\u201D",
                       "\u201C" + homeName +
                           "\u201D stays on your computer: your computer keeps this folder where it is; what's inside it can move."},
         {}, std::nullopt},
        {"some move, some stay", {onDrive, file}, [](ModelState&) {}, std::nullopt, {file},
         "\u201Cmoved.mov\u201D stays on your computer: it's already on Archive."},
    };
    for (const auto& c : cases) {
        ModelState state = readyState();
        state.home = home.path();
        state.records = {record(onDrive, Phase::offloaded), record(file, Phase::returned)};
        c.change(state);
        ChosenMovePlan plan = planChosenMove(state, c.paths, true, Date{2'000'000'000});
        EXPECT_EQ(plan.report, c.report) << c.name;
        std::vector<std::string> planned;
        if (plan.plan) {
            EXPECT_EQ(plan.plan->bytesNeeded, std::numeric_limits<int64_t>::max()) << c.name;
            for (const auto& candidate : plan.plan->items) planned.push_back(candidate.path);
        }
        EXPECT_EQ(planned, c.planned) << c.name;
        EXPECT_EQ(plan.firstProblem, c.firstProblem) << c.name;
    }
}

TEST(ChosenMoveTest, MessageAfterTheRun) {
    const ChosenMovePlan withRefusal{std::nullopt, OffloadPlan{}, "refused"};
    const ChosenMovePlan clean{std::nullopt, OffloadPlan{}, std::nullopt};
    const RunSummary failed{{}, 0, {{"/a", "first failure"}, {"/b", "second"}}, false, std::nullopt, false, {}};
    const RunSummary moved{{"/a"}, 1, {}, false, std::nullopt, false, {}};
    EXPECT_EQ(chosenMoveMessage(withRefusal, failed, "last"), "refused");
    EXPECT_EQ(chosenMoveMessage(clean, failed, "last"), "first failure");
    EXPECT_EQ(chosenMoveMessage(clean, moved, "last"), std::nullopt);
    EXPECT_EQ(chosenMoveMessage(clean, std::nullopt, "last"), "last");  // the run was refused

    FilesProblemReport report = chosenProblemReport(ChosenProblem{"Keldwick is busy", "Try again."});
    EXPECT_EQ(report.filesProblem, "Try again.");
    EXPECT_EQ(report.notice, (Notice{"Keldwick is busy", "Try again.", NoticeTarget::offloaded, "move-chosen"}));

    ChooseFilesTexts texts = chooseFilesTexts("Archive");
    EXPECT_EQ(texts.title, "Move to Archive");
    EXPECT_EQ(texts.prompt, "Move");
    EXPECT_EQ(texts.message, "Choose files or folders to move to Archive. Each stays in its folder as a shortcut.");
}
