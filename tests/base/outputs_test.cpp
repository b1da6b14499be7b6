#include "base/outputs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "base/io.h"

namespace speedup {
namespace {

class OutputsTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/outputs_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { EXPECT_EQ(std::system(("rm -rf '" + folder_ + "'").c_str()), 0); }

  std::string Path(const std::string& name) const { return folder_ + "/" + name; }
  void Put(const std::string& name, const std::string& text) const {
    std::ofstream(Path(name)) << text;
  }
  std::string Read(const std::string& name) const {
    std::ostringstream text;
    text << std::ifstream(Path(name)).rdbuf();
    return text.str();
  }
  // The names in the folder, sorted, each followed by a space.
  std::string Listing(const std::string& sub = "") const {
    const std::string command = "ls -A '" + folder_ + "/" + sub + "' | sort | tr '\\n' ' '";
    std::string names;
    if (FILE* pipe = popen(command.c_str(), "r")) {
      char buffer[4096];
      while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) names += buffer;
      pclose(pipe);
    }
    return names;
  }

  std::string folder_;
};

TEST_F(OutputsTest, AFileIsReplacedWholeAndALinkKept) {
  // Written in place, a file was emptied first: a failure midway left it cut short.
  Put("out.txt", "old");
  ASSERT_EQ(symlink("out.txt", Path("link.txt").c_str()), 0);
  ASSERT_TRUE(WriteWholeFile(Path("out.txt"), "new text"));
  EXPECT_EQ(Read("out.txt"), "new text");
  ASSERT_TRUE(WriteWholeFile(Path("link.txt"), "through the link"));
  EXPECT_EQ(Read("out.txt"), "through the link");
  struct stat status {};
  ASSERT_EQ(lstat(Path("link.txt").c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode)) << "the link was replaced by a file";
  EXPECT_EQ(Listing(), "link.txt out.txt ") << "a temporary file was left";
}

TEST_F(OutputsTest, AFailedWriteLeavesThePathAsItWas) {
  Put("out.txt", "old");
  const struct {
    const char* name;
    std::string path;
    const char* message;
  } cases[] = {
      {"a missing folder", Path("none/out.txt"), "No such file"},
      // A device is written in place: a rename would replace /dev/full itself.
      {"a full device", "/dev/full", "No space left on device"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Status written = WriteWholeFile(c.path, "text");
    ASSERT_FALSE(written);
    EXPECT_EQ(written.failure().kind, FailureKind::kOutput);
    EXPECT_NE(written.failure().message.find(c.message), std::string::npos)
        << written.failure().message;
  }
  struct stat status {};
  ASSERT_EQ(stat("/dev/full", &status), 0);
  EXPECT_TRUE(S_ISCHR(status.st_mode)) << "/dev/full was replaced";
  EXPECT_EQ(Read("out.txt"), "old");
  EXPECT_EQ(Listing(), "out.txt ");
}

bool Ours(std::string_view name) { return name == "a" || name == "b"; }

TEST_F(OutputsTest, AFolderAppearsWholeOrNotAtAll) {
  // Files were written straight into the folder: a failure left a folder that did not read back.
  {
    Result<StagedFolder> staged = StagedFolder::Begin(Path("made"), Ours);
    ASSERT_TRUE(staged);
    std::ofstream(staged->where() + "/a") << "1";
    EXPECT_NE(access(Path("made").c_str(), F_OK), 0) << "visible before it was whole";
  }  // dropped uncommitted
  EXPECT_EQ(Listing(), "") << "an abandoned folder was left";
  Result<StagedFolder> first = StagedFolder::Begin(Path("made"), Ours);
  ASSERT_TRUE(first);
  std::ofstream(first->where() + "/a") << "1";
  ASSERT_TRUE(first->Commit());
  EXPECT_EQ(Listing("made"), "a ");
  // An earlier folder of ours is replaced whole; one with other files is never emptied.
  Result<StagedFolder> second = StagedFolder::Begin(Path("made"), Ours);
  ASSERT_TRUE(second);
  std::ofstream(second->where() + "/b") << "2";
  ASSERT_TRUE(second->Commit());
  EXPECT_EQ(Listing("made"), "b ");
  EXPECT_EQ(Listing(), "made ") << "the old folder was left beside";
  Put("made/mine.txt", "the user's");
  Result<StagedFolder> third = StagedFolder::Begin(Path("made"), Ours);
  ASSERT_TRUE(third);
  const Status refused = third->Commit();
  ASSERT_FALSE(refused);
  EXPECT_NE(refused.failure().message.find("did not write"), std::string::npos);
  EXPECT_EQ(Read("made/mine.txt"), "the user's");
}

TEST_F(OutputsTest, PathsAreCheckedBeforeAnyWork) {
  Put("in.json", "{}");
  ASSERT_EQ(mkdir(Path("trace").c_str(), 0777), 0);
  ASSERT_EQ(symlink("in.json", Path("alias.json").c_str()), 0);
  const std::vector<std::string> inputs = {Path("in.json")};
  const std::vector<std::string> folders = {Path("trace")};
  const struct {
    const char* name;
    std::vector<PlannedOutput> outputs;
    const char* message;  // part of it; empty: accepted
  } cases[] = {
      {"fresh outputs", {{"--html", Path("p.html")}, {"--plot", Path("c.svg")}}, ""},
      {"no output", {{"--html", ""}, {"--plot", ""}}, ""},
      {"onto the input", {{"--export-csv", Path("in.json")}}, "would write over an input"},
      {"onto the input by a link", {{"--html", Path("alias.json")}}, "would write over an input"},
      {"onto the input by another name", {{"--html", Path("trace/../in.json")}}, "over an input"},
      {"in a missing folder", {{"--export-json", "/nonexistent/x.json"}}, "does not exist"},
      {"in a file, not a folder", {{"--html", Path("in.json/p.html")}}, "does not exist"},
      {"inside the input folder", {{"--chrome", Path("trace/t.json")}}, "lies in the input folder"},
      {"two outputs to one path",
       {{"--export-json", Path("o")}, {"--html", Path("./o")}},
       "is also the path of --export-json"},
      {"a file inside a folder output",
       {{"--out", Path("t"), true}, {"--chrome", Path("t/c.json")}},
       "is also the path of --out"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Status checked = CheckOutputs(inputs, folders, c.outputs);
    if (*c.message == '\0') {
      EXPECT_TRUE(checked) << checked.failure().message;
    } else {
      ASSERT_FALSE(checked);
      EXPECT_EQ(checked.failure().kind, FailureKind::kUsage);
      EXPECT_NE(checked.failure().message.find(c.message), std::string::npos)
          << checked.failure().message;
    }
  }
}

}  // namespace
}  // namespace speedup
