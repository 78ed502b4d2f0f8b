#include "core/platform/store_removal.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace pellora {
namespace {

namespace fs = std::filesystem;
using TOutcome = TStoreRemoval::TMakerKeyOutcome;

// A fresh folder for each test: <root>/config stands for the user's config folder.
class StoreRemovalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "pellora-purge-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    Root = pattern;
    Config = Root / "config";
    Maker = Config / "Varnel";
    fs::create_directories(Maker);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(Root, ignored);
  }
  static void Touch(const fs::path& path) { std::ofstream(path) << "[General]\n"; }

  fs::path Root, Config, Maker;
};

TEST_F(StoreRemovalTest, RemovesStoreAndEmptiedMakerFolder) {
  Touch(Maker / "Pellora.conf");
  Touch(Maker / "Pellora.conf.lock");  // left behind by a crash
  const TStoreRemoval store(Config.string());
  EXPECT_EQ(store.SettingsKey(), (Maker / "Pellora.conf").string());
  EXPECT_EQ(store.MakerKey(), Maker.string());

  ASSERT_TRUE(store.SettingsKeyExists());
  ASSERT_TRUE(store.DeleteSettingsKey());
  EXPECT_FALSE(store.SettingsKeyExists());
  EXPECT_EQ(store.RemoveMakerKeyIfEmpty(), TOutcome::Deleted);
  EXPECT_FALSE(fs::exists(Maker));
  EXPECT_TRUE(fs::exists(Config));
}

TEST_F(StoreRemovalTest, KeepsMakerFolderWithAnotherProduct) {
  Touch(Maker / "Pellora.conf");
  Touch(Maker / "Other.conf");
  fs::create_directory(Maker / "Third");
  const TStoreRemoval store(Config.string());
  ASSERT_TRUE(store.DeleteSettingsKey());
  EXPECT_EQ(store.RemoveMakerKeyIfEmpty(), TOutcome::Kept);
  EXPECT_TRUE(fs::exists(Maker / "Other.conf"));
  EXPECT_TRUE(fs::exists(Maker / "Third"));
  EXPECT_FALSE(fs::exists(Maker / "Pellora.conf"));
}

TEST_F(StoreRemovalTest, AbsentStore) {
  const TStoreRemoval store(Config.string());
  EXPECT_FALSE(store.SettingsKeyExists());
  fs::remove(Maker);
  EXPECT_FALSE(store.SettingsKeyExists());
  EXPECT_FALSE(fs::exists(Maker)) << "looking must not create the maker's folder";
}

TEST_F(StoreRemovalTest, LinkedMakerFolderIsFollowedButKept) {
  // The maker's folder is a link into the user's own collection of settings.
  const fs::path linked = Root / "dotfiles" / "Varnel";
  fs::create_directories(linked);
  Touch(linked / "Pellora.conf");
  Touch(linked / "Pellora.conf.lock");
  fs::remove(Maker);
  fs::create_directory_symlink(linked, Maker);
  const TStoreRemoval store(Config.string());
  ASSERT_TRUE(store.SettingsKeyExists());
  EXPECT_TRUE(store.DeleteSettingsKey());
  EXPECT_FALSE(store.SettingsKeyExists());
  EXPECT_FALSE(fs::exists(linked / "Pellora.conf"));
  EXPECT_FALSE(fs::exists(linked / "Pellora.conf.lock"));
  // Empty now, but neither the link nor the folder it points to is removed.
  EXPECT_EQ(store.RemoveMakerKeyIfEmpty(), TOutcome::Kept);
  EXPECT_TRUE(fs::is_symlink(Maker));
  EXPECT_TRUE(fs::is_directory(linked));

  // A link whose folder is gone: no store, and the link stays.
  fs::remove(linked);
  EXPECT_FALSE(store.SettingsKeyExists());
  EXPECT_EQ(store.RemoveMakerKeyIfEmpty(), TOutcome::Kept);
  EXPECT_TRUE(fs::is_symlink(Maker));
}

TEST_F(StoreRemovalTest, NothingOutsideTheMakersFolderIsDeleted) {
  const fs::path elsewhere = Root / "elsewhere";
  fs::create_directory(elsewhere);

  // The store is a link to a file elsewhere: the link goes, the file stays.
  Touch(elsewhere / "keep.txt");
  fs::create_symlink(elsewhere / "keep.txt", Maker / "Pellora.conf");
  const TStoreRemoval store(Config.string());
  EXPECT_TRUE(store.DeleteSettingsKey());
  EXPECT_FALSE(fs::is_symlink(Maker / "Pellora.conf"));
  EXPECT_TRUE(fs::exists(elsewhere / "keep.txt"));

  // A folder in the store's place is not a store.
  fs::create_directory(Maker / "Pellora.conf");
  Touch(Maker / "Pellora.conf" / "data");
  EXPECT_TRUE(store.SettingsKeyExists());
  EXPECT_FALSE(store.DeleteSettingsKey());
  EXPECT_TRUE(fs::exists(Maker / "Pellora.conf" / "data"));
}

// Sets an environment variable for one scope.
class TScopedEnv {
 public:
  TScopedEnv(const char* name, const char* value) : Name(name) {
    if (const char* old = std::getenv(name)) Old = old;
    ::setenv(name, value, 1);
  }
  ~TScopedEnv() {
    if (Old) {
      ::setenv(Name, Old->c_str(), 1);
    } else {
      ::unsetenv(Name);
    }
  }

 private:
  const char* Name;
  std::optional<std::string> Old;
};

TEST_F(StoreRemovalTest, RelativeLocationsHaveNoStore) {
  // A store below the current directory must not be found through a relative HOME.
  const fs::path oldCwd = fs::current_path();
  fs::current_path(Root);
  fs::create_directories(Root / "home/.config/Varnel");
  Touch(Root / "home/.config/Varnel/Pellora.conf");
  {
    TScopedEnv xdg("XDG_CONFIG_HOME", "config");
    TScopedEnv home("HOME", "home");
    const TStoreRemoval store;
    EXPECT_FALSE(store.SettingsKeyExists());
    EXPECT_FALSE(store.DeleteSettingsKey());
    EXPECT_EQ(store.RemoveMakerKeyIfEmpty(), TOutcome::DeleteFailed);
  }
  {
    TScopedEnv xdg("XDG_CONFIG_HOME", Config.c_str());
    Touch(Maker / "Pellora.conf");
    const TStoreRemoval store;
    EXPECT_EQ(store.SettingsKey(), (Maker / "Pellora.conf").string()) << "absolute: used";
    EXPECT_TRUE(store.DeleteSettingsKey());
  }
  fs::current_path(oldCwd);
  EXPECT_TRUE(fs::exists(Root / "home/.config/Varnel/Pellora.conf"));
}

}  // namespace
}  // namespace pellora
