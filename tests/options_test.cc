// Whole runs of the built etiquem: the command line, the files it opens, the
// messages and exit statuses users see, and write failures on its outputs.
//
// Every expectation is on exact bytes. Messages are Latin-1, so accented
// letters are written as \x escapes.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "automaton_builder.h"
#include "process.h"
#include "scratch_directory.h"
#include "usage_text.h"

namespace etiquem {
namespace {

using test_support::Result;
using test_support::RunCommand;
using test_support::RunOptions;

const std::string kBin = ETIQUEM_BIN;

using test_support::kUsageText;

using test_support::kUsageHint;

// "a" reads as a followed by the symbol n; "xx..." is an unknown word.
const char kDictionary[] = R"(
alfabet abx
define n 258
estat 0
  a a 1
  x x 3
estat 1
  eps &n 2
estat 2
  fi
estat 3
  descon
  x x 3
)";

std::string Dictionary() {
  static const std::string path =
      test_support::WriteFile(test_support::Bytes(kDictionary), "options.bin");
  return path;
}

// A fresh empty directory for runs that need their own working directory.
std::string NewDirectory() {
  return test_support::NewScratchSubdirectory("options");
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary);
  f << bytes;
}

// The program that getopt names in its complaints is argv[0].
std::string Complaint(const std::string& problem) {
  return kBin + ": " + problem + "\n";
}

// One run of the program: its arguments after the name, and the exact
// standard output, standard error and status it must give.
struct CommandLineCase {
  const char* what;
  std::vector<std::string> args;
  std::string output;
  std::string errors;
  int status;
};

// Help, bad options and words left over, as a table: each row a whole run.
TEST(CommandLine, ExactOutputErrorsAndStatus) {
  const std::string usage = kUsageText;
  const std::string hint = kUsageHint;
  const std::string loose = "Hay opciones no v\xe1lidas en la entrada: ";
  const CommandLineCase cases[] = {
      {"-h writes the usage text", {"-h"}, usage, "", 0},
      {"nothing is opened before the options are all read",
       {"-f", "/no/such/input.txt", "-h"}, usage, "", 0},
      {"-h after valid options", {"-s", "-m", "-h"}, usage, "", 0},
      {"-h grouped", {"-smh"}, usage, "", 0},
      {"-h ends the parse", {"-b", "/no/such.bin", "-h", "-x"}, usage, "",
       0},
      {"an unknown letter", {"-x"}, "",
       Complaint("invalid option -- 'x'") + hint, 1},
      {"a bad option before -h ends with its message", {"-q", "-h"}, "",
       Complaint("invalid option -- 'q'") + hint, 1},
      {"-f without its argument", {"-s", "-f"}, "",
       Complaint("option requires an argument -- 'f'") + hint, 1},
      {"-b without its argument", {"-b"}, "",
       Complaint("option requires an argument -- 'b'") + hint, 1},
      {"-d without its argument", {"-d"}, "",
       Complaint("option requires an argument -- 'd'") + hint, 1},
      {"one word left over", {"file.txt"}, "", loose + "file.txt \n", 1},
      // getopt moves the words behind the options: -s and -b are still
      // taken, and the words are listed in their order, each with a blank.
      {"words before and after options",
       {"one", "-s", "two", "-b", Dictionary(), "three"}, "",
       loose + "one two three \n", 1},
      {"a word ends the run before the automaton is looked at",
       {"-b", "/no/such.bin", "leftover"}, "", loose + "leftover \n", 1},
      {"options after a word are still parsed: the bad letter comes first",
       {"word", "-z"}, "", Complaint("invalid option -- 'z'") + hint, 1},
  };
  for (const CommandLineCase& c : cases) {
    std::vector<std::string> args = {kBin};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Result r = RunCommand(args);
    EXPECT_EQ(r.output, c.output) << c.what;
    EXPECT_EQ(r.errors, c.errors) << c.what;
    EXPECT_EQ(r.status, c.status) << c.what;
  }
}

TEST(Execution, AnalysesStandardInput) {
  Result r = RunCommand({kBin, "-b", Dictionary()}, "a b\n");
  EXPECT_EQ(r.output, "a&n;/ b\n");
  EXPECT_EQ(r.errors, "");
  EXPECT_EQ(r.status, 0);
}

TEST(Execution, OptionWithAttachedName) {
  Result r = RunCommand({kBin, "-sb" + Dictionary()}, "a\n");
  EXPECT_EQ(r.output, "a/a&n;/\n");
  EXPECT_EQ(r.status, 0);
}

TEST(Execution, RepeatedSIsLikeOne) {
  Result once = RunCommand({kBin, "-s", "-b", Dictionary()}, "a b a\n");
  Result twice = RunCommand({kBin, "-s", "-b", Dictionary(), "-s"}, "a b a\n");
  EXPECT_EQ(once.output, "a/a&n;/ b a/a&n;/\n");
  EXPECT_EQ(twice.output, once.output);
  EXPECT_EQ(twice.errors, "");
  EXPECT_EQ(twice.status, 0);
}

TEST(Execution, RepeatedBLoadsTheLast) {
  Result r =
      RunCommand({kBin, "-b", "/no/such.bin", "-b", Dictionary()}, "a\n");
  EXPECT_EQ(r.output, "a&n;/\n");
  EXPECT_EQ(r.errors, "");
  EXPECT_EQ(r.status, 0);

  r = RunCommand({kBin, "-b", Dictionary(), "-b", "/no/such.bin"}, "a\n");
  EXPECT_EQ(r.output, "");
  EXPECT_EQ(r.errors,
            "Error: El fichero binario /no/such.bin no existe o no se "
            "puedo abrir\n");
  EXPECT_EQ(r.status, 255);
}

TEST(Automaton, FileThatDoesNotExist) {
  Result r = RunCommand({kBin, "-b", "/no/such/automaton.bin"}, "a\n");
  EXPECT_EQ(r.output, "");
  EXPECT_EQ(r.errors,
            "Error: El fichero binario /no/such/automaton.bin no existe o "
            "no se puedo abrir\n");
  EXPECT_EQ(r.status, 255);
}

TEST(Automaton, DefaultIsBinariAutomorfInTheWorkingDirectory) {
  // (Where it looks when there is none: default_automaton_test.cc.)
  std::string dir = NewDirectory();
  RunOptions op;
  op.directory = dir;
  ASSERT_EQ(mkdir((dir + "/binari").c_str(), 0700), 0);
  Write(dir + "/binari/automorf.bin", test_support::Bytes(kDictionary));
  Result r = RunCommand({kBin}, "b a\n", op);
  EXPECT_EQ(r.output, "b a&n;/\n");
  EXPECT_EQ(r.errors, "");
  EXPECT_EQ(r.status, 0);
}

TEST(Automaton, BrokenFile) {
  // A file that ends inside the state count.
  std::string path = test_support::WriteFile(
      test_support::Bytes(kDictionary).substr(0, 27), "options-short.bin");
  Result r = RunCommand({kBin, "-b", path}, "a\n");
  EXPECT_EQ(r.output, "");
  EXPECT_EQ(r.errors.rfind(
                "Error: El fichero binario " + path + " no es v\xe1lido: ", 0),
            0u)
      << r.errors;
  EXPECT_EQ(r.errors.find('\n'), r.errors.size() - 1) << "one line";
  EXPECT_EQ(r.status, 255);
}

TEST(InputFile, FReadsTheFileAndIgnoresStandardInput) {
  std::string path = test_support::ScratchPath("input.txt");
  Write(path, "b a\nbb\n");
  Result r = RunCommand({kBin, "-f", path, "-b", Dictionary()}, "a a a\n");
  EXPECT_EQ(r.output, "b a&n;/\nbb\n");
  EXPECT_EQ(r.errors, "");
  EXPECT_EQ(r.status, 0);
}

TEST(InputFile, MissingFileDoesNotLoadTheAutomaton) {
  // The automaton file is missing as well: only the input is reported.
  Result r =
      RunCommand({kBin, "-b", "/no/such.bin", "-f", "/no/input"}, "a\n");
  EXPECT_EQ(r.output, "");
  EXPECT_EQ(r.errors,
            "Error: El fichero /no/input no existe o no se pudo abrir\n");
  EXPECT_EQ(r.status, 1);
}

TEST(InputFile, ReadErrorEndsWithStatus2) {
  // A directory opens for reading, but reading it fails.
  Result r = RunCommand({kBin, "-f", "/", "-b", Dictionary()}, "a\n");
  EXPECT_EQ(r.output, "");
  EXPECT_EQ(r.errors.rfind("Error", 0), 0u) << r.errors;
  EXPECT_EQ(r.errors.find('\n'), r.errors.size() - 1) << r.errors;
  EXPECT_EQ(r.status, 2);
}

TEST(UnknownWordsFile, PathThatCannotBeOpened) {
  Result r = RunCommand(
      {kBin, "-b", Dictionary(), "-d", "/no/such/unknown.txt"}, "a\n");
  EXPECT_EQ(r.output, "");
  EXPECT_EQ(r.errors,
            "Error: El fitxer de les paraules desconegudes no ha pogut "
            "obrir-se\n");
  EXPECT_EQ(r.status, 1);
}

TEST(UnknownWordsFile, TheAutomatonIsLoadedFirst) {
  Result r = RunCommand(
      {kBin, "-d", "/no/such/unknown.txt", "-b", "/no/automaton.bin"},
      "a\n");
  EXPECT_EQ(r.output, "");
  EXPECT_EQ(r.errors,
            "Error: El fichero binario /no/automaton.bin no existe o no se "
            "puedo abrir\n");
  EXPECT_EQ(r.status, 255);
}

TEST(UnknownWordsFile, KeepsTheLinesItHad) {
  std::string path = test_support::ScratchPath("unknown-kept.txt");
  Write(path, "primera\nsegona\n");
  Result r = RunCommand({kBin, "-b", Dictionary(), "-d", path}, "xx a xxx\n");
  EXPECT_EQ(r.output, "xx a&n;/ xxx\n");
  EXPECT_EQ(r.errors, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ReadFile(path), "primera\nsegona\nxx\nxxx\n");
}

TEST(UnknownWordsFile, IsCreatedWhenMissing) {
  std::string path = NewDirectory() + "/new.txt";
  Result r = RunCommand({kBin, "-b", Dictionary(), "-d", path}, "xxx\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ReadFile(path), "xxx\n");
}

// A failed write: one line beginning "Error" on standard error, status 1.
void ExpectWriteError(const Result& r) {
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.signal_number, 0);
  EXPECT_EQ(r.errors.rfind("Error", 0), 0u) << r.errors;
  ASSERT_FALSE(r.errors.empty());
  EXPECT_EQ(r.errors.find('\n'), r.errors.size() - 1) << r.errors;
}

TEST(WriteError, StandardOutputClosed) {
  RunOptions op;
  op.output = test_support::StandardOutputMode::kClosed;
  ExpectWriteError(RunCommand({kBin, "-b", Dictionary()}, "a b\n", op));
}

TEST(WriteError, DiskFull) {
  RunOptions op;
  op.output = test_support::StandardOutputMode::kFull;
  ExpectWriteError(RunCommand({kBin, "-b", Dictionary()}, "a b\n", op));
  // Also when the output is large enough to be written before the end.
  ExpectWriteError(
      RunCommand({kBin, "-b", Dictionary()}, std::string(3 << 20, 'b'), op));
}

TEST(WriteError, HelpOnAFullDisk) {
  RunOptions op;
  op.output = test_support::StandardOutputMode::kFull;
  ExpectWriteError(RunCommand({kBin, "-h"}, "", op));
}

TEST(WriteError, UnknownWordsFileOnAFullDisk) {
  Result r = RunCommand({kBin, "-b", Dictionary(), "-d", "/dev/full"}, "xx\n");
  ExpectWriteError(r);
  EXPECT_EQ(r.output, "xx\n");
}

TEST(WriteError, NoOutputNoError) {
  // An empty input writes nothing, so a closed output is no failure.
  RunOptions op;
  op.output = test_support::StandardOutputMode::kClosed;
  Result r = RunCommand({kBin, "-b", Dictionary()}, "", op);
  EXPECT_EQ(r.errors, "");
  EXPECT_EQ(r.status, 0);
}

// The helper itself: binary data both ways, a large input against a program
// that writes as it reads, and the time limit.
TEST(Process, BinaryDataAndTimeLimit) {
  std::string data;
  for (int i = 0; i < (1 << 20); ++i) data += char(i * 7 % 256);
  Result r = RunCommand({"/bin/cat"}, data);
  EXPECT_TRUE(r.output == data);
  EXPECT_EQ(r.status, 0);
  r = RunCommand({"/bin/sh", "-c", "printf 'a\\000b' >&2; exit 3"});
  EXPECT_EQ(r.errors, std::string("a\0b", 3));
  EXPECT_EQ(r.status, 3);
  RunOptions op;
  op.seconds = 1;
  r = RunCommand({"/bin/sleep", "10"}, "", op);
  EXPECT_TRUE(r.timed_out);
  EXPECT_EQ(r.signal_number, SIGKILL);
}

}  // namespace
}  // namespace etiquem
