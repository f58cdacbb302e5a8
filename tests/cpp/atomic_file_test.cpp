#include "tarnwick/support/atomic_file.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;
using tarnwick::support::files::commit;
using tarnwick::support::files::FileError;
using tarnwick::support::files::RefusedContent;
using tarnwick::support::files::temporary_name_beside;

namespace {

class AtomicFile : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ =
        fs::temp_directory_path() /
        ("tarnwick-atomic-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(directory_);
    fs::create_directories(directory_);
  }
  void TearDown() override { fs::remove_all(directory_); }

  std::string path(const std::string& name) const { return (directory_ / name).string(); }
  std::vector<std::string> names() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(directory_)) {
      found.push_back(entry.path().filename().string());
    }
    std::sort(found.begin(), found.end());
    return found;
  }
  static std::string read(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
  }

  fs::path directory_;
};

}  // namespace

TEST_F(AtomicFile, AFailedCommitNamesTheFileAndLeavesNothing) {
  const std::string missing = temporary_name_beside(path("a.log"));
  try {
    commit(missing, path("a.log"));
    FAIL() << "no error";
  } catch (const FileError& error) {
    EXPECT_EQ(error.code().value(), ENOENT);
    EXPECT_EQ(error.path(), path("a.log"));
  }
  // A directory in the way of the final name: the rename fails, the temporary file goes.
  fs::create_directories(path("taken"));
  const std::string temporary = temporary_name_beside(path("taken"));
  std::ofstream(temporary) << "x";
  EXPECT_THROW(commit(temporary, path("taken")), FileError);
  EXPECT_EQ(names(), (std::vector<std::string>{"taken"}));
}

TEST_F(AtomicFile, CommitRenamesCheckedContentAndRemovesRefusedContent) {
  std::ofstream(path("ring.gds")) << "old";
  const std::string temporary = temporary_name_beside(path("ring.gds"), ".gds");
  std::ofstream(temporary) << "new";
  std::string seen;
  commit(temporary, path("ring.gds"), [&](std::string_view content) -> std::optional<std::string> {
    seen = content;
    return std::nullopt;
  });
  EXPECT_EQ(seen, "new");
  EXPECT_EQ(read(path("ring.gds")), "new");

  const std::string refused = temporary_name_beside(path("ring.gds"), ".gds");
  std::ofstream(refused) << "half";
  EXPECT_THROW(commit(refused, path("ring.gds"),
                      [](std::string_view) { return std::optional<std::string>("cut short"); }),
               RefusedContent);
  EXPECT_EQ(read(path("ring.gds")), "new");
  EXPECT_EQ(names(), (std::vector<std::string>{"ring.gds"}));
}

TEST_F(AtomicFile, TemporaryNamesAreHiddenBesideTheFileAndFitAFileName) {
  const std::string name = temporary_name_beside(path("ring.gds"), ".gds");
  const std::string file = fs::path(name).filename().string();
  EXPECT_EQ(fs::path(name).parent_path(), directory_);
  EXPECT_EQ(file.rfind(".ring.", 0), 0u) << file;
  EXPECT_EQ(file.substr(file.size() - 4), ".gds");
  EXPECT_NE(name, temporary_name_beside(path("ring.gds"), ".gds"));

  const std::string longest(255, 'n');
  const std::string long_name = fs::path(temporary_name_beside(path(longest), ".tmp")).filename();
  EXPECT_LE(long_name.size(), 255u);
  EXPECT_EQ(long_name.rfind(".tarnwick-", 0), 0u);
  EXPECT_EQ(fs::path(temporary_name_beside("plain.json")).parent_path(), ".");
}
