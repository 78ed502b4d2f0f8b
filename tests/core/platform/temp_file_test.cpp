#include "core/platform/temp_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <filesystem>
#include <set>

#include "core/platform/file_system.h"
#include "core/platform/text_codec.h"
#include "temp_dir.h"

namespace pellora {
namespace {

std::set<std::string> Entries(const TTempDir& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

TEST(TTempFile, CommitReplacesTheTargetWholeWithTheUsualMode) {
  TTempDir dir;
  TTempLeftovers leftovers;
  dir.Write("dst.bin", "old");
  const std::string body(300000, 'b');
  {
    TTempFile temp(dir.File("dst.bin"));
    const std::string name = std::filesystem::path(temp.Path()).filename().string();
    EXPECT_EQ(std::filesystem::path(temp.Path()).parent_path(), dir.Path);
    EXPECT_TRUE(name.starts_with(".dst.bin.pel")) << name;
    EXPECT_EQ(name.size(), std::string(".dst.bin.pel").size() + 6) << name;
    dir.Write(name, body);
    EXPECT_EQ(dir.Read("dst.bin"), "old");
    temp.Commit(leftovers);
  }
  EXPECT_EQ(Entries(dir), std::set<std::string>{"dst.bin"});
  EXPECT_EQ(dir.Read("dst.bin"), body);
  EXPECT_EQ(ModeOf(dir.File("dst.bin")), NewFileMode());

  {
    TTempFile dropped(dir.File("dst.bin"));
    dir.Write(std::filesystem::path(dropped.Path()).filename().string(), "unfinished");
  }
  EXPECT_EQ(Entries(dir), std::set<std::string>{"dst.bin"});
  EXPECT_EQ(dir.Read("dst.bin"), body);
}

// Whatever refuses the store, the old file stays as it was and nothing is left.
TEST(TTempFile, ARefusedStoreLeavesTheTargetAndNoTemporary) {
  TTempDir dir;
  TTempLeftovers leftovers;
  dir.Write("ro.bin", "mine");
  ASSERT_EQ(::chmod(dir.File("ro.bin").c_str(), 0444), 0);
  try {
    TTempFile temp(dir.File("ro.bin"));
    FAIL() << "a read-only target is refused before anything is fetched";
  } catch (const EFileError& error) {
    EXPECT_EQ(error.Path, dir.File("ro.bin"));
    EXPECT_EQ(error.Error, EACCES);
  }

  dir.Write("late.bin", "mine");
  std::filesystem::create_directory(dir.File("folder"));
  dir.Write("folder/keep", "x");
  for (const char* target : {"late.bin", "folder"}) {
    SCOPED_TRACE(target);
    TTempFile temp(dir.File(target));
    dir.Write(std::filesystem::path(temp.Path()).filename().string(), "new");
    ::chmod(dir.File("late.bin").c_str(), 0444);  // made read-only during the transfer
    EXPECT_THROW(temp.Commit(leftovers), EFileError);
  }
  EXPECT_EQ(Entries(dir), (std::set<std::string>{"ro.bin", "late.bin", "folder"}));
  EXPECT_EQ(dir.Read("ro.bin"), "mine");
  EXPECT_EQ(dir.Read("late.bin"), "mine");
  EXPECT_EQ(dir.Read("folder/keep"), "x");
  EXPECT_EQ(ModeOf(dir.File("ro.bin")), 0444u);
}

TEST(TTempFile, CommitRemovesLeftoversOfItsTargetOnly) {
  TTempDir dir;
  TTempLeftovers leftovers;
  for (const char* name : {".a.jpg.pelXy1234", ".a.jpg.pelXy12", ".a.jpg.pelXy12345",
                           ".b.jpg.pelXy1234", ".a.jpg.pel-y1234", "a.jpg.pelXy1234"}) {
    dir.Write(name, "left");
  }
  std::filesystem::create_directory(dir.File(".a.jpg.pelDir123"));
  TTempFile inUse(dir.File("a.jpg"));  // another run, still writing
  const std::string inUseName = std::filesystem::path(inUse.Path()).filename().string();
  TTempFile temp(dir.File("a.jpg"));
  temp.Commit(leftovers);
  EXPECT_EQ(Entries(dir),
            (std::set<std::string>{"a.jpg", inUseName, ".a.jpg.pelXy12", ".a.jpg.pelXy12345",
                                   ".b.jpg.pelXy1234", ".a.jpg.pel-y1234", "a.jpg.pelXy1234",
                                   ".a.jpg.pelDir123"}));
  // The folder was read once; what it held of another target goes when that is stored.
  TTempFile other(dir.File("b.jpg"));
  other.Commit(leftovers);
  EXPECT_FALSE(std::filesystem::exists(dir.File(".b.jpg.pelXy1234")));
}

TEST(TTempFile, LongNamesAreShortenedToFit) {
  TTempDir dir;
  TTempLeftovers leftovers;
  std::string japanese;
  while (japanese.size() < NAME_MAX - 3) japanese += "あ";  // three bytes each
  for (const std::string& name : {std::string(NAME_MAX, 'n'), japanese, std::string("x")}) {
    SCOPED_TRACE(name.size());
    const std::string prefix = std::filesystem::path(TempFilePrefix(dir.File(name))).filename();
    EXPECT_LE(prefix.size() + 6, static_cast<size_t>(NAME_MAX));
    EXPECT_TRUE(prefix.starts_with("." + name.substr(0, 3)) && prefix.ends_with(".pel")) << prefix;
    EXPECT_TRUE(IsValidUtf8(prefix)) << "cut inside a character";
    dir.Write(name, "old");
    TTempFile temp(dir.File(name));
    temp.Commit(leftovers);
    EXPECT_EQ(dir.Read(name), "");
  }
}

// A failed write during a transfer does not say why; the file can tell.
TEST(TTempFile, WriteErrorTellsWhyWritingFails) {
  TTempDir dir;
  TTempFile temp(dir.File("big.bin"));
  EXPECT_EQ(temp.WriteError(), 0);
  EXPECT_EQ(std::filesystem::file_size(temp.Path()), 0u) << "the probe leaves no byte behind";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A file-size limit as a user's shell may set it.
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{0, 0};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::_exit(temp.WriteError() == EFBIG ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace pellora
