#include "ui/FileIcons.h"

#include <gtest/gtest.h>

namespace keldwick {
namespace {

TEST(FileIconsTest, FoldersAreFoldersAndFilesGoByTheirType) {
    struct Case {
        const char* path;
        bool isFolder;
        QString first;
        QString fallback;
    };
    const Case cases[] = {
        {"/home/u/photo.png", false, QStringLiteral("image-png"), QStringLiteral("image-x-generic")},
        {"/home/u/photo.png", true, QStringLiteral("inode-directory"), QStringLiteral("folder")},
        {"/home/u/Projects", true, QStringLiteral("inode-directory"), QStringLiteral("folder")},
        {"/home/u/notes.txt", false, QStringLiteral("text-plain"), QStringLiteral("text-x-generic")},
        {"/home/u/no-extension", false, QStringLiteral("application-octet-stream"), QStringLiteral("text-x-generic")},
    };
    for (const Case& c : cases) {
        QStringList names = iconNamesForPath(c.path, c.isFolder);
        ASSERT_FALSE(names.isEmpty()) << c.path;
        EXPECT_EQ(names.front(), c.first) << c.path << " " << names.join(u' ').toStdString();
        EXPECT_TRUE(names.contains(c.fallback)) << c.path << " " << names.join(u' ').toStdString();
        EXPECT_FALSE(iconForPath(c.path, c.isFolder).isNull()) << c.path;
    }
}

}  // namespace
}  // namespace keldwick
