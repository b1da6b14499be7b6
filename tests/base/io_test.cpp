#include "base/io.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/interrupts.h"

namespace speedup {
namespace {

namespace fs = std::filesystem;

class WriteWholeFileTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string name = (fs::temp_directory_path() / "io_test-XXXXXX").string();
    ASSERT_NE(mkdtemp(name.data()), nullptr);
    root_ = name;
  }
  void TearDown() override {
    fs::permissions(root_, fs::perms::owner_all);
    fs::remove_all(root_);
  }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(root_)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }
  std::string Read(const fs::path& path) const {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  fs::path root_;
};

TEST_F(WriteWholeFileTest, ReplacesTheWholeFileAndLeavesNothingBeside) {
  const fs::path path = root_ / "report.txt";
  std::ofstream(path) << std::string(1000, 'o');
  const std::string text = std::string("new\0bytes", 9) + "\n";
  const Status written = WriteWholeFile(path.string(), text);
  ASSERT_TRUE(written.ok()) << written.failure().message;
  EXPECT_EQ(Read(path), text) << "the old file's tail is left, or bytes after a NUL lost";
  EXPECT_EQ(Entries(), std::vector<std::string>{"report.txt"}) << "a temporary file is left";
}

TEST_F(WriteWholeFileTest, ANewFileHasTheUmasksPermissions) {
  const mode_t saved = umask(027);
  const Status written = WriteWholeFile((root_ / "new.txt").string(), "x");
  umask(saved);
  ASSERT_TRUE(written.ok());
  struct stat status;
  ASSERT_EQ(stat((root_ / "new.txt").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0640u) << "the file is private or the umask is ignored";
}

TEST_F(WriteWholeFileTest, AFailureKeepsTheOldFileNamesThePathAndLeavesNothing) {
  const struct {
    const char* fault;
    std::string path;
    std::string reason;
  } cases[] = {
      {"a missing folder is not named", (root_ / "none" / "x.json").string(),
       "No such file or directory"},
      {"a folder in the way is emptied or not named", (root_ / "folder").string(),
       "Is a directory"},
  };
  fs::create_directory(root_ / "folder");
  std::ofstream(root_ / "folder" / "kept") << "kept";
  for (const auto& test : cases) {
    SCOPED_TRACE(test.fault);
    const Status written = WriteWholeFile(test.path, "text");
    ASSERT_FALSE(written.ok());
    EXPECT_EQ(written.failure().kind, FailureKind::kOutput);
    EXPECT_EQ(written.failure().message, "cannot write \"" + test.path + "\": " + test.reason);
  }
  EXPECT_EQ(Read(root_ / "folder" / "kept"), "kept");
  EXPECT_EQ(Entries(), std::vector<std::string>{"folder"}) << "a temporary file is left";
}

// An interrupt while a command's outputs are being written: the files already in place go back
// to what their paths held, unless the command was done with them.
TEST_F(WriteWholeFileTest, AnInterruptPutsBackTheOutputsPlacedUnlessTheyWereKept) {
  const struct {
    const char* fault;
    bool kept;
    std::string old_text;
    bool new_file_stays;
  } cases[] = {
      {"an interrupt leaves the outputs written before it", false, "old", false},
      {"outputs the command was done with are undone", true, "new", true},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.fault);
    const fs::path replaced = root_ / "table.txt", created = root_ / "page.html";
    std::ofstream(replaced) << "old";
    fs::remove(created);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      InstallInterruptHandlers();
      ObeyInterruptsAtOnce();
      const bool written = WriteWholeFile(replaced.string(), "new").ok() &&
                           WriteWholeFile(created.string(), "page").ok();
      if (test.kept) KeepPlacedOutputs();
      if (written) raise(SIGTERM);
      _exit(1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
    EXPECT_EQ(Read(replaced), test.old_text);
    EXPECT_EQ(fs::exists(created), test.new_file_stays);
    const std::size_t files = test.new_file_stays ? 2 : 1;
    EXPECT_EQ(Entries().size(), files) << "a second name of the old file is left";
  }
}

}  // namespace
}  // namespace speedup
