// Atomic output files on both kinds of temporary (unnamed, and named when forced
// through the test hook), and the refusals made when a file is started.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "formats/output_file.h"

namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Whether name is ".rnaqubo-<this process>-<16 lower-case hex digits>.tmp".
bool IsTemporaryName(const std::string& name) {
  const std::string prefix = ".rnaqubo-" + std::to_string(getpid()) + "-";
  if (name.size() != prefix.size() + 16 + 4 || name.compare(0, prefix.size(), prefix) != 0) return false;
  for (size_t k = prefix.size(); k < prefix.size() + 16; ++k) {
    if (std::string("0123456789abcdef").find(name[k]) == std::string::npos) return false;
  }
  return name.compare(name.size() - 4, 4, ".tmp") == 0;
}

std::set<std::string> Names(const fs::path& directory) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) names.insert(entry.path().filename());
  return names;
}

class OutputFileTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    named_ = GetParam();
    if (named_) {
      setenv("RNAQUBO_TEST_NAMED_TEMPORARY", "1", 1);
    } else {
      unsetenv("RNAQUBO_TEST_NAMED_TEMPORARY");
    }
    directory_ = fs::temp_directory_path() /
                 ("rnaqubo_output_file_test_" + std::to_string(getpid()) + (named_ ? "_named" : "_unnamed"));
    fs::remove_all(directory_);
    fs::create_directories(directory_);
  }
  void TearDown() override {
    unsetenv("RNAQUBO_TEST_NAMED_TEMPORARY");
    fs::remove_all(directory_);
  }
  bool named_ = false;
  fs::path directory_;
};

// While a file is written, the earlier file stands alone (unnamed) or beside one
// temporary of the documented pattern (named); the commit replaces it, a discard
// leaves it as it was, and either way no other name remains.
TEST_P(OutputFileTest, CommitReplacesAndDiscardKeepsTheEarlierFile) {
  const fs::path target = directory_ / "out.txt";
  for (bool commit : {false, true}) {
    WriteText(target, "earlier");
    OutputFile file;
    ASSERT_NO_THROW(StartOutputFile(target.string(), nullptr, &file));
    ASSERT_TRUE(WriteOutputBytes(&file, "new ", 4));
    ASSERT_TRUE(WriteOutputBytes(&file, "content", 7));
    const std::set<std::string> during = Names(directory_);
    if (named_) {
      ASSERT_EQ(during.size(), 2u);
      EXPECT_TRUE(IsTemporaryName(*during.begin())) << *during.begin();
    } else {
      EXPECT_EQ(during, std::set<std::string>{"out.txt"});
    }
    EXPECT_EQ(ReadText(target), "earlier");
    if (commit) {
      ASSERT_TRUE(CommitOutputFile(&file));
    } else {
      DiscardOutputFile(&file);
      DiscardOutputFile(&file);  // a second discard is harmless
    }
    EXPECT_EQ(ReadText(target), commit ? "new content" : "earlier");
    EXPECT_EQ(Names(directory_), std::set<std::string>{"out.txt"});
  }
}

// Each refusal comes before anything is created, with the error or reason that
// explains it.
TEST_P(OutputFileTest, RefusesBeforeCreatingAnything) {
  WriteText(directory_ / "input.txt", "5 G G A C C");
  fs::create_hard_link(directory_ / "input.txt", directory_ / "linked.txt");
  fs::create_symlink("input.txt", directory_ / "symlinked.txt");
  fs::create_directory(directory_ / "sub");
  const KeptFile input = IdentifyKeptFile((directory_ / "input.txt").c_str());
  ASSERT_TRUE(input.known);
  const std::set<std::string> before = Names(directory_);
  const struct {
    std::string name;
    int error;
    const char* reason;
  } cases[] = {
      {std::string(255, 'n'), 0, nullptr},  // the longest name that fits: accepted
      {std::string(256, 'n'), ENAMETOOLONG, nullptr},
      {"sub/" + std::string(300, 'n'), ENAMETOOLONG, nullptr},
      {"input.txt", EEXIST, kInputOverwriteReason},
      {"linked.txt", EEXIST, kInputOverwriteReason},
      {"symlinked.txt", EEXIST, kInputOverwriteReason},
      {"sub", EISDIR, nullptr},
      {"missing/out.txt", ENOENT, nullptr},
  };
  for (const auto& c : cases) {
    OutputFile file;
    if (c.error == 0) {
      ASSERT_NO_THROW(StartOutputFile((directory_ / c.name).string(), &input, &file));
      DiscardOutputFile(&file);
    } else {
      try {
        StartOutputFile((directory_ / c.name).string(), &input, &file);
        ADD_FAILURE() << c.name << " started";
      } catch (const OutputFileFailure& failure) {
        EXPECT_EQ(failure.stage(), OutputStage::kOpen) << c.name;
        EXPECT_EQ(failure.error_number(), c.error) << c.name;
        EXPECT_EQ(failure.reason(), c.reason) << c.name;
        EXPECT_EQ(FailureStatus(failure.kind()), 2);
        EXPECT_STREQ(OutputFailureMessage(failure), "Could not write to file!\n");
      }
    }
    EXPECT_EQ(Names(directory_), before) << c.name;
    EXPECT_TRUE(Names(directory_ / "sub").empty()) << c.name;
  }
  EXPECT_EQ(ReadText(directory_ / "input.txt"), "5 G G A C C");
}

// Writes "new content" to name and commits it; false on any failure.
bool WriteWhole(const fs::path& name) {
  OutputFile file;
  try {
    StartOutputFile(name.string(), nullptr, &file);
  } catch (const OutputFileFailure&) {
    return false;
  }
  return WriteOutputBytes(&file, "new content", 11) && CommitOutputFile(&file);
}

// A link keeps being a link: the file it leads to (through a chain, relative or
// absolute, into another directory, or not yet existing) takes the output, and
// its temporary lives beside that file. A device is written in place.
TEST_P(OutputFileTest, FollowsLinksAndWritesDevicesInPlace) {
  fs::create_directory(directory_ / "sub");
  WriteText(directory_ / "sub" / "real.txt", "earlier");
  fs::create_symlink("sub/real.txt", directory_ / "first.txt");
  fs::create_symlink(directory_ / "first.txt", directory_ / "second.txt");
  fs::create_symlink("made.txt", directory_ / "sub" / "dangling.txt");
  fs::create_symlink("/dev/null", directory_ / "null.txt");
  fs::create_symlink("loop.txt", directory_ / "loop.txt");
  ASSERT_TRUE(WriteWhole(directory_ / "second.txt"));
  EXPECT_EQ(ReadText(directory_ / "sub" / "real.txt"), "new content");
  EXPECT_TRUE(fs::is_symlink(directory_ / "first.txt"));
  EXPECT_TRUE(fs::is_symlink(directory_ / "second.txt"));
  ASSERT_TRUE(WriteWhole(directory_ / "sub" / "dangling.txt"));
  EXPECT_TRUE(fs::is_symlink(directory_ / "sub" / "dangling.txt"));
  EXPECT_EQ(ReadText(directory_ / "sub" / "made.txt"), "new content");
  for (const char* name : {"/dev/null", "null.txt"}) {
    ASSERT_TRUE(WriteWhole(name[0] == '/' ? fs::path(name) : directory_ / name)) << name;
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
  }
  EXPECT_TRUE(fs::is_symlink(directory_ / "null.txt"));
  OutputFile file;
  int loop_error = 0;
  try {
    StartOutputFile((directory_ / "loop.txt").string(), nullptr, &file);
  } catch (const OutputFileFailure& failure) {
    loop_error = failure.error_number();
  }
  EXPECT_EQ(loop_error, ELOOP);
  EXPECT_EQ(Names(directory_),
            (std::set<std::string>{"first.txt", "second.txt", "null.txt", "loop.txt", "sub"}));
  EXPECT_EQ(Names(directory_ / "sub"), (std::set<std::string>{"real.txt", "dangling.txt", "made.txt"}));
}

// A FIFO is not replaced: its reader receives the bytes.
TEST_P(OutputFileTest, WritesIntoAFifo) {
  const fs::path fifo = directory_ / "pipe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = ReadText(fifo); });
  const bool written = WriteWhole(fifo);
  reader.join();
  EXPECT_TRUE(written);
  EXPECT_EQ(received, "new content");
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_EQ(Names(directory_), std::set<std::string>{"pipe"});
}

INSTANTIATE_TEST_SUITE_P(Temporaries, OutputFileTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? std::string("Named") : std::string("Unnamed");
                         });

}  // namespace
