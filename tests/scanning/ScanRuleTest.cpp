#include <gtest/gtest.h>

#include "foundation/FileStat.h"
#include "foundation/AndroidDevices.h"
#include "scanning/AppAndLibraryRule.h"
#include "scanning/CloudSyncRule.h"
#include "scanning/DevelopmentRule.h"
#include "scanning/NeverTouch.h"
#include "scanning/OlderCopyRule.h"
#include "scanning/PinnedRule.h"
#include "scanning/ProtectedLocationRule.h"
#include "scanning/ScannerChecks.h"
#include "support/TempDir.h"

using namespace keldwick;

namespace {

using Reason = std::optional<std::string>;

FileStat folderStat() {
    FileStat s;
    s.kind = FileStat::Kind::directory;
    return s;
}

FileStat fileStat() {
    FileStat s;
    s.kind = FileStat::Kind::file;
    return s;
}

// What a list of rules says about an item: per rule, the ancestors first, then the item.
Reason firstReason(const RuleList& rules, const std::string& path) {
    auto stat = FileStat::peek(path).value_or(fileStat());
    for (const auto& rule : rules) {
        if (auto r = rule->skipReasonForAncestorsOf(path)) return r;
        if (auto r = rule->skipReason(path, stat, false)) return r;
    }
    return std::nullopt;
}

Reason firstWholeReason(const RuleList& rules, const std::string& path, WholeKind kind) {
    for (const auto& rule : rules) {
        if (auto r = rule->skipReasonWhole(path, kind)) return r;
    }
    return std::nullopt;
}

}  // namespace

TEST(ScanRuleTest, AncestorsAndPathTerms) {
    EXPECT_EQ(ancestors("/Users/ann/Projects/app/x"),
              (std::vector<std::string>{"/Users/ann/Projects/app", "/Users/ann/Projects", "/Users/ann", "/Users"}));
    EXPECT_TRUE(ancestors("/x").empty());
    EXPECT_TRUE(ancestors("/").empty());
    EXPECT_TRUE(ancestors("name").empty());
    EXPECT_EQ(ancestors("a/b/c"), (std::vector<std::string>{"a/b", "a"}));
    EXPECT_EQ(insideNote("Git repository", "/p/app"), "Git repository (inside “app”)");
}

TEST(ScanRuleTest, ProtectedLocations) {
    const std::string home = "/home/ann";
    ProtectedLocationRule automatic(home, NeverTouch::systemFolders(), false);
    ProtectedLocationRule chosen(home, NeverTouch::systemFolders(), true);
    ProtectedLocationRule noSystem(home, {}, false);
    const std::string support = home + "/Library/Application Support";
    struct Case {
        std::string path;
        Reason automatic, chosen;
    } cases[] = {
        {home + "/Library", "Inside your Library folder", "Inside your Library folder"},
        {home + "/Library/Preferences/x.plist", "Inside your Library folder", "Inside your Library folder"},
        {support + "/Tool/data", "Inside your Library folder", "Inside your Library folder"},
        {home + "/.Trash/old.mov", "In the Trash", "In the Trash"},
        {home + "/.local/share/Trash/files/old.mov", "In the Trash", "In the Trash"},
        {home + "/Music/Music/Media", "Managed by the Music app", "Managed by the Music app"},
        {home + "/Music/iTunes", "Managed by the Music app", "Managed by the Music app"},
        {home + "/Music/Musicals", std::nullopt, std::nullopt},
        {home + "/Movies/TV/x.mov", "Managed by the TV app", "Managed by the TV app"},
        {home + "/Pictures/Photo Booth Library", "Managed by Photo Booth", "Managed by Photo Booth"},
        {home + "/snap/firefox/common", "Managed by Snap", "Managed by Snap"},
        {home + "/.var/app/org.gimp.GIMP/data", "Managed by Flatpak", "Managed by Flatpak"},
        {home + "/Movies/Trip.mov", std::nullopt, std::nullopt},
        {"/Volumes/Other/x", "A system folder", "A system folder"},
        {"/media/ann/Drive/x", "A system folder", "A system folder"},
        {"/run/media/ann/Drive", "A system folder", "A system folder"},
        {"/etc/passwd", "A system folder", "A system folder"},
        {"/homeless/x", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(automatic.skipReason(c.path, fileStat(), false), c.automatic) << c.path;
        EXPECT_EQ(chosen.skipReason(c.path, folderStat(), false), c.chosen) << c.path;
    }
    EXPECT_EQ(noSystem.skipReason("/Volumes/Other/x", fileStat(), false), std::nullopt);
    EXPECT_EQ(automatic.skipReasonForAncestorsOf(home + "/Library"), std::nullopt);
    EXPECT_EQ(automatic.skipReasonForAncestorsOf(home + "/Library/x"), "Inside your Library folder");

    std::string devices = AndroidDevices::devicesFolder(home);
    std::string device = devices + "/Pixel_7.avd";
    EXPECT_EQ(automatic.skipReasonWhole(device, WholeKind::emulator), std::nullopt);
    EXPECT_EQ(automatic.skipReasonWhole(device, WholeKind::chosen), ProtectedLocationRule::kHiddenAppData);
    EXPECT_EQ(automatic.skipReasonWhole(device + "/snapshots", WholeKind::emulator), ProtectedLocationRule::kHiddenAppData);
}

TEST(ScanRuleTest, HomeInsideASystemFolderStillMoves) {
    ProtectedLocationRule rule("/var/home/ann", NeverTouch::systemFolders(), false);
    EXPECT_EQ(rule.skipReason("/var/home/ann/Movies/x.mov", fileStat(), false), std::nullopt);
    EXPECT_EQ(rule.skipReason("/var/home/ann", folderStat(), false), std::nullopt);
    EXPECT_EQ(rule.skipReason("/var/home/ann/Library/x", fileStat(), false), "Inside your Library folder");
    EXPECT_EQ(rule.skipReason("/var/home/bob/x", fileStat(), false), "A system folder");
    EXPECT_EQ(rule.skipReason("/var/lib/x", fileStat(), false), "A system folder");
}

TEST(ScanRuleTest, DevelopmentFolders) {
    test::TempDir dir;
    const std::string home = dir / "home";
    test::makeDirs(home + "/.git");
    test::makeDirs(home + "/Code/repo/.git");
    test::makeDirs(home + "/Code/repo/src");
    test::makeDirs(home + "/Code/py/venv");
    test::makeDirs(home + "/Code/py/env");
    test::writeFile(home + "/Code/py/env/pyvenv.cfg", "");
    test::makeDirs(home + "/Code/py/.venv");
    test::writeFile(home + "/Code/cm/CMakeLists.txt", "");
    test::makeDirs(home + "/Code/cm/build");
    test::makeDirs(home + "/Code/xc/App.xcodeproj");
    test::makeDirs(home + "/Code/xc/build");
    test::makeDirs(home + "/Downloads/build");
    test::makeDirs(home + "/.config/tool");
    test::writeFile(home + "/.config/tool/settings", "");
    test::writeFile(home + "/Code/web/package.json", "{}");
    test::writeFile(home + "/Documents/Makefile", "");
    test::makeDirs(home + "/Code/web/node_modules/left-pad");

    DevelopmentRule automatic(false, home);
    DevelopmentRule chosen(true, home);
    struct Case {
        std::string relative;
        Reason automatic, chosen;
    } cases[] = {
        {"", std::nullopt, std::nullopt},
        {"Code/repo", "Git repository", "Git repository"},
        {"Code/py/venv", std::nullopt, std::nullopt},
        {"Code/py/env", "Python virtual environment", std::nullopt},
        {"Code/py/.venv", "Python virtual environment", std::nullopt},
        {"Code/cm/build", "Build folder", std::nullopt},
        {"Code/xc/build", "Build folder", std::nullopt},
        {"Downloads/build", std::nullopt, std::nullopt},
        {".config", "Hidden folder (app or tool data)", std::nullopt},
        {"Code/web", std::nullopt, "Code project"},
        {"Code/web/node_modules", "JavaScript dependencies (node_modules)", std::nullopt},
        {"Documents", std::nullopt, std::nullopt},
        {"Code/cm", std::nullopt, "Code project"},
    };
    for (const auto& c : cases) {
        std::string path = c.relative.empty() ? home : home + "/" + c.relative;
        EXPECT_EQ(automatic.skipReason(path, folderStat(), false), c.automatic) << c.relative;
        EXPECT_EQ(chosen.skipReason(path, folderStat(), false), c.chosen) << c.relative;
    }
    EXPECT_EQ(automatic.skipReason(home + "/Code/repo", fileStat(), false), std::nullopt);
    EXPECT_EQ(automatic.skipReasonForAncestorsOf(home + "/.config/tool/settings"),
              "Hidden folder (app or tool data) (inside “.config”)");
    EXPECT_EQ(automatic.skipReasonForAncestorsOf(home + "/Code/repo/src/main.c"), "Git repository (inside “repo”)");
    EXPECT_EQ(automatic.skipReasonForAncestorsOf(home + "/Movies/x"), std::nullopt);
    EXPECT_EQ(chosen.skipReasonForAncestorsOf(home + "/.config/tool/settings"), std::nullopt);

    EXPECT_EQ(chosen.skipReasonWhole(home + "/Code/repo", WholeKind::project), std::nullopt);
    EXPECT_EQ(chosen.skipReasonWhole(home + "/Code/web", WholeKind::project), std::nullopt);
    EXPECT_EQ(chosen.skipReasonWhole(home + "/Code/web", WholeKind::chosen), "Code project");
    EXPECT_EQ(chosen.skipReasonWhole(home + "/Code/repo", WholeKind::chosen), "Git repository");
    EXPECT_EQ(automatic.skipReasonWhole(home + "/Code/repo/src", WholeKind::project), "Git repository (inside “repo”)");

    // A managed folder of "/" holds the home; it is never a development folder.
    DevelopmentRule rootHome(false, std::string("/"));
    EXPECT_EQ(rootHome.skipReason("/", folderStat(), false), std::nullopt);
}

TEST(ScanRuleTest, RegenerableFoldersInOrder) {
    const auto& rows = DevelopmentRule::regenerableFolders();
    ASSERT_EQ(rows.size(), 13u);
    EXPECT_EQ(rows.front().first, "node_modules");
    EXPECT_EQ(rows.back(), (std::pair<std::string, std::string>{".tox", "Python test environments"}));
    test::TempDir dir;
    DevelopmentRule automatic(false, std::nullopt);
    for (const auto& [name, reason] : rows) {
        test::makeDirs(dir / name);
        EXPECT_EQ(automatic.skipReason(dir / name, folderStat(), false), reason) << name;
        EXPECT_FALSE(DevelopmentRule::isProject(dir / name)) << name;
    }
    EXPECT_EQ(DevelopmentRule::regenerableReason("DerivedData"), "Build folder");
    EXPECT_FALSE(DevelopmentRule::regenerableReason("derivedData"));
}

TEST(ScanRuleTest, ProjectDetection) {
    test::TempDir dir;
    int n = 0;
    for (const char* marker : {"Makefile", "CMakeLists.txt", "package.json", "Package.swift", "build.gradle",
                               "build.gradle.kts", "pom.xml", "Cargo.toml", "go.mod", "setup.py", "pyproject.toml",
                               "Gemfile", "composer.json", "meson.build", "BUILD.bazel", "WORKSPACE",
                               "requirements.txt", "Pipfile", "environment.yml", "pubspec.yaml", "deno.json",
                               "mix.exs", "project.godot", "Podfile"}) {
        std::string project = dir / ("p" + std::to_string(n++));
        test::writeFile(project + "/" + marker, "");
        EXPECT_TRUE(DevelopmentRule::isProject(project)) << marker;
    }
    for (const char* entry : {"App.xcodeproj", "App.xcworkspace", "App.sln", "App.csproj", "Game.uproject",
                              ".git", "node_modules", ".venv", ".dart_tool", "Pods"}) {
        std::string project = dir / ("p" + std::to_string(n++));
        test::makeDirs(project + "/" + entry);
        EXPECT_TRUE(DevelopmentRule::isProject(project)) << entry;
    }
    test::makeDirs(dir / "upper/App.XCODEPROJ");
    EXPECT_FALSE(DevelopmentRule::isProject(dir / "upper"));
    test::makeDirs(dir / "plain/docs");
    EXPECT_FALSE(DevelopmentRule::isProject(dir / "plain"));
    test::writeFile(dir / ".hidden/Makefile", "");
    EXPECT_FALSE(DevelopmentRule::isProject(dir / ".hidden"));
    test::makeDirs(dir / "env/.git");
    test::writeFile(dir / "env/pyvenv.cfg", "");
    EXPECT_FALSE(DevelopmentRule::isProject(dir / "env"));
    EXPECT_FALSE(DevelopmentRule::isProject(dir / "missing"));
}

TEST(ScanRuleTest, CloudSyncMarkers) {
    test::TempDir dir;
    CloudSyncRule rule;
    struct Case {
        const char* marker;
        const char* service;
    } cases[] = {
        {".dropbox", "Dropbox"},        {".dropbox.cache", "Dropbox"},
        {".stfolder", "Syncthing"},     {".sync", "Resilio Sync"},
        {".owncloudsync.log", "Nextcloud or ownCloud"},
        {".tmp.drivedownload", "Google Drive"}, {".tmp.driveupload", "Google Drive"},
        {".megaignore", "MEGA"},
    };
    for (const auto& c : cases) {
        std::string folder = dir / (std::string("f") + c.marker);
        test::writeFile(folder + "/" + c.marker, "");
        EXPECT_EQ(rule.skipReason(folder, folderStat(), false), std::string("Synced by ") + c.service);
        EXPECT_EQ(rule.skipReason(folder, fileStat(), false), std::nullopt);
        EXPECT_EQ(rule.skipReasonForAncestorsOf(folder + "/sub/x"), std::string("Synced by ") + c.service);
    }
    // The first marker in table order names the service.
    test::makeDirs(dir / "both/.stfolder");
    test::makeDirs(dir / "both/.dropbox.cache");
    EXPECT_EQ(rule.skipReason(dir / "both", folderStat(), false), "Synced by Dropbox");
    test::makeDirs(dir / "none");
    EXPECT_EQ(rule.skipReason(dir / "none", folderStat(), false), std::nullopt);
}

TEST(ScanRuleTest, AppsAndLibraries) {
    AppAndLibraryRule rule;
    EXPECT_EQ(rule.skipReason("/h/Tool.APP", folderStat(), true), "App or app component");
    EXPECT_EQ(rule.skipReason("/h/Tool.AppImage", fileStat(), false), "App or app component");
    EXPECT_EQ(rule.skipReason("/h/Kit.vst3", fileStat(), false), "App or app component");
    EXPECT_EQ(rule.skipReason("/h/Photos.photoslibrary", folderStat(), true), "App library (photos, music or video…)");
    EXPECT_EQ(rule.skipReason("/h/Cat.lrcat-data", folderStat(), false), "App library (photos, music or video…)");
    EXPECT_EQ(rule.skipReason("/h/Trip.mov", fileStat(), false), std::nullopt);
    EXPECT_EQ(rule.skipReasonForAncestorsOf("/h/Tool.app/Contents/MacOS/tool"), "App or app component (inside “Tool.app”)");
    EXPECT_EQ(rule.skipReasonForAncestorsOf("/h/Lib.musiclibrary/a/b"),
              "App library (photos, music or video…) (inside “Lib.musiclibrary”)");
    EXPECT_EQ(rule.skipReasonForAncestorsOf("/h/Tool.app"), std::nullopt);
}

TEST(ScanRuleTest, OlderCopiesIgnoreCaseAndPinsDoNot) {
    test::TempDir dir;
    OlderCopyRule older({"/users/ann/film"});
    EXPECT_EQ(older.skipReason("/Users/Ann/Film", fileStat(), false), "An older copy is still on your drive");
    EXPECT_EQ(older.skipReason("/Users/Ann/Film/a", fileStat(), false), "An older copy is still on your drive");
    EXPECT_EQ(older.skipReason("/Users/Ann/Films", fileStat(), false), std::nullopt);
    EXPECT_EQ(older.skipReasonForAncestorsOf("/Users/ANN/film/x"), "Inside a folder whose older copy is still on your drive");
    EXPECT_TRUE(older.keepsTogether("/Users/Ann"));
    EXPECT_FALSE(older.keepsTogether("/Users/Ann/Fil"));

    test::makeDirs(dir / "Ann/Film");
    OlderCopyRule onDisk({dir / "ANN/FILM"});
    EXPECT_EQ(onDisk.skipReasonWhole(dir / "Ann", WholeKind::chosen), "Holds an item whose older copy is still on your drive");
    EXPECT_EQ(onDisk.skipReasonWhole(dir / "Ann/Film", WholeKind::chosen), "An older copy is still on your drive");

    PinnedRule pinned({"/a/b"}, "Kept on this computer", "Inside a folder kept on this computer", "Holds something kept on this computer");
    EXPECT_EQ(pinned.skipReason("/A/B", fileStat(), false), std::nullopt);
    EXPECT_EQ(pinned.skipReason("/a/b", fileStat(), false), "Kept on this computer");
    EXPECT_EQ(pinned.skipReason("/a/b/c", fileStat(), false), "Kept on this computer");
    EXPECT_EQ(pinned.skipReason("/a/bc", fileStat(), false), std::nullopt);
    EXPECT_EQ(pinned.skipReasonForAncestorsOf("/a/b/c"), "Inside a folder kept on this computer");
    EXPECT_EQ(pinned.skipReasonForAncestorsOf("/a/bc/d"), std::nullopt);
    EXPECT_EQ(pinned.skipReasonWhole("/a", WholeKind::chosen), "Holds something kept on this computer");
    EXPECT_EQ(pinned.skipReasonWhole("/a/b/c", WholeKind::chosen), "Kept on this computer");
    EXPECT_EQ(pinned.skipReasonWhole("/a/bc", WholeKind::chosen), std::nullopt);
    EXPECT_FALSE(pinned.keepsTogether("/a"));
}

TEST(ScanRuleTest, DefaultWholeReasonNeedsTheFolder) {
    test::TempDir dir;
    AppAndLibraryRule rule;
    EXPECT_EQ(rule.skipReasonWhole(dir / "gone.app", WholeKind::chosen), std::nullopt);
    test::makeDirs(dir / "there.app");
    EXPECT_EQ(rule.skipReasonWhole(dir / "there.app", WholeKind::chosen), "App or app component");
}

TEST(NeverTouchTest, Tables) {
    const auto& system = NeverTouch::systemFolders();
    EXPECT_EQ(std::vector<std::string>(system.begin(), system.begin() + 10),
              (std::vector<std::string>{"/System", "/Library", "/Applications", "/usr", "/bin", "/sbin", "/opt",
                                        "/private", "/cores", "/Volumes"}));
    EXPECT_EQ(system.size(), 10 + NeverTouch::linuxSystemFolders().size());
    for (const auto& folder : system) {
        EXPECT_NE(folder, "/home");
        EXPECT_NE(folder, "/root");
    }
    EXPECT_EQ(NeverTouch::credentialFolders(),
              (std::vector<std::string>{".ssh", ".gnupg", ".password-store", ".aws", ".azure", ".kube", ".docker",
                                        ".netrc"}));
    test::TempDir dir;
    std::string home = dir / "home";
    auto standard = NeverTouch::standardFolders(home + "/");
    ASSERT_GE(standard.size(), 12u);
    EXPECT_EQ(standard[0], home + "/Desktop");
    EXPECT_EQ(standard[9], home + "/Library");
    EXPECT_EQ(standard[10], home + "/Videos");
    EXPECT_EQ(standard[11], home + "/Templates");
    EXPECT_EQ(standard.size(), 12u);

    test::writeFile(home + "/.config/user-dirs.dirs",
                    "# written by xdg-user-dirs-update\n"
                    "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"
                    "XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n"
                    "XDG_MUSIC_DIR=\"$HOME/Mu\\\"sik\"\n"
                    "XDG_PUBLICSHARE_DIR=\"$HOME/\"\n"
                    "XDG_TEMPLATES_DIR=\"/elsewhere/Vorlagen\"\n"
                    "XDG_VIDEOS_DIR=\"" + home + "/Filme/\"\n"
                    "XDG_BROKEN_DIR=\"$HOME/unterminated\n"
                    "NOT_A_KEY=\"$HOME/x\"\n");
    standard = NeverTouch::standardFolders(home);
    EXPECT_EQ(std::vector<std::string>(standard.begin() + 12, standard.end()),
              (std::vector<std::string>{home + "/Schreibtisch", home + "/Mu\"sik", home + "/Filme"}));
}

TEST(NeverTouchTest, RuleListsInOrder) {
    test::TempDir dir;
    std::string home = dir / "home";
    test::makeDirs(home + "/Library/Keep");
    test::makeDirs(home + "/chosen/.ssh");
    test::writeFile(home + "/chosen/.ssh/id", "");

    auto automatic = NeverTouch::rules(home, {home + "/Library/Keep"}, {home + "/back"}, {home + "/old"},
                                       NeverTouch::systemFolders());
    ASSERT_EQ(automatic.size(), 7u);
    // A pin inside Library: the protected location speaks first.
    EXPECT_EQ(firstReason(automatic, home + "/Library/Keep"), "Inside your Library folder");
    EXPECT_EQ(firstReason(automatic, home + "/back/x"), "Inside a folder brought back recently");
    EXPECT_EQ(firstReason(automatic, home + "/old"), "An older copy is still on your drive");
    EXPECT_EQ(firstWholeReason(automatic, home + "/back", WholeKind::chosen), "Brought back recently");
    EXPECT_EQ(firstReason(automatic, home + "/Movies/x.mov"), std::nullopt);
    EXPECT_EQ(firstReason(automatic, dir / "outside"), "A system folder");

    auto chosen = NeverTouch::rulesForChosen(home, {}, {}, NeverTouch::systemFolders());
    ASSERT_EQ(chosen.size(), 7u);
    // Only the home's own credential folders count: a ".ssh" elsewhere is plain data,
    // while the home itself holds the real ones.
    EXPECT_EQ(firstReason(chosen, home + "/chosen"), std::nullopt);
    EXPECT_EQ(firstWholeReason(chosen, home + "/chosen", WholeKind::chosen), std::nullopt);
    // The home holds the program's own records, which are named first.
    EXPECT_EQ(firstWholeReason(chosen, home, WholeKind::chosen), "Holds Keldwick's own records");
    EXPECT_EQ(firstReason(chosen, home + "/.ssh/id_ed25519"), "Holds keys or passwords");
    EXPECT_EQ(firstReason(chosen, home + "/.netrc"), "Holds keys or passwords");
}

// The home's hidden entries hold the apps' settings, keys and data, and the program's own
// folders hold its records: none of them leaves by a scan or by hand (the engine asks
// recheckItem before every move), except what the system data window offers. Handing
// over the settings file once made the program forget its drive.
TEST(NeverTouchTest, HiddenHomeEntriesAndTheProgramsOwnFoldersStay) {
    test::TempDir dir;
    const std::string home = dir / "home";
    const char* saved = std::getenv("XDG_DATA_HOME");
    const std::string savedData = saved ? saved : "";
    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("XDG_CONFIG_HOME");
    for (auto file : {".local/share/Keldwick/settings.json", ".local/share/keyrings/login.keyring",
                      ".mozilla/firefox/profiles.ini", ".config/dconf/user", ".config/Keldwick/Keldwick.conf",
                      ".bashrc", ".ssh/id_ed25519", ".ollama/models/blobs/a", ".android/avd/Pixel.avd/disk.img",
                      ".android/avd/Pixel.ini", "Documents/report.pdf", ".local/share/Steam/steamapps/game.pak",
                      ".local/share/gnome-shell/extensions/x", ".var/app/org.gimp.GIMP/data/x"}) {
        test::writeFile(home + "/" + file, "x");
    }
    const auto automatic = NeverTouch::rules(home, {}, {}, {}, {});
    const auto chosen = NeverTouch::rulesForChosen(home, {}, {}, {});
    const std::string own = "Part of Keldwick's own records";
    const std::string hidden = "Your apps' hidden settings and data";
    struct Case {
        std::string path;
        std::optional<WholeKind> whole;
        Reason automatic, chosen;
    };
    const Case cases[] = {
        {home + "/.local/share/Keldwick/settings.json", std::nullopt, own, own},
        {home + "/.local/share/Keldwick", WholeKind::chosen, own, own},
        {home + "/.config/Keldwick/Keldwick.conf", std::nullopt, own, own},
        {home + "/.local/share/keyrings/login.keyring", std::nullopt, hidden, hidden},
        {home + "/.local/share/keyrings", WholeKind::chosen, hidden, hidden},
        {home + "/.mozilla", WholeKind::chosen, hidden, hidden},
        {home + "/.config/dconf/user", std::nullopt, hidden, hidden},
        {home + "/.bashrc", std::nullopt, hidden, hidden},
        {home + "/.ssh/id_ed25519", std::nullopt, "Holds keys or passwords", "Holds keys or passwords"},
        // What the system data window offers may go, by hand only.
        {home + "/.ollama/models", WholeKind::chosen, hidden, std::nullopt},
        {home + "/.android/avd/Pixel.avd", WholeKind::chosen, hidden, std::nullopt},
        {home + "/.android/avd", WholeKind::chosen, hidden, hidden},
        {home + "/.android/avd/Pixel.ini", std::nullopt, hidden, hidden},
        {home + "/.local/share/Steam", WholeKind::chosen, hidden, std::nullopt},
        {home + "/.local/share/Steam/steamapps/game.pak", std::nullopt, hidden, std::nullopt},
        {home + "/.local/share/gnome-shell", WholeKind::chosen, hidden, hidden},
        {home + "/.local/share", WholeKind::chosen, "Holds Keldwick's own records", "Holds Keldwick's own records"},
        {home + "/.var/app/org.gimp.GIMP", WholeKind::chosen, "Managed by Flatpak", "Managed by Flatpak"},
        {home + "/Documents/report.pdf", std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(recheckItem(c.path, automatic, c.whole), c.automatic) << c.path;
        EXPECT_EQ(recheckItem(c.path, chosen, c.whole), c.chosen) << c.path;
    }

    // Where the environment puts the support folder elsewhere, it is still named, and a
    // folder holding it never moves whole.
    ::setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
    test::writeFile(home + "/data/Keldwick/journal.sqlite", "x");
    const auto elsewhere = NeverTouch::rulesForChosen(home, {}, {}, {});
    EXPECT_EQ(recheckItem(home + "/data/Keldwick/journal.sqlite", elsewhere, std::nullopt), own);
    EXPECT_EQ(recheckItem(home + "/data", elsewhere, WholeKind::chosen), "Holds Keldwick's own records");
    if (saved) ::setenv("XDG_DATA_HOME", savedData.c_str(), 1);
    else ::unsetenv("XDG_DATA_HOME");
}
