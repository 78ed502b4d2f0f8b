#include "core/platform/file_system.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "temp_dir.h"

namespace pellora {
namespace {

TEST(CreateFolderPath, CreatesEveryMissingLevel) {
  TTempDir dir;
  EXPECT_TRUE(CreateFolderPath(dir.File("a/b/c")));
  EXPECT_TRUE(IsFolder(dir.File("a/b/c")));
  EXPECT_TRUE(CreateFolderPath(dir.File("a/b/c")));  // already there
  dir.Write("file", "");
  EXPECT_FALSE(CreateFolderPath(dir.File("file/sub")));
  EXPECT_FALSE(CreateFolderPath(""));
}

TEST(JoinNewFolderPath, OneSeparatorBetween) {
  EXPECT_EQ(JoinNewFolderPath("C:\\dl", "new", "\\"), "C:\\dl\\new");
  EXPECT_EQ(JoinNewFolderPath("C:\\dl\\", "new", "\\"), "C:\\dl\\new");
  EXPECT_EQ(JoinNewFolderPath("C:\\dl", "\\new", "\\"), "C:\\dl\\new");
  EXPECT_EQ(JoinNewFolderPath("/home/u", "新規", "/"), "/home/u/新規");
}

}  // namespace
}  // namespace pellora
