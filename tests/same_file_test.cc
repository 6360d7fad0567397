// Runs whose output would feed their own input are refused before anything
// is written: the unknown-words file (-d) or standard output being the input
// or the automaton file, by any name (a symbolic or a hard link), also for a
// regular input large enough to be analysed on several threads. Every case
// is a whole run: exact message, status 1, nothing on standard output, and
// every file as it was (a refused -d file is not even created).

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "automaton_builder.h"
#include "process.h"
#include "scratch_directory.h"

namespace etiquem {
namespace {

using test_support::Result;
using test_support::RunOptions;
using test_support::StandardOutputMode;

constexpr char kUnknownIsInput[] =
    "Error: the unknown-words file is the input file\n";
constexpr char kUnknownIsAutomaton[] =
    "Error: the unknown-words file is the automaton file\n";
constexpr char kOutputIsInput[] = "Error: standard output is the input file\n";
constexpr char kOutputIsAutomaton[] =
    "Error: standard output is the automaton file\n";

// casa, with the tag n; words of x, y and z get an unknown-word reading.
constexpr char kHouse[] = R"(alfabet acsxyz
define n 258
estat 0
  c c 1
  x x 6
  y y 6
  z z 6
estat 1
  a a 2
estat 2
  s s 3
estat 3
  a a 4
estat 4
  eps &n 5
estat 5
  fi
estat 6
  descon
  x x 6
  y y 6
  z z 6
)";

std::string Read(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// A fresh directory holding the automaton (x.bin), a small text (a.txt) and
// a text of 300 KB (big.txt), past the size analysed on several threads;
// removed with whatever the case made in it.
struct Files {
  std::string dir, automaton, text, big;
  Files() {
    dir = test_support::NewScratchSubdirectory("same-file");
    automaton = dir + "/x.bin";
    text = dir + "/a.txt";
    big = dir + "/big.txt";
    std::ofstream(automaton, std::ios::binary) << test_support::Bytes(kHouse);
    std::ofstream(text, std::ios::binary) << "casa xyz\n";
    std::string b;
    while (b.size() < 300 * 1024) b += "casa xyz casa\n";
    std::ofstream(big, std::ios::binary) << b;
  }
  ~Files() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
};

struct Case {
  std::string what;
  std::vector<std::string> args;  // after ETIQUEM_BIN
  std::string stdin_file;         // standard input from this file, or none
  std::string appended_output;    // standard output appended to it, or none
  std::string message;
};

void ExpectRefused(const Files& f, const Case& c) {
  SCOPED_TRACE(c.what);
  const std::vector<std::string> watched = {f.automaton, f.text, f.big};
  std::vector<std::string> before;
  for (const std::string& p : watched) before.push_back(Read(p));
  std::vector<std::string> args{ETIQUEM_BIN};
  args.insert(args.end(), c.args.begin(), c.args.end());
  RunOptions o;
  if (!c.appended_output.empty()) {
    o.output = StandardOutputMode::kAppend;
    o.output_path = c.appended_output;
  }
  const Result r = c.stdin_file.empty()
                       ? test_support::RunCommand(args, "", o)
                       : test_support::RunWithInputFile(args, c.stdin_file, o);
  EXPECT_EQ(r.errors, c.message);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "");
  for (size_t i = 0; i < watched.size(); ++i)
    EXPECT_EQ(Read(watched[i]), before[i]) << watched[i] << " changed";
}

TEST(SameFile, OutputsThatFeedTheInputOrTheAutomatonAreRefused) {
  const Files f;
  const std::string& bin = f.automaton;
  for (const std::string& text : {f.text, f.big}) {
    const Case cases[] = {
        {"-d is -f", {"-b", bin, "-f", text, "-d", text}, "", "", kUnknownIsInput},
        {"-d is standard input", {"-b", bin, "-d", text}, text, "", kUnknownIsInput},
        {"-d is the automaton", {"-b", bin, "-f", text, "-d", bin}, "", "",
         kUnknownIsAutomaton},
        {"stdout >> -f", {"-b", bin, "-f", text}, "", text, kOutputIsInput},
        {"stdout >> standard input", {"-b", bin}, text, text, kOutputIsInput},
        {"stdout >> the automaton", {"-b", bin, "-f", text}, "", bin,
         kOutputIsAutomaton},
        // -d is checked first, standard output after.
        {"both", {"-b", bin, "-f", text, "-d", bin}, "", text,
         kUnknownIsAutomaton},
    };
    for (const Case& c : cases) ExpectRefused(f, {c.what + " (" + text + ")", c.args,
                                                  c.stdin_file, c.appended_output,
                                                  c.message});
  }
}

TEST(SameFile, OtherNamesOfTheSameFileAreSeenThrough) {
  const Files f;
  const std::string symbolic = f.dir + "/symbolic.txt";
  const std::string hard = f.dir + "/hard.txt";
  const std::string bin_link = f.dir + "/link.bin";
  ASSERT_EQ(symlink(f.big.c_str(), symbolic.c_str()), 0);
  ASSERT_EQ(link(f.big.c_str(), hard.c_str()), 0);
  ASSERT_EQ(symlink(f.automaton.c_str(), bin_link.c_str()), 0);
  const Case cases[] = {
      {"-d symbolic link to -f", {"-b", f.automaton, "-f", f.big, "-d", symbolic},
       "", "", kUnknownIsInput},
      {"-d hard link to -f", {"-b", f.automaton, "-f", f.big, "-d", hard}, "", "",
       kUnknownIsInput},
      {"stdout >> hard link", {"-b", f.automaton, "-f", f.big}, "", hard,
       kOutputIsInput},
      {"stdout >> symbolic link", {"-b", f.automaton}, f.big, symbolic,
       kOutputIsInput},
      {"-b symbolic link, -d the automaton", {"-b", bin_link, "-f", f.text, "-d", f.automaton},
       "", "", kUnknownIsAutomaton},
  };
  for (const Case& c : cases) ExpectRefused(f, c);
}

// A refusal for standard output comes before the -d file is opened, so a -d
// file that does not exist yet is not created.
TEST(SameFile, ARefusedRunCreatesNoUnknownWordsFile) {
  const Files f;
  const std::string fresh = f.dir + "/fresh.txt";
  ExpectRefused(f, {"fresh -d", {"-b", f.automaton, "-f", f.text, "-d", fresh}, "",
                    f.text, kOutputIsInput});
  EXPECT_FALSE(Exists(fresh));
}

// Devices are no files read: /dev/null as input, unknown-words file and
// output at once is a normal run; so are distinct files.
TEST(SameFile, DevicesAndDistinctFilesRunNormally) {
  const Files f;
  Result r = test_support::RunWithInputFile(
      {ETIQUEM_BIN, "-b", f.automaton, "-f", "/dev/null", "-d", "/dev/null"},
      "/dev/null");
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.errors, "");
  const std::string unknown = f.dir + "/unknown.txt";
  const std::string out = f.dir + "/out.txt";
  RunOptions o;
  o.output = StandardOutputMode::kAppend;
  o.output_path = out;
  r = test_support::RunCommand(
      {ETIQUEM_BIN, "-b", f.automaton, "-f", f.text, "-d", unknown}, "", o);
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(Read(out), "casa&n;/ xyz\n");
  EXPECT_EQ(Read(unknown), "xyz\n");
}

}  // namespace
}  // namespace etiquem
