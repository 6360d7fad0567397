// A file analysed in pieces on several threads must give exactly what the
// sequential loop gives: the same bytes on standard output and in the
// unknown-words file, the same failure at the same place, whatever the
// pieces' size, the window, the number of workers and where the cuts fall
// (inside words, multiword stretches and superblanks). Checked in process
// on generated dictionaries and texts with pieces of a few bytes, and on
// whole runs of the program: a file on standard input or by -f is analysed
// in pieces, a pipe sequentially.

#include "engine/pieces.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "analysis_helper.h"
#include "automaton_builder.h"
#include "process.h"

namespace etiquem {
namespace {

using test_support::AnalyseInPiecesInProcess;
using test_support::AnalyseInProcess;
using test_support::LoadOrFail;
using test_support::Outputs;
using test_support::Result;

// ETIQUEM_SEED=n runs other cases (for long hunts).
uint32_t Seed() {
  const char* l = std::getenv("ETIQUEM_SEED");
  return l ? uint32_t(std::strtoul(l, nullptr, 10)) : 7122026u;
}

// Pieces of a few bytes, with a window's cuts noted every few bytes (the
// run before then steps from noted cut to noted cut) or every one, and the
// other workers started from the first run's caches or empty.
PieceParameters RandomParameters(std::mt19937& g) {
  PieceParameters p = test_support::RandomPieceParameters(g);
  p.cut_spacing = g() % 3 == 0 ? 1 : 1 + g() % 24;
  p.seed_bytes = g() % 3 == 0 ? 0 : 1 + g() % 64;
  return p;
}

TEST(Pieces, WriteTheSameAsTheSequentialRun) {
  std::mt19937 g(Seed());
  int with_superblanks = 0;
  for (int test_case = 0; test_case < 150; ++test_case) {
    const std::string unknown = test_support::RandomDictionary(g);
    Automaton t;
    LoadOrFail(t, test_support::Bytes(unknown));
    const std::string text = test_support::RandomText(g, 100 + g() % 1500);
    const int s = int(g() % 2), a = int(g() % 2), m = int(g() % 2);
    const Outputs sequential = AnalyseInProcess(t, text, s, a, m, true);
    for (int test_support = 0; test_support < 3; ++test_support) {
      const PieceParameters p = RandomParameters(g);
      const Outputs pieces = AnalyseInPiecesInProcess(t, text, s, a, m, p);
      ASSERT_EQ(sequential.text, pieces.text)
          << unknown << "\ntrams of " << p.piece_bytes << ", window "
          << p.window_bytes << ", cuts every " << p.cut_spacing << ", "
          << p.threads << " workers";
      ASSERT_EQ(sequential.unknown_output, pieces.unknown_output) << unknown;
    }
    with_superblanks += sequential.text.find("<![CDATA[") != std::string::npos;
  }
  EXPECT_GT(with_superblanks, 50);
}

// The same with UTF-8 input: piece starts fall inside characters of two to
// four bytes and inside invalid units, and move to the next character
// start; the invalid units are reported as the sequential loop reports
// them.
TEST(Pieces, Utf8WritesTheSameAsTheSequentialRun) {
  std::mt19937 g(Seed() + 8);
  int with_invalid = 0;
  for (int test_case = 0; test_case < 100; ++test_case) {
    const std::string d = test_support::RandomLatin1Dictionary(g);
    Automaton t;
    LoadOrFail(t, test_support::Bytes(d));
    const std::string text = test_support::RandomUtf8Text(g, 100 + g() % 1500);
    const int s = int(g() % 2), a = int(g() % 2), m = int(g() % 2);
    const Outputs sequential = AnalyseInProcess(t, text, s, a, m, true,
                                                size_t(1) << 17, 64, true);
    for (int run = 0; run < 3; ++run) {
      const PieceParameters p = RandomParameters(g);
      const Outputs pieces =
          AnalyseInPiecesInProcess(t, text, s, a, m, p, "", true);
      ASSERT_EQ(sequential.text, pieces.text)
          << d << "\npieces of " << p.piece_bytes << ", window "
          << p.window_bytes << ", cuts every " << p.cut_spacing << ", "
          << p.threads << " workers";
      ASSERT_EQ(sequential.unknown_output, pieces.unknown_output) << d;
      ASSERT_EQ(sequential.report.invalid_utf8, pieces.report.invalid_utf8);
      ASSERT_EQ(sequential.report.first_invalid_utf8,
                pieces.report.first_invalid_utf8);
    }
    with_invalid += sequential.report.invalid_utf8 > 0;
  }
  EXPECT_GT(with_invalid, 50);
}

// Where a piece starts in UTF-8 input, read from the file around its
// nominal offset.
TEST(Pieces, Utf8PieceStarts) {
  // e-acute at 0, U+1F600 at 2, e-acute at 6, stray continuation bytes.
  const std::string text = "\xc3\xa9\xf0\x9f\x98\x80\xc3\xa9\x80\x80\x80\x80";
  const int fd = memfd_create("piece-start", 0);
  ASSERT_GE(fd, 0);
  // The input starts at 3, after a byte that would start a character.
  const std::string file = std::string("x\xf0y") + text;
  ASSERT_EQ(write(fd, file.data(), file.size()), ssize_t(file.size()));
  const uint64_t expected[] = {0, 2, 2, 6, 6, 6, 6, 8, 8, 9, 10, 11, 12};
  for (uint64_t at = 0; at <= text.size(); ++at) {
    EXPECT_EQ(PieceStart(fd, 3, text.size(), at, 1, true), expected[at]) << at;
    EXPECT_EQ(PieceStart(fd, 3, text.size(), at, 1, false), at);
    // The same from the input's bytes, as a distributed run finds them.
    Input bytes;
    bytes.bytes = text;
    Options utf8;
    utf8.utf8 = true;
    EXPECT_EQ(RangeStart(bytes, text.size(), at, utf8), expected[at]) << at;
  }
  close(fd);
}

TEST(Pieces, ExtremeLengths) {
  Automaton t;
  LoadOrFail(t, test_support::Bytes("alfabet ab\nestat 0\n  a a 1\n  b b 0\n"
                                    "estat 1\n  fi\n  \\s x 0\n"));
  PieceParameters p;
  p.piece_bytes = 3;
  p.window_bytes = 1;
  for (const std::string& text :
       {std::string(), std::string("a"), std::string("ab a b"),
        std::string(500, 'a'), std::string(300, 'b') + " a",
        "a <![CDATA[" + std::string(100, 'a') + "]]> a",
        "a <![CDATA[" + std::string(100, 'a')}) {
    EXPECT_EQ(AnalyseInProcess(t, text, 0, 0, 0, true).text,
              AnalyseInPiecesInProcess(t, text, 0, 0, 0, p).text)
        << text;
  }
}

// The input may start anywhere in the file: where the descriptor stands.
TEST(Pieces, StartWhereTheDescriptorStands) {
  std::mt19937 g(5);
  Automaton t;
  LoadOrFail(t, test_support::Bytes(test_support::RandomDictionary(g)));
  const std::string before = test_support::RandomText(g, 300);
  const std::string text = test_support::RandomText(g, 700);
  PieceParameters p;
  p.piece_bytes = 16;
  EXPECT_EQ(AnalyseInProcess(t, text, 0, 0, 0, true).text,
            AnalyseInPiecesInProcess(t, text, 0, 0, 0, p, before).text);
}

// --- Ranges analysed apart and joined by the caller ---

// Joins the analyses of consecutive ranges of `text` as a distributed run
// does: where the analysis of one range, gone past its end, meets a clean
// cut that the next range's noted at the same offset. A range whose start
// meets no common cut is analysed again from the last point known true.
Outputs JoinRanges(const Dictionary& dictionary, const Options& options,
                   const std::string& text, uint64_t range, uint64_t window,
                   int* reruns) {
  auto analyse = [&](uint64_t begin, uint64_t end) {
    Input input;
    input.bytes = std::string_view(text).substr(begin);
    RangeRequest request;
    request.begin = begin;
    request.window_end = std::min<uint64_t>(begin + window, end);
    request.end = end;
    request.follow_end = end + window;
    return AnalyseRange(dictionary, options, input, request);
  };
  const uint64_t count = std::max<uint64_t>(1, (text.size() + range - 1) / range);
  Outputs joined;
  RangeResult current = analyse(0, std::min<uint64_t>(range, text.size()));
  CleanCut from;       // where `current`'s output starts to count
  uint64_t true_from = 0;  // an offset where `current` stands at the truth
  for (uint64_t i = 0;; ++i) {
    if (current.error.failed() || current.input_ended || i + 1 >= count) {
      joined.text += current.output.substr(from.output_bytes);
      joined.unknown_output += current.unknown_words.substr(from.unknown_bytes);
      joined.error = current.error;
      return joined;
    }
    const uint64_t begin = (i + 1) * range;
    const uint64_t end = std::min<uint64_t>(begin + range, text.size());
    RangeResult next = analyse(begin, end);
    const RangeJoin join = FindJoin(current.tail_cuts, next.head_cuts);
    if (!join.found) {
      // Analyse both ranges again from where `current` is known true.
      ++*reruns;
      current = analyse(true_from, end);
      from = CleanCut{};
      continue;
    }
    joined.text += current.output.substr(
        from.output_bytes, join.earlier.output_bytes - from.output_bytes);
    joined.unknown_output += current.unknown_words.substr(
        from.unknown_bytes, join.earlier.unknown_bytes - from.unknown_bytes);
    from = join.later;
    true_from = join.later.offset;
    current = std::move(next);
  }
}

TEST(Ranges, JoinedRangesWriteWhatOneRunWrites) {
  std::mt19937 g(Seed() + 1);
  int reruns = 0;
  for (int test_case = 0; test_case < 120; ++test_case) {
    const std::string description = test_support::RandomDictionary(g);
    Error error;
    const auto dictionary = Dictionary::FromBytes(
        "random.bin", test_support::Bytes(description), &error);
    ASSERT_TRUE(dictionary) << error.message;
    const std::string text = test_support::RandomText(g, 100 + g() % 1500);
    const int s = int(g() % 2), a = int(g() % 2), m = int(g() % 2);
    const Outputs whole =
        AnalyseInProcess(dictionary->automaton(), text, s, a, m, true);
    Options options;
    options.surface_forms = s;
    options.apostrophe_blank = a;
    options.mark_unknown = m;
    options.unknown_words = true;
    const uint64_t range = 1 + g() % 64, window = 1 + g() % 24;
    const Outputs joined =
        JoinRanges(*dictionary, options, text, range, window, &reruns);
    ASSERT_EQ(whole.text, joined.text)
        << description << "\nranges of " << range << ", window " << window;
    ASSERT_EQ(whole.unknown_output, joined.unknown_output);
    ASSERT_EQ(whole.error.message, joined.error.message);
  }
  EXPECT_GT(reruns, 0) << "no range had to be analysed again";
}

// The join is the first offset both lists hold, whatever else they hold.
TEST(Ranges, FindJoinTakesTheFirstCommonCut) {
  const std::vector<CleanCut> tail = {{10, 100, 1}, {14, 140, 2}, {20, 200, 3}};
  const std::vector<CleanCut> head = {{8, 0, 0}, {14, 40, 4}, {20, 90, 5}};
  const RangeJoin join = FindJoin(tail, head);
  ASSERT_TRUE(join.found);
  EXPECT_EQ(join.earlier.offset, 14u);
  EXPECT_EQ(join.earlier.output_bytes, 140u);
  EXPECT_EQ(join.later.output_bytes, 40u);
  EXPECT_EQ(join.later.unknown_bytes, 4u);
  EXPECT_FALSE(FindJoin({}, head).found);
  EXPECT_FALSE(FindJoin(tail, {}).found);
  EXPECT_FALSE(FindJoin(std::span(tail).first(1), head).found);
  EXPECT_FALSE(FindJoin(std::span(tail).subspan(1), std::span(head).first(1)).found);
}

// --- Whole runs: a file read in pieces against the same bytes piped ---

using test_support::ReadFile;

// Runs the program on `text` from a file and from a pipe, with `args`
// after the program's name; both must agree in every byte and the status.
// Returns the file run.
Result SameInFileAndPipe(const std::vector<std::string>& args,
                         const std::string& text, const std::string& name) {
  std::vector<std::string> arguments = {ETIQUEM_BIN};
  arguments.insert(arguments.end(), args.begin(), args.end());
  const std::string path = test_support::WriteFile(text, name);
  test_support::RunOptions op;
  op.seconds = 120;
  const Result f = test_support::RunWithInputFile(arguments, path, op);
  const Result c = test_support::RunCommand(arguments, text, op);
  EXPECT_EQ(f.status, c.status) << f.errors;
  EXPECT_EQ(f.errors, c.errors);
  EXPECT_TRUE(f.output == c.output)
      << "outputs of " << f.output.size() << " and " << c.output.size()
      << " bytes differ";
  return f;
}

constexpr char kDouble[] = R"(alfabet ab
estat 0
  fi
  a a 0
  a b 0
)";

// Every 'a' doubles the paths: a long run of them stops the program with
// the live-state message. Wherever it falls against the pieces (the first
// piece is 64 KiB), what was written before it and the message are those of
// the sequential loop.
TEST(PiecesProgram, TheFailureIsTheSameWherever) {
  const std::string bin =
      test_support::WriteFile(test_support::Bytes(kDouble), "double.bin");
  for (size_t room : {size_t(1000), size_t(65530), size_t(65536), size_t(65540),
                      size_t(200000)}) {
    std::string text;
    while (text.size() < room) text += "b b ";
    text.resize(room);
    text += std::string(64, 'a') + "\n";
    while (text.size() < 400000) text += "b b ";
    const Result r = SameInFileAndPipe({"-b", bin}, text, "double.txt");
    EXPECT_EQ(r.status, 1) << room;
    EXPECT_EQ(r.errors,
              "Error: No queda memoria para crear nuevos estados vivos\n");
  }
}

// A run of 'a' inside a superblank is never analysed; but a piece that
// starts inside the superblank does not know it, and its own run fails.
// That run is given up: the output is whole and the status 0.
TEST(PiecesProgram, AFailureNotFromTheInputDoesNotCount) {
  const std::string bin =
      test_support::WriteFile(test_support::Bytes(kDouble), "double.bin");
  std::string text;
  while (text.size() < 65000) text += "b b ";
  text += "<![CDATA[" + std::string(2000, 'a') + "]]>";
  while (text.size() < 300000) text += "b b ";
  const Result r = SameInFileAndPipe({"-b", bin}, text, "double.txt");
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.output.size(), text.size());
}

// A superblank longer than several pieces.
TEST(PiecesProgram, SuperblankLongerThanSeveralPieces) {
  const std::string bin =
      test_support::WriteFile(test_support::Bytes(kDouble), "double.bin");
  std::string text = "b b <![CDATA[";
  while (text.size() < 500000) text += "a b ]] > <![CDATA[ ";
  text += "]]> b b b\n";
  const Result r = SameInFileAndPipe({"-b", bin}, text, "sb.txt");
  EXPECT_EQ(r.status, 0) << r.errors;
}

// The shared corpora, with every option, from a file (in pieces) and piped.
TEST(PiecesProgram, Corpus) {
  const std::string shared = ETIQUEM_SHARED;
  struct Case {
    std::string bin, text;
    size_t maximum;
  } cases[] = {
      {"/lexicon/ca.bin", "/corpus/ca-sb.txt", size_t(1) << 21},
      {"/lexicon/es.bin", "/corpus/es.txt", size_t(1) << 20},
  };
  int done = 0;
  for (const Case& test_case : cases) {
    const std::string bin = shared + test_case.bin;
    const std::string corpus = shared + test_case.text;
    if (access(bin.c_str(), R_OK) != 0 || access(corpus.c_str(), R_OK) != 0)
      continue;
    std::string text = ReadFile(corpus);
    if (text.size() > test_case.maximum) text.resize(test_case.maximum);
    const std::string d1 = test_support::WriteFile("", "unknown-from-file.txt");
    const std::string d2 = test_support::WriteFile("", "unknown-from-pipe.txt");
    const std::string path = test_support::WriteFile(text, "corpus.txt");
    test_support::RunOptions op;
    op.seconds = 300;
    const Result f = test_support::RunCommand(
        {ETIQUEM_BIN, "-s", "-m", "-a", "-d", d1, "-b", bin, "-f", path}, "",
        op);
    const Result c = test_support::RunCommand(
        {ETIQUEM_BIN, "-s", "-m", "-a", "-d", d2, "-b", bin}, text, op);
    ASSERT_EQ(f.status, 0) << f.errors;
    ASSERT_EQ(c.status, 0) << c.errors;
    EXPECT_TRUE(f.output == c.output) << test_case.text;
    EXPECT_GT(f.output.size(), text.size());
    const std::string u1 = ReadFile(d1), u2 = ReadFile(d2);
    EXPECT_TRUE(u1 == u2) << test_case.text;
    SameInFileAndPipe({"-b", bin}, text, "corpus2.txt");
    ++done;
  }
  if (done == 0) GTEST_SKIP() << "no shared lexicons or corpora";
}

// Standard input already partly read by someone else: the program reads
// from where the descriptor stands.
TEST(PiecesProgram, InputAlreadyStarted) {
  const std::string bin =
      test_support::WriteFile(test_support::Bytes(kDouble), "double.bin");
  std::string text;
  while (text.size() < 300000) text += "b ab b aab ";
  const std::string path = test_support::WriteFile(text, "started.txt");
  const Result f = test_support::RunWithInputFile(
      {"/bin/sh", "-c",
       "dd bs=1001 count=1 of=/dev/null 2>/dev/null; exec " +
           std::string(ETIQUEM_BIN) + " -b " + bin},
      path);
  const Result c =
      test_support::RunCommand({ETIQUEM_BIN, "-b", bin}, text.substr(1001));
  ASSERT_EQ(f.status, 0) << f.errors;
  EXPECT_TRUE(f.output == c.output);
}

}  // namespace
}  // namespace etiquem
