#include "desktop/FileManagerEntry.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/TempDir.h"

namespace keldwick {
namespace {

// An installation as `make install` lays it out, with the entries the file managers read.
struct Installed {
    test::TempDir dir;
    std::string prefix = dir / "home/.local";
    std::string executable = prefix + "/lib/keldwick/0.1.0/keldwick";

    Installed() {
        test::writeFile(executable, "");
        test::makeDirs(prefix + "/bin");
        ::symlink("../lib/keldwick/0.1.0/keldwick", (prefix + "/bin/keldwick").c_str());
        test::writeFile(prefix + "/share/nautilus/scripts/Move to Keldwick Drive", "");
        test::writeFile(prefix + "/share/kio/servicemenus/keldwick-move.desktop", "");
        test::writeFile(prefix + "/share/nemo/actions/keldwick-move.nemo_action", "");
    }
    FileManagerEntry::Facts facts(const std::string& desktop) const {
        return {executable, prefix + "/share", {"/usr/local/share", "/usr/share"}, desktop};
    }
};

TEST(FileManagerEntryTest, NamesTheEntryOnlyWhereTheDesktopsFileManagerReadsIt) {
    Installed installed;
    const std::string nautilus = "Scripts \u25B8 Move to Keldwick Drive";
    EXPECT_EQ(FileManagerEntry::place(installed.facts("GNOME")), nautilus);
    EXPECT_EQ(FileManagerEntry::place(installed.facts("ubuntu:GNOME")), nautilus);
    EXPECT_EQ(FileManagerEntry::place(installed.facts("KDE")), "Move to Keldwick Drive");
    EXPECT_EQ(FileManagerEntry::place(installed.facts("X-Cinnamon")), "Move to Keldwick Drive");
    // A file manager without an entry of ours, or no desktop named.
    EXPECT_EQ(FileManagerEntry::place(installed.facts("XFCE")), std::nullopt);
    EXPECT_EQ(FileManagerEntry::place(installed.facts("")), std::nullopt);

    // Installed elsewhere than the user's data folder: Dolphin and Nemo read the system's
    // data folders too, Nautilus only the user's.
    FileManagerEntry::Facts elsewhere = installed.facts("GNOME");
    elsewhere.dataHome = installed.dir / "other";
    EXPECT_EQ(FileManagerEntry::place(elsewhere), std::nullopt);
    elsewhere.dataDirs = {installed.prefix + "/share/"};
    EXPECT_EQ(FileManagerEntry::place(elsewhere), std::nullopt);
    elsewhere.currentDesktop = "KDE";
    EXPECT_EQ(FileManagerEntry::place(elsewhere), "Move to Keldwick Drive");

    // The entry removed, or the program run from a build folder.
    ::unlink((installed.prefix + "/share/nautilus/scripts/Move to Keldwick Drive").c_str());
    EXPECT_EQ(FileManagerEntry::place(installed.facts("GNOME")), std::nullopt);
    FileManagerEntry::Facts built = installed.facts("KDE");
    built.executable = test::writeFile(installed.dir / "build/release/app/keldwick", "");
    EXPECT_EQ(FileManagerEntry::place(built), std::nullopt);
}

}  // namespace
}  // namespace keldwick
