#include "core/platform/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "temp_dir.h"

namespace pellora {
namespace {

// Storing a downloaded file, by copy (the temporary folder on another file system)
// and by move: the target is replaced whole or not at all.
TEST(StoreFileAs, CopyOrMoveReplacesTheTargetWhole) {
  TTempDir dir;
  const std::string body(300000, 'b');
  for (bool move : {false, true}) {
    SCOPED_TRACE(move ? "move" : "copy");
    dir.Write("src.bin", body);
    dir.Write("dst.bin", "old");
    ASSERT_EQ(::chmod(dir.File("src.bin").c_str(), 0600), 0);
    EXPECT_EQ(StoreFileAs(dir.File("src.bin"), dir.File("dst.bin"), move), move);
    EXPECT_EQ(dir.Read("dst.bin"), body);
    EXPECT_EQ(std::filesystem::exists(dir.File("src.bin")), !move);
    struct stat info {};
    ASSERT_EQ(::stat(dir.File("dst.bin").c_str(), &info), 0);
    EXPECT_NE(info.st_mode & 0044, 0u) << "a stored file is not private like a temporary one";
  }
}

TEST(StoreFileAs, AFailedCopyLeavesTheOldFileAndNoTemporary) {
  TTempDir dir;
  dir.Write("src.bin", "new");
  std::filesystem::create_directory(dir.File("in_the_way"));
  dir.Write("in_the_way/keep", "x");
  try {
    StoreFileAs(dir.File("src.bin"), dir.File("in_the_way"), false);
    FAIL() << "a folder cannot be replaced by a file";
  } catch (const EFileError& error) {
    EXPECT_EQ(error.Path, dir.File("in_the_way"));
    EXPECT_FALSE(DescribeFileError(error.Error).empty());
  }
  EXPECT_EQ(dir.Read("in_the_way/keep"), "x");
  size_t entries = 0;
  for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator(dir.Path)) ++entries;
  EXPECT_EQ(entries, 2u);
  EXPECT_THROW(StoreFileAs(dir.File("missing.bin"), dir.File("x.bin"), true), EFileError);
  EXPECT_FALSE(std::filesystem::exists(dir.File("x.bin")));
}

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
