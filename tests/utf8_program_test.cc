// UTF-8 text in and out (--utf8), as users meet it.
//
// One invariant carries most of it: for any Latin-1 input L, the analysis
// with --utf8 of L written as UTF-8 writes exactly what the Latin-1
// analysis of L writes, written as UTF-8, on standard output and in the
// unknown-words file. It is checked in process on generated dictionaries
// (with letters of two bytes in UTF-8) and texts with every option, the
// deterministic walk and the memory of stretches on, off and tiny, and
// blocks that cut characters; and
// in whole runs from a file (in pieces) and from a pipe, on generated
// dictionaries and on the shared corpora. Then: the typographic apostrophes
// read as "'" and echoed as themselves; any bytes at all come back
// unchanged through a dictionary that recognises nothing, with the warning
// exactly when they are not UTF-8; and the command line.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "analysis_helper.h"
#include "engine/automaton.h"
#include "automaton_builder.h"
#include "process.h"

namespace etiquem {
namespace {

using test_support::AnalyseInProcess;
using test_support::LoadOrFail;
using test_support::Outputs;
using test_support::Result;
using test_support::Utf8Of;

using test_support::ReadFile;

// The warning for `count` invalid sequences, the first at `offset`.
std::string Warning(uint64_t count, uint64_t offset) {
  if (count == 1)
    return std::string(
               "etiquem: warning: 1 invalid UTF-8 sequence in the input, at "
               "byte ") +
           std::to_string(offset) + "\n";
  return std::string("etiquem: warning: ") + std::to_string(count) +
         " invalid UTF-8 sequences in the input, the first at byte " +
         std::to_string(offset) + "\n";
}

// --- The invariant, in process ---

TEST(Utf8Analysis, WritesTheLatin1AnalysisAsUtf8) {
  std::mt19937 g(14);
  const size_t kBlocks[] = {18, 19, 23, 64, size_t(1) << 16};
  for (int test_case = 0; test_case < 120; ++test_case) {
    const std::string d = test_support::RandomLatin1Dictionary(g);
    Automaton t;
    LoadOrFail(t, test_support::Bytes(d));
    const std::string latin1 =
        test_support::RandomLatin1Text(g, 50 + g() % 1200);
    const std::string utf8 = Utf8Of(latin1);
    for (int options = 0; options < 8; ++options) {
      const int s = options & 1, a = (options >> 1) & 1, m = options >> 2;
      const bool memory = g() % 4 != 0;
      const size_t nodes = g() % 3 == 0 ? 40 : size_t(1) << 17;
      const size_t block = kBlocks[g() % 5];
      const Outputs expected =
          AnalyseInProcess(t, latin1, s, a, m, memory, nodes, block, false);
      const Outputs got =
          AnalyseInProcess(t, utf8, s, a, m, memory, nodes, block, true);
      ASSERT_EQ(Utf8Of(expected.text), got.text)
          << d << "\noptions " << options << ", block " << block;
      ASSERT_EQ(Utf8Of(expected.unknown_output), got.unknown_output) << d;
      ASSERT_EQ(expected.error.status, got.error.status);
      EXPECT_EQ(got.report.invalid_utf8, 0u);
    }
  }
}

// An attempt is bounded by characters, not bytes: 600 letters of two bytes
// on a path that loops on them are cut where 600 Latin-1 letters are.
TEST(Utf8Analysis, TheBoundOnAnAttemptCountsCharacters) {
  Automaton t;
  LoadOrFail(t, test_support::Bytes("alfabet \xe9\nestat 0\n  \xe9 \xe9 1\n"
                                    "estat 1\n  fi\n  \xe9 \xe9 1\n"));
  for (const std::string& latin1 :
       {std::string(600, '\xe9'), std::string("x") + std::string(300, '\xe9') + " \xe9",
        std::string(254, '\xe9') + "\xc9" + std::string(10, '\xe9')}) {
    for (bool memory : {false, true}) {
      const Outputs expected = AnalyseInProcess(t, latin1, 1, 0, 0, memory);
      const Outputs got = AnalyseInProcess(t, Utf8Of(latin1), 1, 0, 0, memory,
                                           size_t(1) << 17, 64, true);
      EXPECT_EQ(Utf8Of(expected.text), got.text);
    }
  }
}

// --- The invariant, in whole runs ---

// Runs etiquem with `args` on `input` from a file and from a pipe; both must
// agree in every byte, the unknown-words file (-d, added here) included.
// Returns the file run, with the -d file's bytes appended to its output
// after a line "--- -d ---".
Result RunBothWays(std::vector<std::string> args, const std::string& input,
                   const std::string& name) {
  test_support::RunOptions op;
  op.seconds = 300;
  Result runs[2];
  for (int piped = 0; piped < 2; ++piped) {
    const std::string unknown = test_support::WriteFile(
        "", name + (piped ? "-unknown-piped" : "-unknown-from-file") + ".txt");
    std::vector<std::string> a = {ETIQUEM_BIN, "-d", unknown};
    a.insert(a.end(), args.begin(), args.end());
    runs[piped] =
        piped ? test_support::RunCommand(a, input, op)
              : test_support::RunWithInputFile(
                    a, test_support::WriteFile(input, name + ".txt"), op);
    runs[piped].output += "--- -d ---\n" + ReadFile(unknown);
  }
  EXPECT_EQ(runs[0].status, runs[1].status) << runs[0].errors;
  EXPECT_EQ(runs[0].errors, runs[1].errors);
  EXPECT_TRUE(runs[0].output == runs[1].output)
      << name << ": from a file and from a pipe, outputs of "
      << runs[0].output.size() << " and " << runs[1].output.size()
      << " bytes differ";
  return runs[0];
}

// Both ways, the UTF-8 run of Utf8Of(latin1) writes Utf8Of of the Latin-1
// run's bytes.
void ExpectUtf8Differential(const std::string& dictionary,
                            const std::vector<std::string>& options,
                            const std::string& latin1,
                            const std::string& name) {
  std::vector<std::string> args = options;
  args.insert(args.end(), {"-b", dictionary});
  const Result expected = RunBothWays(args, latin1, name + "-l1");
  args.insert(args.begin(), "--utf8");
  const Result got = RunBothWays(args, Utf8Of(latin1), name + "-u8");
  ASSERT_EQ(expected.status, 0) << expected.errors;
  EXPECT_EQ(got.status, 0) << got.errors;
  EXPECT_EQ(got.errors, "");
  EXPECT_TRUE(Utf8Of(expected.output) == got.output)
      << name << ": the UTF-8 run does not write the Latin-1 run as UTF-8";
}

// Generated dictionaries and texts large enough for pieces (a file of more
// than two pieces of 64 KiB is analysed on several threads).
TEST(Utf8Program, GeneratedDictionariesFromAFileAndAPipe) {
  std::mt19937 g(1407);
  const std::vector<std::string> kOptions[] = {
      {}, {"-s"}, {"-m", "-a"}, {"-s", "-m", "-a"}};
  for (int test_case = 0; test_case < 4; ++test_case) {
    const std::string d = test_support::WriteFile(
        test_support::Bytes(test_support::RandomLatin1Dictionary(g)),
        "utf8-" + std::to_string(test_case) + ".bin");
    const std::string latin1 = test_support::RandomLatin1Text(g, 150000);
    ExpectUtf8Differential(d, kOptions[test_case], latin1,
                           "utf8-" + std::to_string(test_case));
  }
}

// The shared corpora with their lexicons, every option at once and none.
TEST(Utf8Program, SharedCorpora) {
  const std::string shared = ETIQUEM_SHARED;
  struct Case {
    std::string bin, text;
    size_t maximum;
  } cases[] = {
      {"/lexicon/ca.bin", "/corpus/ca-sb.txt", size_t(3) << 20},
      {"/lexicon/es.bin", "/corpus/es.txt", size_t(1) << 20},
  };
  int done = 0;
  for (const Case& c : cases) {
    const std::string bin = shared + c.bin;
    std::string text = ReadFile(shared + c.text);
    if (access(bin.c_str(), R_OK) != 0 || text.empty()) continue;
    text.resize(std::min(text.size(), c.maximum));
    ExpectUtf8Differential(bin, {"-s", "-m", "-a"}, text, "corpus-sma");
    ExpectUtf8Differential(bin, {}, text, "corpus");
    ++done;
  }
  if (done == 0) GTEST_SKIP() << "no shared lexicons or corpora";
}

// --- Typographic apostrophes ---

// A dictionary with elided articles and an unknown-word path (groups in
// ascending order of their symbols, as the loader expects).
constexpr char kElisions[] = R"(alfabet 'abcdeghilmnoqstu
define det 258
define n 259
estat 0
  a a 4
  d - 1
  l - 1
  q q 7
estat 1
  ' - 2
estat 2
  eps e 3
estat 3
  eps l 6
estat 4
  i i 5
estat 5
  g g 9
estat 6
  eps &det 8
estat 7
  descon
  ' ' 7
  u u 7
estat 8
  fi
estat 9
  u u 10
estat 10
  a a 11
estat 11
  eps &n 8
)";

TEST(Utf8Program, TypographicApostrophesReadAsApostrophes) {
  const std::string bin =
      test_support::WriteFile(test_support::Bytes(kElisions), "elisions.bin");
  struct Case {
    std::vector<std::string> options;
    std::string input, output;
  } cases[] = {
      {{}, "l\xe2\x80\x99" "aigua d\xca\xbc" "aigua l'aigua\n",
       "el&det;/aigua&n;/ el&det;/aigua&n;/ el&det;/aigua&n;/\n"},
      {{"-s"}, "L\xe2\x80\x99" "aigua\n",
       "L\xe2\x80\x99/El&det;/aigua/aigua&n;/\n"},
      {{"-a"}, "d\xe2\x80\x99" "aigua\n", "el&det;/ aigua&n;/\n"},
      {{"-m"}, "qu\xe2\x80\x99u qu'u\n",
       "<d>qu\xe2\x80\x99u</d> <d>qu'u</d>\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {ETIQUEM_BIN, "--utf8", "-b", bin};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const Result r = test_support::RunCommand(args, c.input);
    EXPECT_EQ(r.output, c.output) << c.input;
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.errors, "");
  }
}

// Replaces every "'" of `text` by one of the typographic apostrophes, or
// leaves it, at random.
std::string MixApostrophes(const std::string& text, std::mt19937& g) {
  std::string mixed;
  for (char c : text) {
    if (c != '\'') {
      mixed += c;
      continue;
    }
    const int pick = int(g() % 3);
    mixed += pick == 0 ? "'" : pick == 1 ? "\xe2\x80\x99" : "\xca\xbc";
  }
  return mixed;
}

// Every apostrophe of the text, in order, with what kind it is.
std::string ApostrophesOf(const std::string& text) {
  std::string kinds;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\'') kinds += 'a';
    if (text.compare(i, 3, "\xe2\x80\x99") == 0) kinds += 'r';
    if (text.compare(i, 2, "\xca\xbc") == 0) kinds += 'm';
  }
  return kinds;
}

// The same Catalan text with its apostrophes mixed at random: the same
// readings (once every apostrophe is written "'" again), and every echoed
// apostrophe the one of the input, whatever the memory of stretches
// remembered of the others: the same bytes as without the memory.
TEST(Utf8Program, MixedApostrophesOnTheCorpus) {
  const std::string shared = ETIQUEM_SHARED;
  const std::string bin = shared + "/lexicon/ca.bin";
  std::string text = ReadFile(shared + "/corpus/ca.txt");
  if (access(bin.c_str(), R_OK) != 0 || text.empty())
    GTEST_SKIP() << "no shared Catalan lexicon or corpus";
  text = Utf8Of(text.substr(0, size_t(1) << 20));
  std::mt19937 g(2019);
  const std::string mixed = MixApostrophes(text, g);
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{}, {"-s", "-a", "-m"}}) {
    std::vector<std::string> args = {"--utf8", "-b", bin};
    args.insert(args.end(), options.begin(), options.end());
    const Result plain = RunBothWays(args, text, "apostrophes");
    const Result got = RunBothWays(args, mixed, "mixed-apostrophes");
    ASSERT_EQ(got.status, 0) << got.errors;
    std::string back;
    for (size_t i = 0; i < got.output.size(); ++i) {
      if (got.output.compare(i, 3, "\xe2\x80\x99") == 0) {
        back += '\'';
        i += 2;
      } else if (got.output.compare(i, 2, "\xca\xbc") == 0) {
        back += '\'';
        i += 1;
      } else {
        back += got.output[i];
      }
    }
    EXPECT_TRUE(back == plain.output) << "readings differ";
    EXPECT_GT(ApostrophesOf(got.output).find('r'), 0u);
  }
  Automaton t;
  std::string error;
  int status = 0;
  ASSERT_TRUE(LoadAutomatonFile(t, bin.c_str(), error, status)) << error;
  const std::string part = mixed.substr(0, size_t(1) << 18);
  const Outputs without = AnalyseInProcess(t, part, 1, 1, 1, false,
                                           size_t(1) << 17, size_t(1) << 16, true);
  for (size_t nodes : {size_t(1) << 17, size_t(500)}) {
    const Outputs with = AnalyseInProcess(t, part, 1, 1, 1, true, nodes,
                                          size_t(1) << 16, true);
    EXPECT_TRUE(with.text == without.text) << nodes;
    EXPECT_TRUE(with.unknown_output == without.unknown_output) << nodes;
  }
  EXPECT_NE(ApostrophesOf(without.text).find('m'), std::string::npos);
}

// --- Any bytes come back ---

// A dictionary that recognises nothing.
constexpr char kNothing[] = "alfabet a\nestat 0\n";

std::string ExpectedWarning(const std::string& bytes) {
  uint64_t count = 0, first = 0;
  for (const test_support::ReferenceUnit& u :
       test_support::ReferenceUtf8Units(bytes))
    if (!u.valid && count++ == 0) first = u.start;
  return count == 0 ? "" : Warning(count, first);
}

TEST(Utf8Program, AnyBytesComeBackUnchanged) {
  const std::string bin =
      test_support::WriteFile(test_support::Bytes(kNothing), "nothing.bin");
  std::mt19937 g(77);
  std::vector<std::string> inputs = {
      "",
      std::string("a\0b\0", 4),
      "\xf0\x9f\x98\x80 \xe2\x82\xac \xe2\x80\x99",
      "\x80", "\xbf\xbf", "\xc0\xaf", "\xe0\x80\xaf", "\xed\xa0\x80",
      "\xf4\x90\x80\x80", "\xfe\xff", "text \xc3", "text \xe2\x80",
      "text \xf0\x9f\x98",
      "caf\xe9 en Latin-1, per error",
      "<![CDATA[\xe9 \xc3\xa9]]>\xe9<![CDATA[\xe2\x80]]>",
      test_support::RandomUtf8Text(g, 3000),
  };
  std::string random;
  for (int i = 0; i < 4000; ++i) random += char(g());
  inputs.push_back(random);
  // Large enough to be read in pieces from a file, cut everywhere.
  inputs.push_back(test_support::RandomUtf8Text(g, 300000));
  inputs.push_back(Utf8Of(test_support::RandomLatin1Text(g, 300000)));
  for (size_t i = 0; i < inputs.size(); ++i) {
    // A superblank left open would be closed in the output.
    const std::string input = inputs[i] + "]]>";
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{}, {"-s", "-m", "-a"}}) {
      std::vector<std::string> args = {"--utf8", "-b", bin};
      args.insert(args.end(), options.begin(), options.end());
      const Result r = RunBothWays(args, input, "identity");
      EXPECT_EQ(r.status, 0) << i;
      EXPECT_TRUE(r.output == input + "--- -d ---\n") << i;
      EXPECT_EQ(r.errors, ExpectedWarning(input)) << i;
    }
  }
}

// --- The command line ---

TEST(Utf8Program, TheLongOptionAnywhere) {
  const std::string bin =
      test_support::WriteFile(test_support::Bytes(kElisions), "elisions.bin");
  const std::string in = "l\xe2\x80\x99" "aigua\n";
  const std::string out = "l\xe2\x80\x99/el&det;/aigua/aigua&n;/\n";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--utf8", "-s", "-b", bin},
        {"-s", "--utf8", "-b", bin},
        {"-s", "-b", bin, "--utf8"}}) {
    std::vector<std::string> a = {ETIQUEM_BIN};
    a.insert(a.end(), args.begin(), args.end());
    const Result r = test_support::RunCommand(a, in);
    EXPECT_EQ(r.output, out);
    EXPECT_EQ(r.status, 0);
  }
  // Without it the same bytes are Latin-1: three characters that the
  // dictionary does not know.
  const Result latin1 =
      test_support::RunCommand({ETIQUEM_BIN, "-b", bin}, in);
  EXPECT_EQ(latin1.output, "l\xe2\x80\x99" "aigua&n;/\n");
  EXPECT_EQ(latin1.errors, "");
  // No argument is taken.
  const Result wrong =
      test_support::RunCommand({ETIQUEM_BIN, "--utf8=yes", "-b", bin}, in);
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.errors.find("Utilice 'etiquem -h'"), std::string::npos);
}

// The README's first command feeds UTF-8 to etiquem --utf8 with the build's
// own dictionary, and shows what it prints.
TEST(Utf8Program, TheReadmeCommand) {
  const std::string readme = ReadFile(std::string(ETIQUEM_SRC) + "/README.md");
  if (readme.empty()) GTEST_SKIP() << "no README";
  // The sentence echoed into the first command, and the indented line
  // after "prints".
  const size_t echo = readme.find("echo \"");
  ASSERT_NE(echo, std::string::npos);
  const size_t end = readme.find('"', echo + 6);
  const std::string sentence = readme.substr(echo + 6, end - echo - 6) + "\n";
  EXPECT_EQ(readme.find("| ./build/etiquem --utf8\n", end), end + 2);
  const size_t prints = readme.find("prints");
  ASSERT_NE(prints, std::string::npos);
  const size_t shown = readme.find("\n    ", prints) + 5;
  const std::string output =
      readme.substr(shown, readme.find('\n', shown) - shown) + "\n";
  // Elsewhere than the source tree, which may hold an old binari/.
  test_support::RunOptions op;
  op.directory = "/";
  const Result r =
      test_support::RunCommand({ETIQUEM_BIN, "--utf8"}, sentence, op);
  if (r.status == 255) GTEST_SKIP() << "no dictionary of the build's own";
  EXPECT_EQ(r.output, output);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.errors, "");
  EXPECT_NE(sentence.find("\xe2\x80\x99"), std::string::npos);
  EXPECT_NE(output.find("\xe2\x98\x82"), std::string::npos);
}

}  // namespace
}  // namespace etiquem
