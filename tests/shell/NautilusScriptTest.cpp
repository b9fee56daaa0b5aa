// The Nautilus action is a script that /bin/sh runs, in whatever locale the session has:
// the program's path in it must be one sh word for any install prefix.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "support/TempDir.h"

namespace keldwick {
namespace {

std::string shWord(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

TEST(NautilusScriptTest, ShRunsTheProgramUnderAnyPrefixInTheCLocale) {
    test::TempDir dir;
    // A prefix with a non-ASCII letter, a tab and a single quote.
    const std::string prefix = dir / "Programme d\xc3\xa9j\xc3\xa0\tl\xc3\xa0 'ici'";
    // The program stands in as a script that writes down its arguments, one a line.
    const std::string program = test::writeFile(
        prefix + "/bin/keldwick", "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.arguments\"\n");
    ASSERT_EQ(::chmod(program.c_str(), 0755), 0);

    const std::string install = std::string("LC_ALL=C ") + shWord(std::string(KELDWICK_SOURCE_DIR) + "/scripts/install-desktop") +
                                " " + shWord(prefix) + " true >/dev/null";
    ASSERT_EQ(std::system(install.c_str()), 0);

    const std::string script = prefix + "/share/nautilus/scripts/Move to Keldwick Drive";
    const std::string items = dir / "items";
    test::makeDirs(items);
    const std::string launch = "cd " + shWord(items) + " && LC_ALL=C /bin/sh " + shWord(script) + " 'a b' \"it's\"";
    ASSERT_EQ(std::system(launch.c_str()), 0);
    EXPECT_EQ(test::readFile(program + ".arguments"), "--move\na b\nit's\n");
}

}  // namespace
}  // namespace keldwick
