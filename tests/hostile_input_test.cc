// Hostile input, as whole runs of the built etiquem: inputs and automaton
// files that a filter at the head of a pipeline may meet, and outputs that
// fail under it. Each run must end with the exact output, or with a one-line
// message beginning "Error" and a non-zero status; never a crash, a hang or
// the machine's memory.
//
// Memory is measured as the peak resident size of the child (getrusage via
// wait4). The longest stream is 64 MB by default (24 MB under the
// sanitizers); ETIQUEM_LONG=1 makes it 1 GB (about a minute in a release
// build).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "automaton_builder.h"
#include "engine/automaton.h"
#include "process.h"

namespace etiquem {
namespace {

using test_support::Result;

using test_support::kWithSanitizer;

// casa and cosa, each with the tags n and f; every other word is unknown.
constexpr char kHouse[] = R"(alfabet abcosxyz
define n 258
define f 259
estat 0
  c c 1
estat 1
  a a 2
  o o 2
estat 2
  s s 3
estat 3
  a a 4
estat 4
  eps &n 5
estat 5
  eps &f 6
estat 6
  fi
)";

std::string AutomatonFile(const std::string& description,
                          const std::string& name) {
  return test_support::WriteFile(test_support::Bytes(description), name);
}

std::string Repeat(const std::string& s, size_t times) {
  std::string r;
  r.reserve(s.size() * times);
  for (size_t i = 0; i < times; ++i) r += s;
  return r;
}

// A message as users see it: one line, beginning "Error".
void IsOneLineMessage(const std::string& errors) {
  EXPECT_EQ(errors.rfind("Error", 0), 0u) << errors;
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors.find('\n'), errors.size() - 1) << errors;
}

// Where two long texts first differ, or npos when they are equal.
size_t FirstDifference(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return i;
  return a.size() == b.size() ? std::string::npos : n;
}

// ---------------------------------------------------------------------------
// A run with a generated stream on standard input, checked as it comes out,
// and the child's peak memory.

struct Stream {
  std::vector<std::string> args;
  // Standard input: `total` bytes of `input` repeated (cut at `total`), or
  // closed before the program starts.
  std::string input;
  uint64_t total = 0;
  bool input_closed = false;
  // Standard output is compared with `output` repeated. After `close_after`
  // bytes (when set) the reader closes its end and reads no more.
  std::string output;
  int64_t close_after = -1;
  int seconds = 300;
};

struct StreamResult {
  int status = -1;  // exit status, or -1 when ended by a signal
  int signal_number = 0;
  bool timed_out = false;
  std::string errors;
  uint64_t received = 0;             // bytes read from standard output
  uint64_t difference = UINT64_MAX;  // first byte that differs
  long peak_kb = 0;                  // peak resident size
};

StreamResult RunStream(const Stream& f) {
  signal(SIGPIPE, SIG_IGN);
  int in[2] = {-1, -1}, out[2], err[2];
  if (!f.input_closed && pipe2(in, O_CLOEXEC) != 0) std::abort();
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) std::abort();
  std::vector<char*> argv;
  for (const std::string& a : f.args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid < 0) std::abort();
  if (pid == 0) {
    signal(SIGPIPE, SIG_DFL);
    if (f.input_closed)
      close(0);
    else
      dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int fd_in = in[1], fd_out = out[0], fd_err = err[0];
  if (in[0] >= 0) close(in[0]);
  close(out[1]);
  close(err[1]);
  if (f.close_after == 0) {
    close(fd_out);
    fd_out = -1;
  }

  // The input block: the pattern repeated past 64 KB, written from the
  // offset of the next byte in the pattern.
  std::string block;
  if (!f.input.empty())
    while (block.size() < (1 << 16) + f.input.size()) block += f.input;
  if (fd_in >= 0) {
    fcntl(fd_in, F_SETFL, fcntl(fd_in, F_GETFL) | O_NONBLOCK);
    if (f.total == 0) {
      close(fd_in);
      fd_in = -1;
    }
  }
  StreamResult r;
  uint64_t sent = 0;
  const auto limit =
      std::chrono::steady_clock::now() + std::chrono::seconds(f.seconds);
  std::vector<char> reading(1 << 16);
  while (fd_in >= 0 || fd_out >= 0 || fd_err >= 0) {
    pollfd p[3];
    int n = 0;
    if (fd_in >= 0) p[n++] = {fd_in, POLLOUT, 0};
    if (fd_out >= 0) p[n++] = {fd_out, POLLIN, 0};
    if (fd_err >= 0) p[n++] = {fd_err, POLLIN, 0};
    const auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(
                          limit - std::chrono::steady_clock::now())
                          .count();
    if (rest <= 0) {
      kill(pid, SIGKILL);
      r.timed_out = true;
      break;
    }
    if (poll(p, nfds_t(n), int(rest)) < 0) continue;
    for (int i = 0; i < n; ++i) {
      if (p[i].revents == 0) continue;
      const int fd = p[i].fd;
      if (fd == fd_in) {
        const size_t from = size_t(sent % f.input.size());
        const size_t block_length =
            size_t(std::min<uint64_t>(1 << 16, f.total - sent));
        const ssize_t w = write(fd, block.data() + from, block_length);
        if (w > 0) sent += uint64_t(w);
        if ((w < 0 && errno != EAGAIN && errno != EINTR) || sent == f.total) {
          close(fd_in);
          fd_in = -1;
        }
        continue;
      }
      const ssize_t l = read(fd, reading.data(), reading.size());
      if (l < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (l <= 0) {
        close(fd);
        (fd == fd_out ? fd_out : fd_err) = -1;
        continue;
      }
      if (fd == fd_err) {
        r.errors.append(reading.data(), size_t(l));
        continue;
      }
      for (ssize_t j = 0; j < l; ++j) {
        const uint64_t pos = r.received + uint64_t(j);
        if (r.difference == UINT64_MAX &&
            (f.output.empty() ||
             reading[size_t(j)] != f.output[pos % f.output.size()]))
          r.difference = pos;
      }
      r.received += uint64_t(l);
      if (f.close_after >= 0 && r.received >= uint64_t(f.close_after)) {
        close(fd_out);
        fd_out = -1;
      }
    }
  }
  for (int fd : {fd_in, fd_out, fd_err})
    if (fd >= 0) close(fd);
  int st = 0;
  rusage usage{};
  while (wait4(pid, &st, 0, &usage) < 0 && errno == EINTR) {
  }
  r.peak_kb = usage.ru_maxrss;
  if (WIFEXITED(st)) r.status = WEXITSTATUS(st);
  if (WIFSIGNALED(st)) r.signal_number = WTERMSIG(st);
  return r;
}

// ---------------------------------------------------------------------------
// Hostile input text.

TEST(HostileInput, SuperblankOf100MB) {
  const std::string bin = AutomatonFile(kHouse, "superblank.bin");
  // Content with every near miss of the closer, NUL bytes, line ends and
  // openers, but no "]]>".
  const std::string chunk("ab]]c]>\0\n<![CDATA[ \xe9]", 21);
  std::string input = "casa <![CDATA[";
  input += Repeat(chunk, (100u << 20) / chunk.size());
  input += "]]> cosa\n";
  const std::string expected =
      "casa&n;&f;/ " + input.substr(5, input.size() - 5 - 6) + " cosa&n;&f;/\n";
  test_support::RunOptions op;
  op.seconds = 300;
  const Result r =
      test_support::RunCommand({ETIQUEM_BIN, "-b", bin}, input, op);
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.errors, "");
  EXPECT_EQ(FirstDifference(r.output, expected), std::string::npos)
      << "output of " << r.output.size() << " bytes, expected "
      << expected.size();
}

// A stream far larger than any buffer, without a line end, through a pipe:
// the output must keep pace and the memory stay flat.
TEST(HostileInput, LongInputWithoutLineBreakWithFlatMemory) {
  const std::string bin = AutomatonFile(kHouse, "long-input.bin");
  const char* length = std::getenv("ETIQUEM_LONG");
  const uint64_t large = length && std::string(length) == "1"
                             ? uint64_t(1) << 30
                         : kWithSanitizer ? uint64_t(24) << 20
                                          : uint64_t(64) << 20;
  Stream f;
  f.args = {ETIQUEM_BIN, "-b", bin};
  f.input = "casa cosa xyz ";
  f.output = "casa&n;&f;/ cosa&n;&f;/ xyz ";
  f.total = (4u << 20) / f.input.size() * f.input.size();
  const StreamResult small = RunStream(f);
  f.total = large / f.input.size() * f.input.size();
  const StreamResult r = RunStream(f);
  for (const StreamResult* x : {&small, &r}) {
    EXPECT_FALSE(x->timed_out);
    EXPECT_EQ(x->status, 0) << x->errors;
    EXPECT_EQ(x->errors, "");
    EXPECT_EQ(x->difference, UINT64_MAX)
        << "output differs at byte " << x->difference;
  }
  EXPECT_EQ(r.received, f.total / f.input.size() * f.output.size());
  RecordProperty("peak_kb_4MB", int(small.peak_kb));
  RecordProperty("peak_kb_large", int(r.peak_kb));
  std::printf("peak resident size: %ld kB for 4 MB, %ld kB for %llu MB\n",
              small.peak_kb, r.peak_kb, (unsigned long long)(large >> 20));
  // Flat: the long run needs no more than the short one, give or take a few
  // pages of allocator slack.
  EXPECT_LE(r.peak_kb, small.peak_kb + (kWithSanitizer ? 32768 : 4096));
  if (!kWithSanitizer) {
    EXPECT_LE(r.peak_kb, 32768);
  }
}

TEST(HostileInput, RepeatedOpeners) {
  const std::string bin = AutomatonFile(kHouse, "openers.bin");
  const std::string opener = "<![CDATA[";
  struct Case {
    std::string input, output;
  };
  const std::string many = Repeat(opener, 200000);
  const std::string empties = Repeat("<![CDATA[]]>", 200000);
  const std::string halves = Repeat("<![CDATA", 200000);
  const std::vector<Case> cases = {
      // The first opener swallows the rest; the end of input closes it.
      {many, many + "]]>"},
      {"casa " + many + "]]>casa", "casa&n;&f;/ " + many + "]]>casa&n;&f;/"},
      // Empty superblanks back to back: each in its place.
      {empties + "casa", empties + "casa&n;&f;/"},
      // Openers cut short are plain text.
      {halves + "\n", halves + "\n"},
  };
  for (const Case& c : cases) {
    const Result r =
        test_support::RunCommand({ETIQUEM_BIN, "-b", bin}, c.input);
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_EQ(r.errors, "");
    EXPECT_EQ(FirstDifference(r.output, c.output), std::string::npos)
        << "input of " << c.input.size() << " bytes beginning "
        << c.input.substr(0, 24) << ": output of " << r.output.size()
        << " bytes, expected " << c.output.size();
  }
}

// Words of thousands of letters on a path that loops: every attempt stops
// after 254 characters and the rest is matched again, so nothing is lost.
TEST(HostileInput, WordsOfThousandsOfLettersOnAPathThatLoopsBack) {
  const std::string unknown = AutomatonFile(R"(alfabet ab
estat 0
  a a 1
  b b 1
estat 1
  descon
  a a 1
  b b 1
)",
                                            "loop_unknown.bin");
  const std::string end = AutomatonFile(R"(alfabet ab
estat 0
  a a 1
  b b 1
estat 1
  fi
  a a 1
  b b 1
)",
                                        "loop_analysis.bin");
  std::string word;
  for (int i = 0; i < 5000; ++i) word += "ab"[(i * 7 / 3) % 2];
  const std::string input = word + " " + std::string(3000, 'b') + "\n";
  // The stretches that the attempts write, in order.
  std::vector<std::string> pieces;
  for (const std::string& w : {word, std::string(3000, 'b')})
    for (size_t i = 0; i < w.size(); i += 254)
      pieces.push_back(w.substr(i, 254));
  std::string marked, read, list;
  for (size_t i = 0; i < pieces.size(); ++i) {
    marked += "<d>" + pieces[i] + "</d>";
    read += pieces[i] + "/";
    list += pieces[i] + "\n";
    if (pieces[i].size() < 254) {
      marked += i + 1 == pieces.size() ? "\n" : " ";
      read += i + 1 == pieces.size() ? "\n" : " ";
    }
  }
  ASSERT_EQ(pieces.size(), 20u + 12u);

  Result r = test_support::RunCommand({ETIQUEM_BIN, "-b", unknown}, input);
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_TRUE(r.output == input) << r.output.substr(0, 600);

  r = test_support::RunCommand({ETIQUEM_BIN, "-b", unknown, "-m"}, input);
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.output, marked);

  const std::string unknown_path =
      test_support::WriteFile("", "loop-unknown.txt");
  r = test_support::RunCommand({ETIQUEM_BIN, "-b", unknown, "-d", unknown_path},
                               input);
  EXPECT_EQ(r.status, 0) << r.errors;
  std::ifstream f(unknown_path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  EXPECT_EQ(ss.str(), list);

  r = test_support::RunCommand({ETIQUEM_BIN, "-b", end}, input);
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.output, read);
}

TEST(HostileInput, EpsilonCycle) {
  for (const char* description : {
           // A cycle reached after a character.
           "alfabet a\nestat 0\n  a a 1\nestat 1\n  eps b 2\nestat 2\n"
           "  eps c 3\nestat 3\n  eps - 1\n  fi\n",
           // A state that moves to itself.
           "alfabet a\nestat 0\n  a a 1\nestat 1\n  eps - 1\n  fi\n",
           // A cycle that no word reaches.
           "alfabet a\nestat 0\n  a a 1\nestat 1\n  fi\nestat 2\n  eps - 3\n"
           "estat 3\n  eps - 2\n",
       }) {
    const std::string bin = AutomatonFile(description, "cycle.bin");
    const Result r =
        test_support::RunCommand({ETIQUEM_BIN, "-b", bin}, "a aa\n");
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 255) << description;
    EXPECT_EQ(r.output, "");
    IsOneLineMessage(r.errors);
  }
}

// A chain of 100000 epsilon moves is no cycle: it loads (no deep recursion)
// and is followed to its end.
TEST(HostileInput, VeryLongEpsilonChain) {
  constexpr int kStates = 100000;
  test_support::AutomatonDescription a;
  a.alphabet = "a";
  a.states.resize(kStates + 2);
  for (int i = 0; i < kStates + 2; ++i) a.states[size_t(i)].file_number = i;
  a.states[0].groups.push_back({'a', {{'a', 1}}});
  for (int i = 1; i <= kStates; ++i)
    a.states[size_t(i)].epsilon_groups.push_back(
        {0, {{int16_t(i == kStates ? 'z' : 0), i + 1}}});
  a.states[kStates + 1].groups.push_back(
      {int16_t(kEndOfAnalysis), {{0, kStates + 1}}});
  const std::string bin =
      test_support::WriteFile(test_support::Bytes(a), "chain.bin");
  const Result r =
      test_support::RunCommand({ETIQUEM_BIN, "-b", bin}, "a b a\n");
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.output, "az/ b az/\n");
}

// Every character doubles the paths. The live-state set is bounded (2^20
// states at once, 2^22 output symbols per attempt): the run ends with the
// live-state memory message and status 1, what was written before it is
// kept, and memory stays far below what the paths would need.
TEST(HostileInput, PathsThatDoubleAtEveryCharacter) {
  const std::string bin = AutomatonFile(R"(alfabet ab
estat 0
  fi
  a a 0
  a b 0
)",
                                        "double.bin");
  Stream f;
  f.args = {ETIQUEM_BIN, "-b", bin};
  f.input = "b b " + std::string(64, 'a') + "\n";
  f.total = f.input.size();
  f.output = "b b ";
  const StreamResult r = RunStream(f);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errors,
            "Error: No queda memoria para crear nuevos estados vivos\n");
  EXPECT_EQ(r.received, 4u);
  EXPECT_EQ(r.difference, UINT64_MAX);
  std::printf("peak resident size at the live-state bound: %ld kB\n",
              r.peak_kb);
  RecordProperty("peak_kb_double", int(r.peak_kb));
  EXPECT_LE(r.peak_kb, kWithSanitizer ? 1L << 20 : 400L << 10);
}

TEST(HostileInput, StandardInputClosed) {
  const std::string bin = AutomatonFile(kHouse, "closed_input.bin");
  Stream f;
  f.args = {ETIQUEM_BIN, "-b", bin};
  f.input_closed = true;
  const StreamResult r = RunStream(f);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.received, 0u);
  IsOneLineMessage(r.errors);
}

// ---------------------------------------------------------------------------
// Broken automaton files.

// A dictionary of the usual shape: several words sharing prefixes, tags on
// epsilon moves, every kind of marker, a second epsilon group, an unknown-
// word loop.
constexpr char kReal[] = R"(alfabet 'ABCabcdeos\xe9
define n 258
define f 259
define vblex 260
define pr 261
estat 0
  ' ' 9
  a a 10
  c c 1
  d d 7
estat 1
  a a 2
  o o 2
estat 2
  s s 3
estat 3
  a a 4
  e e 5
estat 4
  eps &n 6
  eps &vblex 6
  eps2 &pr 6
estat 5
  eps s 4
estat 6
  eps &f 8
estat 7
  e e 8
  \xe9 e 8
estat 8
  fi
  parcial
estat 9
  eps &pr 8
estat 10
  descon
  a a 10
  b b 10
)";

TEST(HostileAutomaton, CutAtEveryByte) {
  const std::string bytes = test_support::Bytes(kReal);
  ASSERT_GT(bytes.size(), 300u);
  for (size_t n = 0; n <= bytes.size(); ++n) {
    Automaton t;
    std::string error;
    const bool loaded = LoadAutomatonFromBytes(
        t, "real.bin", reinterpret_cast<const uint8_t*>(bytes.data()), n,
        error);
    if (n == bytes.size()) {
      EXPECT_TRUE(loaded) << error;
      EXPECT_EQ(t.state_count, 11);
      continue;
    }
    ASSERT_FALSE(loaded) << "loaded when cut at byte " << n;
    EXPECT_EQ(
        error.rfind("Error: El fichero binario real.bin no es v\xe1lido", 0),
        0u)
        << error;
    EXPECT_EQ(error.find('\n'), error.size() - 1) << error;
    EXPECT_TRUE(t.states.empty());
  }
  // A sample through the program.
  for (size_t n : {size_t(0), size_t(3), size_t(4), size_t(50), size_t(101),
                   bytes.size() / 2, bytes.size() - 1}) {
    const std::string bin =
        test_support::WriteFile(bytes.substr(0, n), "cut.bin");
    const Result r =
        test_support::RunCommand({ETIQUEM_BIN, "-b", bin}, "casa\n");
    EXPECT_EQ(r.status, 255) << n;
    EXPECT_EQ(r.output, "");
    IsOneLineMessage(r.errors);
  }
  const std::string bin = test_support::WriteFile(bytes, "whole.bin");
  const Result r =
      test_support::RunCommand({ETIQUEM_BIN, "-b", bin}, "casa de aab\n");
  EXPECT_EQ(r.status, 0) << r.errors;
  // casa: two paths, each a complete analysis then a piece, in path order.
  EXPECT_EQ(r.output,
            "<amb><e>casa&n;&f;/<e>casa&n;&f;</e>casa&vblex;&f;/</e>"
            "<e>casa&vblex;&f;</e></amb> de/<e>de</e> aab\n");
}

TEST(HostileAutomaton, CatalanDictionaryCut) {
  const std::string path = std::string(ETIQUEM_SHARED) + "/lexicon/ca.bin";
  std::ifstream f(path, std::ios::binary);
  if (!f) GTEST_SKIP() << path << " is absent";
  std::stringstream ss;
  ss << f.rdbuf();
  const std::string bytes = ss.str();
  // Every offset of the head, where the counts and the symbol tables are;
  // then offsets spread over the states, and the last bytes.
  std::vector<size_t> cuts;
  for (size_t n = 0; n < 4096 && n < bytes.size(); ++n) cuts.push_back(n);
  std::mt19937_64 rng(8);
  for (int i = 0; i < 150; ++i) cuts.push_back(rng() % bytes.size());
  for (size_t n = bytes.size() - 16; n <= bytes.size(); ++n) cuts.push_back(n);
  for (size_t n : cuts) {
    Automaton t;
    std::string error;
    const bool loaded = LoadAutomatonFromBytes(
        t, "ca.bin", reinterpret_cast<const uint8_t*>(bytes.data()), n, error);
    if (n == bytes.size()) {
      EXPECT_TRUE(loaded) << error;
      continue;
    }
    ASSERT_FALSE(loaded) << "loaded when cut at byte " << n;
    EXPECT_EQ(
        error.rfind("Error: El fichero binario ca.bin no es v\xe1lido", 0), 0u)
        << error;
    EXPECT_EQ(error.find('\n'), error.size() - 1) << error;
  }
  for (size_t n : {size_t(100), bytes.size() / 3, bytes.size() - 1}) {
    const std::string bin =
        test_support::WriteFile(bytes.substr(0, n), "ca_cut.bin");
    const Result r =
        test_support::RunCommand({ETIQUEM_BIN, "-b", bin}, "casa\n");
    EXPECT_EQ(r.status, 255) << n;
    EXPECT_EQ(r.output, "");
    IsOneLineMessage(r.errors);
  }
}

// A group that holds no moves, in a file with no moves at all, and an empty
// group after the last move: both load, and loading takes no address past
// the moves (UndefinedBehaviorSanitizer checks this in the sanitizer build).
TEST(HostileAutomaton, GroupsWithoutMoves) {
  test_support::AutomatonDescription
      without_moves;  // one group for "a", no moves in the file
  without_moves.alphabet = "ab";
  without_moves.states.resize(1);
  without_moves.states[0].groups.push_back({'a', {}});
  test_support::AutomatonDescription empty_group_last =
      without_moves;  // moves, then an empty group
  empty_group_last.states[0].groups = {{'a', {{'a', 0}}}, {'b', {}}};
  for (const test_support::AutomatonDescription& a :
       {without_moves, empty_group_last}) {
    const std::string bytes = test_support::Bytes(a);
    Automaton t;
    std::string error;
    EXPECT_TRUE(LoadAutomatonFromBytes(
        t, "empty.bin", reinterpret_cast<const uint8_t*>(bytes.data()),
        bytes.size(), error))
        << error;
    EXPECT_EQ(t.states[0].group_count, int32_t(a.states[0].groups.size()));
  }
}

// Random bytes, and random bytes behind a plausible head: refused with one
// line, or loaded; a run on a file that loaded ends normally or with one of
// the run-time messages, never by a signal.
TEST(HostileAutomaton, RandomBytes) {
  std::mt19937_64 rng(20240607);
  // Alphabet "abc", no defines, four states.
  const std::string header("\x03\0\0\0abc\0\0\0\0\x04\0\0\0", 15);
  std::vector<std::string> files;
  for (int i = 0; i < 4000; ++i) {
    std::string b = i % 2 ? header : std::string();
    const size_t n = rng() % (i % 3 == 0 ? 64 : 4096);
    for (size_t j = 0; j < n; ++j) {
      // Mostly small values, as counts and codes in a real file are.
      const uint64_t x = rng();
      b += char(x % 4 == 0 ? x >> 8 : x % 4 == 1 ? 0 : x % 8);
    }
    Automaton t;
    std::string error;
    if (!LoadAutomatonFromBytes(t, "random.bin",
                                reinterpret_cast<const uint8_t*>(b.data()),
                                b.size(), error)) {
      ASSERT_EQ(error.rfind("Error", 0), 0u) << error;
      ASSERT_EQ(error.find('\n'), error.size() - 1) << error;
    }
    if (i % 200 == 0 || (i % 2 == 1 && !t.states.empty() && files.size() < 40))
      files.push_back(b);
  }
  for (const std::string& b : files) {
    const std::string bin = test_support::WriteFile(b, "random.bin");
    const Result r = test_support::RunCommand({ETIQUEM_BIN, "-b", bin},
                                              "abc cab\nba<![CDATA[x]]>a\n");
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.signal_number, 0);
    EXPECT_TRUE(r.status == 0 || r.status == 1 || r.status == 255) << r.status;
    if (r.status != 0) IsOneLineMessage(r.errors);
  }
}

// ---------------------------------------------------------------------------
// Outputs that fail.

constexpr char kUnknownWords[] = R"(alfabet abxyz
estat 0
  x x 1
  y y 1
estat 1
  descon
  x x 1
  y y 1
  z z 1
)";

TEST(HostileOutput, UnknownWordsOnAFullDisk) {
  const std::string bin = AutomatonFile(kUnknownWords, "full.bin");
  const Result r = test_support::RunCommand(
      {ETIQUEM_BIN, "-b", bin, "-d", "/dev/full"}, "xyz a yy\n");
  EXPECT_EQ(r.output, "xyz a yy\n");
  EXPECT_EQ(r.status, 1);
  IsOneLineMessage(r.errors);
}

TEST(HostileOutput, UnknownWordsOnAClosedDescriptor) {
  const std::string bin = AutomatonFile(kUnknownWords, "closed.bin");
  const Result r = test_support::RunCommand(
      {ETIQUEM_BIN, "-b", bin, "-d", "/dev/fd/57"}, "xyz a yy\n");
  EXPECT_EQ(r.output, "");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errors,
            "Error: El fitxer de les paraules desconegudes no ha pogut "
            "obrir-se\n");
}

TEST(HostileOutput, StandardOutputClosed) {
  const std::string bin = AutomatonFile(kHouse, "closed_output.bin");
  test_support::RunOptions op;
  op.output = test_support::StandardOutputMode::kClosed;
  for (const std::string& input :
       {std::string("casa\n"), Repeat("casa cosa ", 300000)}) {
    const Result r =
        test_support::RunCommand({ETIQUEM_BIN, "-b", bin}, input, op);
    EXPECT_EQ(r.status, 1);
    IsOneLineMessage(r.errors);
  }
  op.output = test_support::StandardOutputMode::kFull;
  const Result r =
      test_support::RunCommand({ETIQUEM_BIN, "-b", bin}, "casa\n", op);
  EXPECT_EQ(r.status, 1);
  IsOneLineMessage(r.errors);
}

// The reader of the output goes away while input keeps coming: the program
// dies by SIGPIPE (or ends with a non-zero status) at once, never waits.
TEST(HostileOutput, PipeClosedByTheReader) {
  const std::string bin = AutomatonFile(kHouse, "pipe.bin");
  for (int64_t close_at : {int64_t(0), int64_t(1), int64_t(100000)}) {
    Stream f;
    f.args = {ETIQUEM_BIN, "-b", bin};
    f.input = "casa cosa xyz\n";
    f.total = uint64_t(1) << 40;  // more than it will ever read
    f.output = "casa&n;&f;/ cosa&n;&f;/ xyz\n";
    f.close_after = close_at;
    f.seconds = 60;
    const StreamResult r = RunStream(f);
    EXPECT_FALSE(r.timed_out) << close_at;
    EXPECT_TRUE(r.signal_number == SIGPIPE ||
                (r.signal_number == 0 && r.status > 0))
        << "closed after " << close_at << ": signal " << r.signal_number
        << ", status " << r.status;
    EXPECT_EQ(r.difference, UINT64_MAX);
    if (r.signal_number == 0) IsOneLineMessage(r.errors);
  }
}

}  // namespace
}  // namespace etiquem
