#include <gtest/gtest.h>

#include <limits>

#include "model/ModelStateFixtures.h"
#include "model/PreviewModel.h"
#include "preview/PreviewScreen.h"

namespace keldwick {
namespace {

constexpr int64_t GB = 1'000'000'000;
constexpr int64_t everything = std::numeric_limits<int64_t>::max();

Candidate item(const std::string& path, int64_t size, bool folder = false, bool recent = false) {
    return Candidate(path, folder, size, 1, Date{0}, LastUsedSource::modificationDate, 1, recent);
}

// Two files and a folder of 6 GB in all; a fourth candidate of 50 GB that only fits a
// roomy drive.
ScanReport report(bool recent = false) {
    ScanReport r;
    r.candidates = {item("/home/u/Downloads/a.iso", 3 * GB, false, recent),
                    item("/home/u/Downloads/Old", 2 * GB, true), item("/home/u/Downloads/b.zip", 1 * GB),
                    item("/home/u/Downloads/huge.img", 50 * GB)};
    return r;
}

struct Given {
    PreviewKind kind = PreviewKind::manual;
    int64_t goal = 4 * GB;
    bool dryRun = false;
    bool scanned = true;
    ScanReport found = report();
    int64_t room = 10 * GB;
    std::vector<std::string> exclude = {};
    bool keepAsking = false;
};

std::unique_ptr<PreviewModel> make(const Given& setup) {
    auto preview = std::make_unique<PreviewModel>(setup.kind, setup.goal, setup.dryRun);
    for (const auto& path : setup.exclude) preview->toggle(path);
    preview->setKeepAsking(setup.keepAsking);
    if (setup.scanned) preview->apply(setup.found, setup.room);
    return preview;
}

TEST(PreviewScreenTest, WithoutAPreviewOfferAScanOrAskForTheDrive) {
    ModelState state = test::readyState();
    PreviewScreen screen = previewScreen(state, nullptr);
    EXPECT_EQ(screen.body, PreviewScreen::Body::noPreview);
    EXPECT_EQ(*screen.empty, (PreviewEmptyState{"check",
                                                 "Nothing to review",
                                                 "To see which files Keldwick can move, choose Free Up Space in "
                                                 "the panel.",
                                                 {{"Free Up Space\u2026", PreviewAction::openPreview}}}));
    state.driveRoot.reset();
    screen = previewScreen(state, nullptr);
    EXPECT_EQ(*screen.empty, (PreviewEmptyState{"drive-missing",
                                                 "Plug in Archive",
                                                 "Keldwick frees up space by moving files to Archive, so it needs "
                                                 "to be plugged in.",
                                                 {}}));
}

TEST(PreviewScreenTest, HeadingBodyAndFooterFollowThePreview) {
    struct Case {
        const char* name;
        Given setup;
        std::optional<int64_t> computerFree;  // default: 100 GB of the fixture
        PreviewScreen::Body body;
        const char* title;
        const char* subtitle;  // "" for none; "*" for the long sentence, checked elsewhere
        bool closeOnly;
        bool runEnabled;
    };
    const Case cases[] = {
        {"scanning", Given{.scanned = false}, std::nullopt, PreviewScreen::Body::scanning, "Free Up Space",
         "Looking for files you haven't used in a while\u2026", false, false},
        {"a plan", Given{}, std::nullopt, PreviewScreen::Body::table, "You could free up 5.00 GB now", "*", false,
         true},
        {"low space wins over the plan's size", Given{}, 10 * GB, PreviewScreen::Body::table,
         "Your computer is running low on space", "*", false, true},
        {"nothing found", Given{.found = ScanReport{}}, std::nullopt, PreviewScreen::Body::nothingToMove,
         "Free Up Space", "", true, false},
        {"nothing fits", Given{.room = 0}, std::nullopt, PreviewScreen::Body::driveFull, "Free Up Space", "", true,
         false},
        // Excluded rows keep the table although nothing is planned: "Not Now" and a run
        // button that is off, never "Close" alone.
        {"only excluded rows",
         Given{.exclude = {"/home/u/Downloads/a.iso", "/home/u/Downloads/Old", "/home/u/Downloads/b.zip",
                           "/home/u/Downloads/huge.img"}},
         std::nullopt, PreviewScreen::Body::table, "Free Up Space", "", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelState state = test::readyState();
        if (c.computerFree) state.computerFreeBytes = c.computerFree;
        auto preview = make(c.setup);
        const PreviewScreen screen = previewScreen(state, preview.get());
        EXPECT_EQ(screen.body, c.body);
        EXPECT_EQ(screen.title, c.title);
        if (std::string(c.subtitle) != "*") {
            EXPECT_EQ(screen.subtitle, c.subtitle);
        }
        EXPECT_EQ(screen.closeOnly, c.closeOnly);
        EXPECT_EQ(screen.runEnabled, c.runEnabled);
        EXPECT_EQ(screen.runTitle, "Move Files to Archive");
        EXPECT_FALSE(screen.showsTestBanner);
    }
}

TEST(PreviewScreenTest, EmptyBodiesNameTheDriveAndFolders) {
    ModelState state = test::readyState();
    state.settings.managedFolders = {"/home/u/Downloads", "/home/u/Desktop"};
    auto full = make(Given{.room = 0});
    EXPECT_EQ(*previewScreen(state, full.get()).empty,
              (PreviewEmptyState{"drive-warning",
                                 "Archive is full",
                                 "There are files Keldwick could move, but none of them fits. Delete what you no "
                                 "longer need from Archive, or use a bigger drive.",
                                 {{"Show Files on Your Drive", PreviewAction::showDriveFiles}}}));
    auto none = make(Given{.found = ScanReport{}});
    EXPECT_EQ(*previewScreen(state, none.get()).empty,
              (PreviewEmptyState{"check",
                                 "Nothing to move right now",
                                 "Everything in Downloads and Desktop was used recently, is protected, or is too "
                                 "small to be worth moving.",
                                 {{"Choose Files to Move\u2026", PreviewAction::chooseFilesToMove},
                                  {"System Data\u2026", PreviewAction::showSystemData}}}));
    auto scanning = make(Given{.scanned = false});
    EXPECT_EQ(previewScreen(state, scanning.get()).scanningText, "Looking through Downloads and Desktop\u2026");
}

TEST(PreviewScreenTest, SubtitleCountsFilesAndFoldersAndSaysWhen) {
    ModelState state = test::readyState();
    auto preview = make(Given{});
    EXPECT_EQ(previewScreen(state, preview.get()).subtitle,
              "1 file and 1 folder (5.00 GB) you haven't used in a month can move to Archive. They stay in their "
              "folders as shortcuts and open whenever the drive is plugged in.");
    state.settings.minimumAgeDays = 14;
    auto recent = make(Given{.goal = 6 * GB, .found = report(true)});
    EXPECT_EQ(previewScreen(state, recent.get()).subtitle,
              "2 files and 1 folder (6.00 GB) you haven't used this week can move to Archive. They stay in their "
              "folders as shortcuts and open whenever the drive is plugged in.");
}

TEST(PreviewScreenTest, ShortfallLine) {
    struct Case {
        const char* name;
        Given setup;
        bool journalProblem;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"goal met", Given{}, false, "Uncheck anything you'd rather keep on this computer."},
        {"short, the drive is full",
         Given{.goal = 100 * GB, .room = 6 * GB}, false,
         "That's all that fits on Archive right now \u2014 94.0 GB short of what your computer needs."},
        {"short, nothing else qualifies", Given{.goal = 100 * GB, .room = 100 * GB}, false,
         "That's 44.0 GB short of what your computer needs: nothing else is old or big enough to move."},
        {"short, the rest is excluded",
         Given{.goal = 100 * GB, .room = 6 * GB, .exclude = {"/home/u/Downloads/huge.img"}}, false,
         "That's 94.0 GB short of what your computer needs: nothing else is old or big enough to move."},
        {"everything, the drive is full", Given{.goal = everything, .room = 6 * GB}, false,
         "That's all that fits on Archive right now."},
        {"everything, all of it fits", Given{.goal = everything, .room = 100 * GB}, false,
         "Uncheck anything you'd rather keep on this computer."},
        {"hidden while the journal is unusable", Given{}, true, std::nullopt},
        {"none without a plan", Given{.scanned = false}, false, std::nullopt},
        {"none for an empty plan", Given{.found = ScanReport{}}, false, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelState state = test::readyState();
        if (c.journalProblem) state.journalProblem = "disk I/O error";
        auto preview = make(c.setup);
        EXPECT_EQ(previewScreen(state, preview.get()).shortfall, c.expected);
    }
}

TEST(PreviewScreenTest, RunButtonGates) {
    struct Case {
        const char* name;
        bool dryRun;
        bool journalProblem;
        Activity activity;
        bool enabled;
        const char* title;
        const char* help;
    };
    const Case cases[] = {
        {"ready", false, false, Activity::idle, true, "Move Files to Archive", ""},
        {"journal unusable", false, true, Activity::idle, false, "Move Files to Archive", ""},
        {"a test run needs no journal", true, true, Activity::idle, true, "Test Run", ""},
        {"busy", false, false, Activity::moving, false, "Move Files to Archive",
         "Keldwick is busy. Try again in a moment."},
        {"busy in test mode", true, false, Activity::clearing, false, "Test Run",
         "Keldwick is busy. Try again in a moment."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelState state = test::readyState();
        if (c.journalProblem) state.journalProblem = "disk I/O error";
        state.activity = c.activity;
        auto preview = make(Given{.dryRun = c.dryRun});
        const PreviewScreen screen = previewScreen(state, preview.get());
        EXPECT_EQ(screen.runEnabled, c.enabled);
        EXPECT_EQ(screen.runTitle, c.title);
        EXPECT_EQ(screen.runHelp, c.help);
        EXPECT_EQ(screen.showsTestBanner, c.dryRun);
    }
}

TEST(PreviewScreenTest, ApprovalSwitchOnlyForAnUnapprovedFirstAutomaticRun) {
    struct Case {
        PreviewKind kind;
        bool approved;
        bool shown;
    };
    const Case cases[] = {{PreviewKind::firstAutomatic, false, true},
                          {PreviewKind::firstAutomatic, true, false},
                          {PreviewKind::manual, false, false},
                          {PreviewKind::suggested, false, false}};
    for (const Case& c : cases) {
        ModelState state = test::readyState();
        state.settings.automaticRunsApproved = c.approved;
        auto preview = make(Given{.kind = c.kind});
        EXPECT_EQ(previewScreen(state, preview.get()).showsApprovalSwitch, c.shown) << int(c.kind) << c.approved;
    }
}

}  // namespace
}  // namespace keldwick
