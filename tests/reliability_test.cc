// Whole runs under the conditions that break filters: outputs that run out
// of room, memory that runs out, huge outputs from small inputs, several
// programs appending to one file, and a run killed in the middle. Each case
// checks what reaches every output that still works, the status and the
// message, from a file (analysed in pieces on threads) and from a pipe
// alike.

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "automaton_builder.h"
#include "process.h"

namespace etiquem {
namespace {

using test_support::kWithSanitizer;
using test_support::PeakMemoryKiB;
using test_support::Result;
using test_support::RunCommand;
using test_support::RunOptions;
using test_support::StandardOutputMode;

using test_support::ReadFile;

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Every run of letters a-j is an unknown word.
constexpr char kGuesser[] = R"(alfabet abcdefghij
estat 0
  a - 1
  b - 1
  c - 1
  d - 1
  e - 1
  f - 1
  g - 1
  h - 1
  i - 1
  j - 1
estat 1
  descon
  a - 1
  b - 1
  c - 1
  d - 1
  e - 1
  f - 1
  g - 1
  h - 1
  i - 1
  j - 1
)";

// Every 'a' doubles the readings: n letters write 2^n readings.
constexpr char kDouble[] = R"(alfabet ab
estat 0
  fi
  a a 0
  a b 0
)";

// Unknown words starting with `first`, of 1 to 12 letters, `count` of them.
std::string UnknownWords(char first, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    text += first;
    for (int j = 0; j < i % 12; ++j) text += char('a' + (i * 7 + j) % 10);
    text += i % 9 == 0 ? "\n" : " ";
  }
  return text;
}

// A run whose output is thousands of times its input holds no more than a
// few MB, whether the file is analysed in pieces on threads or piped.
TEST(Reliability, MemoryStaysBoundedWhateverTheOutputsSize) {
  if (kWithSanitizer) GTEST_SKIP() << "memory figures mean nothing here";
  const std::string bin =
      test_support::WriteFile(test_support::Bytes(kDouble), "doubling.bin");
  std::string text;
  while (text.size() < 256 * 1024) text += "aaaaaaaaaa ";
  const std::string input = test_support::WriteFile(text, "doubling.txt");
  const std::string run = std::string(ETIQUEM_BIN) + " -b " + Quote(bin);
  // 256 KiB in, about 270 MB out.
  const long from_file = PeakMemoryKiB(run + " -f " + Quote(input) + " > /dev/null");
  const long piped =
      PeakMemoryKiB("cat " + Quote(input) + " | " + run + " > /dev/null");
  ASSERT_GT(from_file, 0);
  ASSERT_GT(piped, 0);
  EXPECT_LT(from_file, 32 * 1024) << "KiB from a file";
  EXPECT_LT(piped, 32 * 1024) << "KiB through a pipe";
  // And the same bytes both ways.
  RunOptions op;
  op.seconds = 120;
  const Result sums = RunCommand(
      {"/bin/sh", "-c",
       run + " -f " + Quote(input) + " | md5sum; cat " + Quote(input) +
           " | " + run + " | md5sum"},
      "", op);
  ASSERT_EQ(sums.status, 0) << sums.errors;
  const size_t line = sums.output.find('\n');
  ASSERT_NE(line, std::string::npos);
  EXPECT_EQ(sums.output.substr(0, line), sums.output.substr(line + 1, line));
}

// Four programs appending to one unknown-words file at once: every line is
// one whole word of one of them, none lost, none merged.
TEST(Reliability, ConcurrentAppendsKeepWholeLines) {
  const std::string bin =
      test_support::WriteFile(test_support::Bytes(kGuesser), "guesser.bin");
  const std::string words = test_support::WriteFile("", "shared-words.txt");
  std::string command;
  std::map<std::string, int> expected;
  for (char first : {'a', 'b', 'c', 'd'}) {
    const std::string text = UnknownWords(first, 250000);
    std::istringstream in(text);
    for (std::string word; in >> word;) ++expected[word];
    const std::string input =
        test_support::WriteFile(text, std::string("words-") + first + ".txt");
    command += "cat " + Quote(input) + " | " + ETIQUEM_BIN + " -b " +
               Quote(bin) + " -d " + Quote(words) + " > /dev/null & ";
  }
  command += "wait";
  RunOptions op;
  op.seconds = 120;
  const Result r = RunCommand({"/bin/sh", "-c", command}, "", op);
  ASSERT_EQ(r.status, 0) << r.errors;
  const std::string written = ReadFile(words);
  ASSERT_FALSE(written.empty());
  EXPECT_EQ(written.back(), '\n');
  std::map<std::string, int> seen;
  std::istringstream lines(written);
  for (std::string line; std::getline(lines, line);) {
    ASSERT_FALSE(line.empty()) << "an empty line";
    ++seen[line];
  }
  EXPECT_TRUE(seen == expected) << "merged or lost lines";
}

// A run killed in the middle leaves only whole lines in the file.
TEST(Reliability, AKilledRunLeavesWholeLines) {
  const std::string bin =
      test_support::WriteFile(test_support::Bytes(kGuesser), "guesser.bin");
  const std::string words = test_support::WriteFile("", "killed-words.txt");
  const std::string input =
      test_support::WriteFile(UnknownWords('e', 400000), "killed.txt");
  // Slow input: the program is killed while it still has lines to write.
  const Result r = RunCommand(
      {"/bin/sh", "-c",
       "(cat " + Quote(input) + "; sleep 5) | " + ETIQUEM_BIN + " -b " +
           Quote(bin) + " -d " + Quote(words) +
           " > /dev/null & sleep 1; kill -TERM $!; wait"},
      "");
  EXPECT_EQ(r.errors, "");
  const std::string written = ReadFile(words);
  ASSERT_FALSE(written.empty()) << "what was analysed before the kill";
  EXPECT_EQ(written.back(), '\n');
}

// A write that fails does not keep from the other output what was analysed:
// with the unknown-words file full, standard output is whole; with
// standard output full, the unknown-words file is whole. Both from a file
// of several pieces and from a pipe, with the same message and status.
TEST(Reliability, AFailedOutputLeavesTheOtherWhole) {
  const std::string bin =
      test_support::WriteFile(test_support::Bytes(kGuesser), "guesser.bin");
  const std::string text = UnknownWords('f', 60000);  // about 6 pieces
  ASSERT_GT(text.size(), size_t(300000));
  const std::string input = test_support::WriteFile(text, "failing.txt");
  const std::string good_words = test_support::WriteFile("", "good-words.txt");
  const Result good =
      RunCommand({ETIQUEM_BIN, "-b", bin, "-d", good_words, "-m"}, text);
  ASSERT_EQ(good.status, 0);
  const std::string all_words = ReadFile(good_words);

  for (bool from_file : {true, false}) {
    SCOPED_TRACE(from_file ? "from a file" : "piped");
    std::vector<std::string> args = {ETIQUEM_BIN, "-b", bin, "-m", "-d",
                                     "/dev/full"};
    if (from_file) args.insert(args.end(), {"-f", input});
    Result r = RunCommand(args, from_file ? "" : text);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errors,
              "Error: No se pudo escribir en el fitxer de les paraules "
              "desconegudes: No space left on device\n");
    EXPECT_TRUE(r.output == good.output) << r.output.size() << " bytes";

    const std::string words = test_support::WriteFile("", "words-kept.txt");
    args = {ETIQUEM_BIN, "-b", bin, "-m", "-d", words};
    if (from_file) args.insert(args.end(), {"-f", input});
    RunOptions full;
    full.output = StandardOutputMode::kFull;
    r = RunCommand(args, from_file ? "" : text, full);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errors,
              "Error: No se pudo escribir en la salida est\xe1ndar: No space "
              "left on device\n");
    EXPECT_TRUE(ReadFile(words) == all_words);
  }
}

// Memory that runs out is a one-line error and a status, never an abort;
// where only the memory of stretches cannot be had, the run goes on without
// it and writes the same bytes.
TEST(Reliability, RunningOutOfMemory) {
  if (kWithSanitizer) GTEST_SKIP() << "the sanitizer cannot start so small";
  const std::string bin =
      test_support::WriteFile(test_support::Bytes(kGuesser), "guesser.bin");
  const std::string text = UnknownWords('g', 30000);
  const std::string input = test_support::WriteFile(text, "small-memory.txt");
  const Result good = RunCommand({ETIQUEM_BIN, "-b", bin}, text);
  ASSERT_EQ(good.status, 0);
  const std::string run = std::string(ETIQUEM_BIN) + " -b " + Quote(bin);
  int completed = 0;
  for (int limit_kib : {12000, 16000, 20000, 24000, 28000, 32000, 40000}) {
    for (const std::string& how :
         {run + " -f " + Quote(input), "cat " + Quote(input) + " | " + run}) {
      const Result r = RunCommand(
          {"/bin/sh", "-c",
           "ulimit -v " + std::to_string(limit_kib) + "; " + how}, "");
      SCOPED_TRACE(std::to_string(limit_kib) + " KiB: " + how);
      EXPECT_NE(r.signal_number, SIGABRT);
      EXPECT_EQ(r.errors.find("terminate"), std::string::npos) << r.errors;
      if (r.status == 0) {
        EXPECT_TRUE(r.output == good.output);
        ++completed;
      } else {
        EXPECT_EQ(r.status, 1) << r.errors;
        EXPECT_EQ(r.errors.find('\n'), r.errors.size() - 1) << r.errors;
      }
    }
  }
  EXPECT_GT(completed, 0) << "no limit let a run complete";

  // A superblank larger than the memory allowed.
  const std::string huge = test_support::WriteFile(
      "aaa bbb <![CDATA[" + std::string(100 << 20, 'x') + "]]> ccc\n",
      "huge-superblank.txt");
  const Result r = RunCommand(
      {"/bin/sh", "-c", "ulimit -v 150000; " + run + " < " + Quote(huge)}, "");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errors, "Error: out of memory\n");
  EXPECT_EQ(r.output, "aaa bbb ") << "what was analysed before the failure";
}

}  // namespace
}  // namespace etiquem
