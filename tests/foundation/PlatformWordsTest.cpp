// No text a user sees speaks of another platform: neither what the core's plain
// functions say (engine errors, drive problems, rule reasons) nor any string literal
// of the program or the core.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "drives/DriveMarker.h"
#include "drives/DriveProblem.h"
#include "drives/DriveRefusal.h"
#include "engine/RecoveryTexts.h"
#include "foundation/EngineError.h"
#include "scanning/DevelopmentRule.h"
#include "scanning/NeverTouch.h"
#include "support/PlatformWords.h"

namespace keldwick {
namespace {

using ::testing::IsEmpty;

TEST(PlatformWordsTest, TheListFindsEachWordAndAllowsAFormatsOwnName) {
    EXPECT_EQ(test::otherPlatformWords("Show in Finder on your Mac (macOS)"),
              (std::vector<std::string>{"Mac", "macOS", "Finder"}));
    EXPECT_EQ(test::otherPlatformWords("Keldwick lives in the menu bar"), std::vector<std::string>{"menu bar"});
    EXPECT_EQ(test::otherPlatformWords("Also move code projects and simulators"), std::vector<std::string>{"simulator"});
    EXPECT_THAT(test::otherPlatformWords("Also move code projects and Android emulators"), IsEmpty());
    EXPECT_THAT(test::otherPlatformWords("This drive is formatted as Mac OS Extended."), IsEmpty());
    EXPECT_THAT(test::otherPlatformWords("This drive is formatted as APFS."), IsEmpty());
    EXPECT_EQ(test::otherPlatformWords("Erase it as APFS"), std::vector<std::string>{"APFS"});
    EXPECT_THAT(test::otherPlatformWords("macwindow Machine iMac"), IsEmpty());
    EXPECT_EQ(test::stringLiterals("f(\"a\" /* x */ \"b\"); // \"c\"\n'\"'; g(R\"(d)\", 1'000, \"e\\\"f\");"),
              (std::vector<test::SourceLiteral>{{1, "ab"}, {2, "d"}, {2, "e\\\"f"}}));
}

TEST(PlatformWordsTest, CoreTextsSpeakOfLinux) {
    std::vector<std::string> texts;
    for (const auto& error :
         {EngineError::notEnoughSpaceOnDrive(2, 1), EngineError::notEnoughSpaceOnComputer(2, 1), EngineError::sourceMissing("a"),
          EngineError::notEligible("a", "why"), EngineError::sourceChanged("a"), EngineError::inUse("a", {"vim"}),
          EngineError::checksumMismatch("a"), EngineError::destinationExists("a"), EngineError::driveCopyMissing("a"),
          EngineError::driveCopyCorrupted("a"), EngineError::linkReplaced("a"), EngineError::alreadyManaged("a"),
          EngineError::invalidState("a"), EngineError::unsupportedItem("a"), EngineError::olderCopyOnDrive("a", "b"),
          EngineError::holdsOtherItems("a"), EngineError::metadataNotCopied("a"), EngineError::driveUnavailable()}) {
        texts.push_back(error.what());
    }
    for (const auto& problem :
         {DriveProblem::unsupportedFormat("ntfs"), DriveProblem::unsupportedFormat("hfs"), DriveProblem::unsupportedFormat("apfs"),
          DriveProblem::startupDisk(),
          DriveProblem::internalDisk(), DriveProblem::networkVolume(), DriveProblem::readOnly(),
          DriveProblem::diskImage(), DriveProblem::backups(), DriveProblem::fat32()}) {
        texts.push_back(problem.explanation());
    }
    using Refused = DriveRefusal::Kind;
    for (auto kind : {Refused::notADisk, Refused::anotherOwner, Refused::othersCanChange, Refused::duplicate,
                      Refused::modesFromMount, Refused::noPermissionChecks, Refused::othersCanReplace}) {
        texts.push_back(DriveRefusal{"/media/ann/Stick", kind, "Keldwick folder"}.explanation());
    }
    for (const auto& [folder, reason] : DevelopmentRule::regenerableFolders()) texts.push_back(reason);
    for (const auto& [folder, reason] : NeverTouch::linuxProtectedHomeFolders()) texts.push_back(reason);
    for (const auto& text : {RecoveryTexts::driveNotConnected, RecoveryTexts::shortcutDeleted,
                             RecoveryTexts::shortcutElsewhere, RecoveryTexts::anotherFile}) {
        texts.push_back(text);
    }
    texts.emplace_back(DriveMarker::readMeText());
    for (const auto& text : texts) EXPECT_THAT(test::otherPlatformWords(text), IsEmpty()) << text;
}

TEST(PlatformWordsTest, NoLiteralOfTheProgramOrTheCoreSpeaksOfAnotherPlatform) {
    const std::filesystem::path root = std::filesystem::path(__FILE__).parent_path().parent_path().parent_path();
    size_t literals = 0;
    for (const char* folder : {"app", "core"}) {
        for (const auto& file : test::sourceFiles(root / folder)) {
            std::ifstream in(file);
            std::stringstream source;
            source << in.rdbuf();
            const std::string relative = std::filesystem::relative(file, root).string();
            for (const auto& literal : test::stringLiterals(source.str())) {
                ++literals;
                EXPECT_THAT(test::otherPlatformWords(literal.text), IsEmpty())
                    << relative << ":" << literal.line << ": " << literal.text;
            }
        }
    }
    EXPECT_GT(literals, 1000u);  // the sources were found
}

}  // namespace
}  // namespace keldwick
