// How automaton files are read: the same model or the same refusal whether
// the bytes are in memory, in a regular file or arrive through a pipe a few
// at a time; and, as whole runs, files that never end or are huge, refused
// at their first wrong bytes, quickly and in little memory.
//
// The layout is in doc/automaton-format.md.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "automaton_builder.h"
#include "engine/automaton.h"
#include "process.h"

namespace etiquem {
namespace {

using test_support::kWithSanitizer;

constexpr char kName[] = "x.bin";

std::string I32(int32_t v) {
  std::string o;
  for (int i = 0; i < 4; ++i) o += char((uint32_t(v) >> (8 * i)) & 0xFF);
  return o;
}

// The format's worked example: "a" reads a&n;/.
constexpr char kExample[] = R"(
alfabet ab
define n 258
estat 0
  a a 1
estat 1
  eps &n 2
estat 2
  fi
)";

// Every kind of record: defines, epsilon lists (a second group, a flag
// other than 1), markers of the three kinds, unsorted groups, a group
// without moves.
constexpr char kVaried[] = R"(
alfabet abcd
define n 258
define zz 300
estat 0
  a a 1
  b b 2
  c c 3
estat 1
  eps &n 2
  eps2 &zz 0
  fi
  parcial
estat 2
  flag 2
  descon
  d d 2
  a &zz 1
  a - 3
estat 3
  fi
)";

// A file several read chunks long: 30,000 states in a chain; with
// `undefined_near_end`, the second last state writes a code no define has.
std::string LongChain(bool undefined_near_end = false) {
  test_support::AutomatonDescription a;
  a.alphabet = "ab";
  a.symbol_names = {{"n", 258}};
  const int32_t n = 30000;
  for (int32_t i = 0; i < n; ++i) {
    test_support::DescribedState s;
    s.file_number = i;
    if (i + 1 < n) s.groups.push_back({int16_t('a' + i % 2), {{'a', i + 1}, {258, i + 1}}});
    if (i % 7 == 0) s.epsilon_groups.push_back({0, {{258, n - 1}}});
    if (i + 1 == n) s.groups.push_back({kEndOfAnalysis, {{0, i}}});
    a.states.push_back(s);
  }
  if (undefined_near_end) a.states[n - 2].groups[0].moves[0].first = 300;
  return test_support::Bytes(a);
}

// What a load gave: "ok" and the model, or the message with the file's name
// replaced by kName.
struct Outcome {
  bool ok = false;
  std::string error;
  std::unique_ptr<Automaton> model = std::make_unique<Automaton>();
};

std::string Renamed(std::string error, const std::string& path) {
  const std::string from = "binario " + path + " ";
  const size_t p = error.find(from);
  if (p != std::string::npos)
    error.replace(p, from.size(), std::string("binario ") + kName + " ");
  return error;
}

Outcome FromMemory(const std::string& bytes) {
  Outcome o;
  o.ok = LoadAutomatonFromBytes(*o.model, kName,
                                reinterpret_cast<const uint8_t*>(bytes.data()),
                                bytes.size(), o.error);
  return o;
}

Outcome FromFile(const std::string& path) {
  Outcome o;
  int status = 0;
  o.ok = LoadAutomatonFile(*o.model, path.c_str(), o.error, status);
  if (!o.ok) {
    EXPECT_EQ(status, 255);
  }
  o.error = Renamed(o.error, path);
  return o;
}

// A regular file holding `bytes`, in memory (memfd_create) so that
// thousands of them cost no disk writes.
Outcome FromRegularFile(const std::string& bytes) {
  const int fd = memfd_create("automaton", MFD_CLOEXEC);
  if (fd < 0) std::abort();
  EXPECT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
  Outcome o = FromFile("/dev/fd/" + std::to_string(fd));
  close(fd);
  return o;
}

// Through a pipe. With `dribble`, written in pieces of 1 to 13 bytes by
// another thread, so that fields arrive split; otherwise all at once
// (`bytes` must then fit in the pipe).
Outcome FromPipe(const std::string& bytes, bool dribble) {
  signal(SIGPIPE, SIG_IGN);  // the loader may stop reading early
  int fds[2];
  if (pipe(fds) != 0) std::abort();
  if (!dribble) {
    EXPECT_EQ(write(fds[1], bytes.data(), bytes.size()), ssize_t(bytes.size()));
    close(fds[1]);
    Outcome o = FromFile("/dev/fd/" + std::to_string(fds[0]));
    close(fds[0]);
    return o;
  }
  std::thread writer([&bytes, fd = fds[1]] {
    for (size_t at = 0, step = 1; at < bytes.size();
         at += step, step = step % 13 + 1) {
      const size_t n = std::min(step, bytes.size() - at);
      if (write(fd, bytes.data() + at, n) != ssize_t(n)) break;  // reader gone
    }
    close(fd);
  });
  Outcome o = FromFile("/dev/fd/" + std::to_string(fds[0]));
  close(fds[0]);  // a writer still blocked gets EPIPE
  writer.join();
  return o;
}

// The first difference between two models, or "".
std::string Difference(const Automaton& a, const Automaton& b) {
  if (a.alphabet != b.alphabet || a.alphabet_length != b.alphabet_length)
    return "alphabet";
  if (a.symbol_names.size() != b.symbol_names.size() ||
      a.symbol_name_count != b.symbol_name_count)
    return "symbol count";
  for (size_t i = 0; i < a.symbol_names.size(); ++i)
    if (a.symbol_names[i].name != b.symbol_names[i].name ||
        a.symbol_names[i].code != b.symbol_names[i].code)
      return "symbol " + std::to_string(i);
  if (a.state_count != b.state_count || a.states.size() != b.states.size())
    return "state count";
  if (a.targets_valid != b.targets_valid) return "targets_valid";
  if (std::memcmp(a.is_letter, b.is_letter, sizeof a.is_letter) != 0)
    return "is_letter";
  auto same_groups = [](const MoveGroup* x, const MoveGroup* y, int32_t n) {
    for (int32_t g = 0; g < n; ++g) {
      if (x[g].input_symbol != y[g].input_symbol ||
          x[g].move_count != y[g].move_count)
        return false;
      for (int32_t k = 0; k < x[g].move_count; ++k)
        if (x[g].moves[k].output_symbol != y[g].moves[k].output_symbol ||
            x[g].moves[k].target != y[g].moves[k].target)
          return false;
    }
    return true;
  };
  for (size_t i = 0; i < a.states.size(); ++i) {
    const State& x = a.states[i];
    const State& y = b.states[i];
    const std::string s = "state " + std::to_string(i);
    if (x.file_number != y.file_number || x.group_count != y.group_count ||
        x.epsilon_group_count != y.epsilon_group_count ||
        x.marker_count != y.marker_count ||
        x.keys_scannable != y.keys_scannable ||
        (x.table == nullptr) != (y.table == nullptr))
      return s;
    if (!same_groups(x.groups, y.groups, x.group_count) ||
        !same_groups(x.epsilon_groups, y.epsilon_groups, x.epsilon_group_count))
      return s + " groups";
    for (int32_t g = 0; g < x.group_count; ++g)
      if (x.keys[g] != y.keys[g]) return s + " keys";
    for (int32_t m = 0; m < x.marker_count; ++m)
      if (a.markers[x.first_marker + m] != b.markers[y.first_marker + m])
        return s + " markers";
    if (x.table != nullptr && std::memcmp(x.table, y.table, 256 * sizeof *x.table) != 0)
      return s + " table";
  }
  return "";
}

// The invariant: a regular file gives exactly what the same bytes in memory
// give. A pipe gives the same verdict and model, and the same message,
// except where the bytes in memory are refused because a count asks for
// more than the file holds: a stream's length is not known ahead, so a
// fault met before its end may be reported instead.
void ExpectSameEverywhere(const std::string& bytes, const std::string& what,
                          bool dribble = true) {
  SCOPED_TRACE(what);
  const Outcome memory = FromMemory(bytes);
  const Outcome file = FromRegularFile(bytes);
  const Outcome pipe = FromPipe(bytes, dribble);
  ASSERT_EQ(file.ok, memory.ok) << file.error << memory.error;
  ASSERT_EQ(pipe.ok, memory.ok) << pipe.error << memory.error;
  EXPECT_EQ(file.error, memory.error);
  const std::string ends_at_size =
      std::string("Error: El fichero binario x.bin no es v\xe1lido: termina "
                  "antes de tiempo (byte ") +
      std::to_string(bytes.size()) + ")\n";
  if (memory.error != ends_at_size) {
    EXPECT_EQ(pipe.error, memory.error);
  }
  if (memory.ok) {
    EXPECT_EQ(Difference(*file.model, *memory.model), "");
    EXPECT_EQ(Difference(*pipe.model, *memory.model), "");
  } else {
    EXPECT_TRUE(file.model->states.empty());
    EXPECT_TRUE(pipe.model->states.empty());
  }
}

TEST(AutomatonReading, EveryCutAndEveryFieldGivesTheSameEverywhere) {
  const int32_t values[] = {-1, 0, 1, 2, 6, 255, 256, 258, 300, 32767,
                            -10000, 0x7fffffff, int32_t(0x80000000)};
  for (const char* description : {kExample, kVaried}) {
    const std::string bytes = test_support::Bytes(description);
    for (size_t n = 0; n <= bytes.size(); ++n)
      ExpectSameEverywhere(bytes.substr(0, n), "cut at " + std::to_string(n));
    for (size_t at = 0; at + 2 <= bytes.size(); ++at)
      for (int32_t v : values)
        for (size_t width : {2, 4}) {
          if (at + width > bytes.size()) continue;
          std::string b = bytes;
          b.replace(at, width, I32(v).substr(0, width));
          if (b != bytes)
            ExpectSameEverywhere(b, std::to_string(v) + " at " + std::to_string(at),
                                 false);
        }
  }
}

TEST(AutomatonReading, AFileOfManyChunksGivesTheSameEverywhere) {
  const std::string bytes = LongChain();
  ASSERT_GT(bytes.size(), 5u * 65536);
  ExpectSameEverywhere(bytes, "whole");
  ASSERT_TRUE(FromMemory(bytes).ok);
  const Outcome on_disk = FromFile(test_support::WriteFile(bytes, "chain.bin"));
  ASSERT_TRUE(on_disk.ok) << on_disk.error;
  EXPECT_EQ(Difference(*on_disk.model, *FromMemory(bytes).model), "");
  // Cuts around the chunk boundaries, where fields straddle two reads.
  for (size_t boundary : {size_t(65536), size_t(3 * 65536)})
    for (size_t n = boundary - 7; n <= boundary + 7; ++n)
      ExpectSameEverywhere(bytes.substr(0, n), "cut at " + std::to_string(n));
  const std::string undefined = LongChain(true);
  ASSERT_FALSE(FromMemory(undefined).ok);
  ExpectSameEverywhere(undefined, "undefined symbol near the end");
}

// ---------------------------------------------------------------------------
// Whole runs on files that never end or are huge.

// A refusal as etiquem writes it.
std::string Refusal(const std::string& path, const std::string& problem,
                    uint64_t byte) {
  return "Error: El fichero binario " + path + " no es v\xe1lido: " + problem +
         " (byte " + std::to_string(byte) + ")\n";
}

// Runs limited to 1 GiB of address space (not under AddressSanitizer, which
// reserves far more), so that a loader reading without end fails quickly
// instead of taking the machine's memory.
test_support::RunOptions Limited() {
  test_support::RunOptions o;
  o.seconds = 20;
  if (!kWithSanitizer) o.address_space_limit = uint64_t(1) << 30;
  return o;
}

// Refused quickly, reading little: a second and a few megabytes more than
// etiquem needs to start (an empty input, a tiny automaton).
void ExpectQuickRefusal(const test_support::Result& r, const std::string& message) {
  EXPECT_EQ(r.errors, message);
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.output, "");
  EXPECT_LT(r.seconds, 1.0);
  EXPECT_LT(r.peak_kb, kWithSanitizer ? 80 * 1024 : 16 * 1024);
}

TEST(EndlessAutomaton, DevZeroIsRefusedAtByte12) {
  const test_support::Result r = test_support::RunCommand(
      {ETIQUEM_BIN, "-b", "/dev/zero"}, "casa\n", Limited());
  ExpectQuickRefusal(r, Refusal("/dev/zero", "no tiene ning\xfan estado", 12));
}

// Endless garbage through a pipe, after a head that is wrong at a known
// byte: the refusal a file with that head gets.
TEST(EndlessAutomaton, APipeOfGarbageIsRefusedAtItsFirstWrongByte) {
  std::mt19937_64 rng(17);
  std::string garbage(1 << 16, '\0');
  for (char& c : garbage) c = char(rng());
  const std::string example = test_support::Bytes(kExample);
  struct Case {
    std::string head;
    std::string problem;
    uint64_t byte;
  };
  const Case cases[] = {
      {std::string(4, '\xff'), "longitud de alfabeto negativa", 4},
      {example.substr(0, 19) + I32(0), "no tiene ning\xfan estado", 23},
      {example.substr(0, 35) + I32(-1),
       "n\xfamero de transiciones negativo en el estado 0", 39},
      // A state count far too large, then a wrong group: a stream's counts
      // are believed until it ends.
      {example.substr(0, 19) + I32(0x7fffffff) + example.substr(23, 12) + I32(-5),
       "n\xfamero de transiciones negativo en el estado 0", 39},
  };
  for (const Case& c : cases) {
    test_support::RunOptions o = Limited();
    o.input_length = UINT64_MAX;  // never ends
    const test_support::Result r = test_support::RunCommand(
        {ETIQUEM_BIN, "-b", "/dev/stdin", "-f", "/dev/null"}, c.head + garbage, o);
    ExpectQuickRefusal(r, Refusal("/dev/stdin", c.problem, c.byte));
  }
}

// 200 MB of random bytes behind heads that condemn the file at once: read
// no further than the head.
TEST(HugeAutomaton, RandomFileIsRefusedAfterItsHead) {
  const uint64_t size = 200ull << 20;
  const std::string path = test_support::WriteFile("", "random_200MB.bin");
  std::mt19937_64 rng(99);
  std::string head(1 << 20, '\0');  // random, the rest of the file a hole
  for (char& c : head) c = char(rng());
  const std::string example = test_support::Bytes(kExample);
  struct Case {
    std::string start;  // written over the head
    std::string problem;
    uint64_t byte;
  };
  const Case cases[] = {
      {I32(-7), "longitud de alfabeto negativa", 4},
      {I32(0x7fffffff), "termina antes de tiempo", size},
      {I32(16) + std::string(16, 'a') + I32(0x10000000), "termina antes de tiempo", size},
      {I32(0) + I32(0) + I32(0x7fffffff), "termina antes de tiempo", size},
      {example.substr(0, 29) + I32(0x7fffffff), "termina antes de tiempo", size},
      {example.substr(0, 35) + I32(-1),
       "n\xfamero de transiciones negativo en el estado 0", 39},
  };
  for (const Case& c : cases) {
    std::string bytes = head;
    bytes.replace(0, c.start.size(), c.start);
    const int fd = open(path.c_str(), O_WRONLY | O_TRUNC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    ASSERT_EQ(ftruncate(fd, off_t(size)), 0);
    close(fd);
    const test_support::Result r =
        test_support::RunCommand({ETIQUEM_BIN, "-b", path}, "casa\n", Limited());
    ExpectQuickRefusal(r, Refusal(path, c.problem, c.byte));
  }
  unlink(path.c_str());
}

}  // namespace
}  // namespace etiquem
