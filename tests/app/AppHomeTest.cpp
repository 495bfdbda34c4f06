// Where the player keeps its files: the folder named on the command line,
// the program's own folder, the configuration folders of the environment and
// of the user's account entry; and that an installed program never writes
// beside itself, also when there is no home folder at all.
#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include "app/AppHome.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using app::ChooseHome;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

// A program folder with the program in it, installed (the marker beside it)
// or as built.
fs::path ProgramFolder(const TempDir& dir, bool installed) {
  const fs::path folder = dir / (installed ? "libexec" : "build");
  fs::create_directories(folder);
  WriteFileBytes(folder / "Dravik", "program");
  if (installed) WriteFileBytes(folder / app::kInstalledMarker, "");
  return folder;
}

TEST(AppHome, TheFolderNamedOnTheCommandLineComesFirstAndIsMade) {
  TempDir dir;
  const fs::path program = ProgramFolder(dir, true);
  const app::AppHome home = ChooseHome((dir / "mine/../chosen").string(), program, "/xdg", "/home/u", "/root");
  EXPECT_EQ(home.folder, dir / "chosen");
  EXPECT_TRUE(home.chosen_explicitly);
  EXPECT_TRUE(fs::is_directory(dir / "chosen"));
}

TEST(AppHome, AProgramAsBuiltKeepsItsFilesBesideItself) {
  TempDir dir;
  const fs::path program = ProgramFolder(dir, false);
  EXPECT_EQ(ChooseHome("", program, (dir / "xdg").string(), (dir / "user").string(), "").folder, program);
  EXPECT_EQ(ChooseHome("", program.string() + "/", "", "", "").folder, program) << "a trailing separator";
}

TEST(AppHome, AnInstalledProgramUsesTheEnvironmentsConfigurationFolder) {
  TempDir dir;
  const fs::path program = ProgramFolder(dir, true);
  const fs::path account = dir / "account";
  fs::create_directories(account);
  EXPECT_EQ(ChooseHome("", program, (dir / "xdg").string(), (dir / "user").string(), account.string()).folder,
            dir / "xdg" / "Dravik");
  EXPECT_TRUE(fs::is_directory(dir / "xdg" / "Dravik"));
  // A relative XDG_CONFIG_HOME is ignored, as the XDG base directory rules have it.
  EXPECT_EQ(ChooseHome("", program, "relative", (dir / "user").string(), account.string()).folder,
            dir / "user" / ".config" / "Dravik");
  EXPECT_EQ(Names(program), (std::set<std::string>{"Dravik", app::kInstalledMarker}));
}

TEST(AppHome, AnInstalledProgramWithoutHomeInTheEnvironmentUsesTheAccountsHome) {
  TempDir dir;
  const fs::path program = ProgramFolder(dir, true);
  const fs::path account = dir / "account";
  fs::create_directories(account);
  const app::AppHome home = ChooseHome("", program, "", "", account.string());
  EXPECT_EQ(home.folder, account / ".config" / "Dravik");
  EXPECT_FALSE(home.chosen_explicitly);
  EXPECT_TRUE(fs::is_directory(account / ".config" / "Dravik"));
  EXPECT_EQ(Names(program), (std::set<std::string>{"Dravik", app::kInstalledMarker})) << "nothing beside the program";
}

TEST(AppHome, AnInstalledProgramWithNoHomeAnywhereHasNone) {
  TempDir dir;
  const fs::path program = ProgramFolder(dir, true);
  // No account entry, a service account's made-up folder, the root folder,
  // a relative one: none is a home. The program's folder is writable (as it
  // is for root under /usr), and still not taken.
  for (const std::string& account : {std::string(), (dir / "nonexistent").string(), std::string("/"),
                                    std::string("account")}) {
    const app::AppHome home = ChooseHome("", program, "", "", account);
    EXPECT_TRUE(home.folder.empty()) << "account home '" << account << "': " << home.folder;
    EXPECT_FALSE(fs::exists(dir / "nonexistent")) << "a made-up home is not made";
  }
  EXPECT_EQ(Names(program), (std::set<std::string>{"Dravik", app::kInstalledMarker}));
}

TEST(AppHome, AProgramAsBuiltInAFolderItCannotWriteFallsBackToTheAccountsHome) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write in any folder";
  TempDir dir;
  const fs::path program = ProgramFolder(dir, false);
  const fs::path account = dir / "account";
  fs::create_directories(account);
  fs::permissions(program, fs::perms::owner_write, fs::perm_options::remove);
  EXPECT_EQ(ChooseHome("", program, "", "", account.string()).folder, account / ".config" / "Dravik");
  EXPECT_EQ(ChooseHome("", program, "", "", "").folder, program) << "nowhere else: its own, which says so";
  fs::permissions(program, fs::perms::owner_write, fs::perm_options::add);
}

TEST(AppHome, TheAccountsHomeIsThePasswordEntrys) {
  const passwd* entry = ::getpwuid(::getuid());
  EXPECT_EQ(app::AccountHome(), entry && entry->pw_dir ? std::string(entry->pw_dir) : std::string());
}

}  // namespace
