// Seeds a support folder for the program's benchmark: settings with setup done and a
// drive chosen (not plugged in), and a journal of COUNT items moved to that drive, written
// by the core's own journal, each with its link in HOME/Downloads as a move leaves it (the
// program's start-up check then finds every link in place, as on a user's computer,
// rather than rewriting every record as a shortcut removed).
// usage: seed_journal SUPPORT-FOLDER HOME COUNT

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "foundation/Clock.h"
#include "foundation/Journal.h"
#include "foundation/PathUtil.h"
#include "scanning/SettingsStore.h"

using namespace keldwick;

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: seed_journal SUPPORT-FOLDER HOME COUNT\n");
        return 2;
    }
    const std::string support = argv[1], home = argv[2];
    const long count = std::strtol(argv[3], nullptr, 10);
    const Drive drive{"6F1C2A5E-0000-4000-8000-00000000BE4C", "Archive"};

    AppSettings settings;
    settings.onboardingComplete = true;
    settings.drive = drive;
    settings.managedFolders = {PathUtil::join(home, "Downloads")};
    SettingsStore{PathUtil::join(support, "settings.json")}.save(settings);

    const std::string downloads = PathUtil::join(home, "Downloads");
    std::filesystem::create_directories(downloads);
    Journal journal(PathUtil::join(support, "journal.sqlite"), Clock::system());
    const Date now = Clock::system()->now();
    journal.transaction([&] {
        for (long i = 0; i < count; ++i) {
            const std::string name = "item-" + std::to_string(i) + ".bin";
            const std::string link = PathUtil::join(downloads, name), onDrive = "Keldwick/Downloads/" + name;
            if (symlink(("/media/bench/Archive/" + onDrive).c_str(), link.c_str()) != 0) {
                std::perror(link.c_str());
                std::exit(1);
            }
            NewRecord record{link, drive.id, onDrive, false,
                             1'000'000 + i, now.adding(-100.0 * 86'400), Phase::offloaded,
                             std::string(64, 'a'), now.adding(-static_cast<double>(count - i))};
            journal.insert(record);
        }
    });
    std::printf("seeded %ld records\n", count);
    return 0;
}
