// The automaton loader and the lookups on the loaded model: the worked
// example of the file format byte for byte, every way a file can be broken
// (with the exact one-line refusal), what a valid file may look like at its
// edges (trailing bytes, epsilon flags other than 1, empty lists and groups,
// negative group counts), epsilon cycles, and FindGroup, IsLetter,
// IsFoldedUpper, UpperForSymbolName and NameOfSymbol at their edges. A real
// dictionary is loaded too when ../shared holds one.

#include "engine/automaton.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "automaton_builder.h"

namespace etiquem {
namespace {

using test_support::Bytes;
using test_support::WriteFile;

// The 93 bytes of the format's worked example, as listed field by field.
const unsigned char kExample[] = {
    0x02, 0x00, 0x00, 0x00, 0x61, 0x62,                          // alphabet
    0x01, 0x00, 0x00, 0x00,                                      // 1 define
    0x01, 0x00, 0x00, 0x00, 0x6E, 0x02, 0x01, 0x00, 0x00,        // n = 258
    0x03, 0x00, 0x00, 0x00,                                      // 3 states
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00,                          // state 0
    0x01, 0x00, 0x00, 0x00, 0x61, 0x00, 0x01, 0x00, 0x00, 0x00,  //
    0x61, 0x00, 0x01, 0x00, 0x00, 0x00,                          //
    0x01, 0x00, 0x00, 0x00, 0x01, 0x00,                          // state 1
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,  //
    0x02, 0x01, 0x02, 0x00, 0x00, 0x00,                          //
    0x00, 0x00, 0x00, 0x00,                                      //
    0x02, 0x00, 0x00, 0x00, 0x00, 0x00,                          // state 2
    0x01, 0x00, 0x00, 0x00, 0xF0, 0xD8, 0x01, 0x00, 0x00, 0x00,  //
    0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
};

const char kExampleDescription[] = R"(
alfabet ab
define n 258
estat 0
  a a 1
estat 1
  eps &n 2
estat 2
  fi
)";

std::string Example() {
  return std::string(reinterpret_cast<const char*>(kExample), sizeof kExample);
}

// Writes a little-endian field.
std::string I32(int32_t v) {
  std::string o;
  for (int i = 0; i < 4; ++i) o += char((uint32_t(v) >> (8 * i)) & 0xFF);
  return o;
}
std::string I16(int16_t v) {
  return std::string{char(uint16_t(v) & 0xFF), char(uint16_t(v) >> 8)};
}

// One state 0 with the given groups (the description's "#N" symbols cannot
// be used after a blank, where " #" starts a comment).
std::string OneState(
    std::vector<test_support::DescribedGroup> groups,
    std::vector<test_support::DescribedGroup> epsilon_groups = {},
    std::vector<std::pair<std::string, int32_t>> symbol_names = {}) {
  test_support::AutomatonDescription a;
  a.symbol_names = std::move(symbol_names);
  a.states.push_back({0, -32768, std::move(epsilon_groups), std::move(groups)});
  return Bytes(a);
}

struct Loaded {
  std::unique_ptr<Automaton> t = std::make_unique<Automaton>();
  bool ok = false;
  std::string error;
};

const char kName[] = "test.bin";

Loaded FromBytes(const std::string& bytes) {
  Loaded c;
  c.ok = LoadAutomatonFromBytes(*c.t, kName,
                                reinterpret_cast<const uint8_t*>(bytes.data()),
                                bytes.size(), c.error);
  return c;
}

Loaded FromDescription(const std::string& description) {
  return FromBytes(Bytes(description));
}

// The refusal of a broken file named kName.
std::string Refusal(const std::string& problem, size_t byte) {
  return std::string("Error: El fichero binario test.bin no es v\xe1lido: ") +
         problem + " (byte " + std::to_string(byte) + ")\n";
}

void ExpectNoModel(const Automaton& t) {
  EXPECT_EQ(t.state_count, 0);
  EXPECT_TRUE(t.states.empty());
  EXPECT_EQ(t.symbol_name_count, 0);
  EXPECT_EQ(t.alphabet_length, 0);
}

// ---------------------------------------------------------------------------
// The worked example.

TEST(Example, DescriptionBytesAreTheFormat) {
  EXPECT_EQ(sizeof kExample, 93u);
  EXPECT_EQ(Bytes(kExampleDescription), Example());
}

void CheckExample(const Automaton& t) {
  EXPECT_EQ(t.alphabet_length, 2);
  EXPECT_EQ(t.alphabet, "ab");
  ASSERT_EQ(t.symbol_name_count, 1);
  ASSERT_EQ(t.symbol_names.size(), 1u);
  EXPECT_EQ(t.symbol_names[0].name, "n");
  EXPECT_EQ(t.symbol_names[0].code, 258);
  ASSERT_EQ(t.state_count, 3);
  ASSERT_EQ(t.states.size(), 3u);

  const State& s0 = t.states[0];
  EXPECT_EQ(s0.file_number, 0);
  EXPECT_EQ(s0.epsilon_groups, nullptr);
  EXPECT_EQ(s0.epsilon_group_count, 0);
  ASSERT_EQ(s0.group_count, 1);
  EXPECT_EQ(s0.groups[0].input_symbol, 97);
  ASSERT_EQ(s0.groups[0].move_count, 1);
  EXPECT_EQ(s0.groups[0].moves[0].output_symbol, 97);
  EXPECT_EQ(s0.groups[0].moves[0].target, 1);
  EXPECT_EQ(s0.marker_count, 0);

  const State& s1 = t.states[1];
  EXPECT_EQ(s1.file_number, 1);
  ASSERT_EQ(s1.epsilon_group_count, 1);
  ASSERT_NE(s1.epsilon_groups, nullptr);
  EXPECT_EQ(s1.epsilon_groups[0].input_symbol, 0);
  ASSERT_EQ(s1.epsilon_groups[0].move_count, 1);
  EXPECT_EQ(s1.epsilon_groups[0].moves[0].output_symbol, 258);
  EXPECT_EQ(s1.epsilon_groups[0].moves[0].target, 2);
  EXPECT_EQ(s1.group_count, 0);
  EXPECT_EQ(s1.groups, nullptr);

  const State& s2 = t.states[2];
  EXPECT_EQ(s2.file_number, 2);
  EXPECT_EQ(s2.epsilon_group_count, 0);
  EXPECT_EQ(s2.epsilon_groups, nullptr);
  ASSERT_EQ(s2.group_count, 1);
  EXPECT_EQ(s2.groups[0].input_symbol, kEndOfAnalysis);
  ASSERT_EQ(s2.groups[0].move_count, 1);
  EXPECT_EQ(s2.groups[0].moves[0].output_symbol, 0);
  EXPECT_EQ(s2.groups[0].moves[0].target, 2);
  ASSERT_EQ(s2.marker_count, 1);
  EXPECT_EQ(t.markers[s2.first_marker], kEndOfAnalysis);

  ASSERT_NE(NameOfSymbol(t, 258), nullptr);
  EXPECT_EQ(*NameOfSymbol(t, 258), "n");
  EXPECT_TRUE(IsLetter(t, 'a'));
  EXPECT_TRUE(IsLetter(t, 'b'));
  EXPECT_FALSE(IsLetter(t, 'c'));
}

TEST(Example, FromMemory) {
  Loaded c = FromBytes(Example());
  ASSERT_TRUE(c.ok) << c.error;
  EXPECT_EQ(c.error, "");
  CheckExample(*c.t);
}

TEST(Example, FromAFile) {
  std::string path = WriteFile(Example(), "example.bin");
  Automaton t;
  std::string error;
  int status = -7;
  ASSERT_TRUE(LoadAutomatonFile(t, path.c_str(), error, status)) << error;
  CheckExample(t);
}

TEST(Example, TrailingBytesAreIgnored) {
  for (const std::string& queue :
       {std::string("\0", 1), std::string("x"), I32(-1) + I32(99) + "brossa",
        std::string(100000, '\xff')}) {
    Loaded c = FromBytes(Example() + queue);
    ASSERT_TRUE(c.ok) << c.error;
    CheckExample(*c.t);
  }
}

// ---------------------------------------------------------------------------
// Broken files.

TEST(BrokenFile, EndsEarlyAtAnyByte) {
  const std::string b = Example();
  for (size_t n = 0; n < b.size(); ++n) {
    Loaded c = FromBytes(b.substr(0, n));
    ASSERT_FALSE(c.ok) << n;
    const std::string start =
        Refusal("termina antes de tiempo", 0).substr(0, 70);
    EXPECT_EQ(c.error.rfind(start, 0), 0u) << n << ": " << c.error;
    // "(byte N)" points into the file, at or before where it ends.
    size_t p = c.error.rfind("(byte ");
    ASSERT_NE(p, std::string::npos) << c.error;
    EXPECT_LE(std::stoul(c.error.substr(p + 6)), n) << c.error;
    EXPECT_EQ(c.error.find('\n'), c.error.size() - 1) << c.error;
    ExpectNoModel(*c.t);
  }
}

TEST(BrokenFile, ExactMessagesOfEarlyEnd) {
  EXPECT_EQ(FromBytes("").error, Refusal("termina antes de tiempo", 0));
  EXPECT_EQ(FromBytes("\x02\x00").error, Refusal("termina antes de tiempo", 0));
  // Inside the alphabet: the file's end.
  EXPECT_EQ(FromBytes(Example().substr(0, 5)).error,
            Refusal("termina antes de tiempo", 5));
  // Inside the state count, which starts at byte 19.
  EXPECT_EQ(FromBytes(Example().substr(0, 21)).error,
            Refusal("termina antes de tiempo", 19));
}

TEST(BrokenFile, NegativeAlphabetLength) {
  Loaded c = FromBytes(I32(-1) + Example().substr(4));
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(c.error, Refusal("longitud de alfabeto negativa", 4));
  ExpectNoModel(*c.t);
}

TEST(BrokenFile, NegativeSymbolNameCount) {
  std::string b = Example();
  b.replace(6, 4, I32(-2));
  EXPECT_EQ(FromBytes(b).error,
            Refusal("n\xfamero de s\xedmbolos negativo", 10));
}

TEST(BrokenFile, NegativeNameLength) {
  std::string b = Example();
  b.replace(10, 4, I32(-1));
  EXPECT_EQ(FromBytes(b).error, Refusal("longitud de nombre negativa", 14));
}

TEST(BrokenFile, NegativeStateCount) {
  std::string b = Example();
  b.replace(19, 4, I32(-3));
  EXPECT_EQ(FromBytes(b).error, Refusal("n\xfamero de estados negativo", 23));
}

TEST(BrokenFile, NoState) {
  Loaded c = FromBytes(I32(0) + I32(0) + I32(0));
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(c.error, Refusal("no tiene ning\xfan estado", 12));
}

TEST(BrokenFile, NegativeSubcount) {
  // The sub-count of state 1's epsilon group.
  std::string b = Example();
  b.replace(57, 4, I32(-1));
  EXPECT_EQ(FromBytes(b).error,
            Refusal("n\xfamero de transiciones negativo en el estado 1", 61));
  // ...and of a marker group, which is never followed: still refused.
  b = Example();
  b.replace(83, 4, I32(-1));
  EXPECT_EQ(FromBytes(b).error,
            Refusal("n\xfamero de transiciones negativo en el estado 2", 87));
}

TEST(BrokenFile, HugeCountsAreNotBelieved) {
  // Counts far beyond what the bytes could hold are refused at once,
  // without trying to allocate for them.
  const int32_t large = 0x7fffffff;
  std::string b = Example();
  b.replace(19, 4, I32(large));
  EXPECT_EQ(FromBytes(b).error, Refusal("termina antes de tiempo", 93));
  b = Example();
  b.replace(6, 4, I32(large));
  EXPECT_EQ(FromBytes(b).error, Refusal("termina antes de tiempo", 93));
  b = Example();
  b.replace(0, 4, I32(large));
  EXPECT_EQ(FromBytes(b).error, Refusal("termina antes de tiempo", 93));
  b = Example();
  b.replace(29, 4, I32(large));  // state 0's group count
  EXPECT_EQ(FromBytes(b).error, Refusal("termina antes de tiempo", 93));
  b = Example();
  b.replace(35, 4, I32(large));  // state 0's sub-count
  EXPECT_EQ(FromBytes(b).error, Refusal("termina antes de tiempo", 93));
  b = Example();
  b.replace(10, 4, I32(large));  // name length
  EXPECT_EQ(FromBytes(b).error, Refusal("termina antes de tiempo", 93));
}

TEST(BrokenFile, UndefinedSymbolInAFollowableGroup) {
  // In a character group.
  Loaded c = FromBytes(OneState({{'a', {{259, 0}}}}, {}, {{"n", 258}}));
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(
      c.error.rfind("Error: El fichero binario test.bin no es v\xe1lido: el "
                    "s\xedmbolo 259 no est\xe1 definido (estado 0) (byte ",
                    0),
      0u)
      << c.error;
  ExpectNoModel(*c.t);
  // In the first epsilon group.
  test_support::AutomatonDescription a =
      test_support::ParseDescription("estat 0\n  a a 1\nestat 1\n");
  a.states[1].epsilon_groups.push_back({0, {{258, 0}}});
  c = FromBytes(Bytes(a));
  EXPECT_FALSE(c.ok);
  EXPECT_NE(c.error.find("el s\xedmbolo 258 no est\xe1 definido (estado 1)"),
            std::string::npos)
      << c.error;
  // The largest code, in a group for byte 255 and byte 0.
  EXPECT_FALSE(FromBytes(OneState({{255, {{32767, 0}}}})).ok);
  EXPECT_FALSE(FromBytes(OneState({{0, {{'a', 0}, {300, 0}}}})).ok);
}

TEST(BrokenFile, UndefinedSymbolNeverFollowedLoads) {
  // Under a marker, in a group whose input_symbol is no input character, in a
  // second epsilon group: never followed, so accepted.
  for (int16_t input_symbol :
       {kEndOfAnalysis, kEndOfPiece, kEndOfUnknown, 256, 258, -5}) {
    Loaded c = FromBytes(OneState({{input_symbol, {{300, 0}}}}));
    EXPECT_TRUE(c.ok) << input_symbol << c.error;
  }
  Loaded c = FromBytes(OneState({}, {{0, {}}, {0, {{999, 0}}}}));
  EXPECT_TRUE(c.ok) << c.error;
}

TEST(BrokenFile, OutputSymbols256And257AreCharacters) {
  test_support::AutomatonDescription a =
      test_support::ParseDescription("estat 0\nestat 1\n");
  a.states[0].groups = {{'a', {{256, 1}}}, {'b', {{257, 1}}}};
  a.states[1].epsilon_groups = {{0, {{256, 0}, {257, 0}}}};
  Loaded c = FromBytes(Bytes(a));
  EXPECT_TRUE(c.ok) << c.error;
}

TEST(BrokenFile, DefinedLastWithRepeatedCode) {
  // A define may come after others of other codes; duplicates are fine.
  Loaded c = FromDescription(R"(
define x 258
define y 300
define z 300
estat 0
  a &z 0
)");
  EXPECT_TRUE(c.ok) << c.error;
}

TEST(BrokenFile, LoadGivesStatus255) {
  struct Case {
    std::string bytes;
    std::string problem;
  };
  std::string b = Example();
  b.replace(19, 4, I32(0));
  std::vector<Case> cases = {
      {Example().substr(0, 40), "termina antes de tiempo"},
      {I32(-1), "longitud de alfabeto negativa"},
      {b, "no tiene ning\xfan estado"},
      {Bytes("estat 0\n  eps - 0\n"), "ciclo"},
      {OneState({{'a', {{400, 0}}}}), "no est\xe1 definido"},
  };
  for (const Case& test_case : cases) {
    std::string path = WriteFile(test_case.bytes, "broken.bin");
    Automaton t;
    std::string error;
    int status = 0;
    EXPECT_FALSE(LoadAutomatonFile(t, path.c_str(), error, status));
    EXPECT_EQ(status, 255);
    EXPECT_EQ(
        error.rfind("Error: El fichero binario " + path + " no es v\xe1lido: ",
                    0),
        0u)
        << error;
    EXPECT_NE(error.find(test_case.problem), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), error.size() - 1);
  }
}

TEST(BrokenFile, FileThatDoesNotExist) {
  Automaton t;
  std::string error;
  int status = 0;
  EXPECT_FALSE(LoadAutomatonFile(t, "/no/such/automaton.bin", error, status));
  EXPECT_EQ(status, 255);
  EXPECT_EQ(error,
            "Error: El fichero binario /no/such/automaton.bin no existe o "
            "no se puedo abrir\n");
}

TEST(BrokenFile, ADirectoryCannotBeRead) {
  Automaton t;
  std::string error;
  int status = 0;
  EXPECT_FALSE(LoadAutomatonFile(t, "/", error, status));
  EXPECT_EQ(status, 255);
  EXPECT_EQ(error.rfind("Error", 0), 0u) << error;
  EXPECT_EQ(error.find('\n'), error.size() - 1) << error;
}

TEST(BrokenFile, AFailedLoadLeavesNoModel) {
  Loaded c = FromBytes(Example());
  ASSERT_TRUE(c.ok);
  const std::string b = Example().substr(0, 60);
  EXPECT_FALSE(LoadAutomatonFromBytes(
      *c.t, kName, reinterpret_cast<const uint8_t*>(b.data()), b.size(),
      c.error));
  ExpectNoModel(*c.t);
}

// ---------------------------------------------------------------------------
// Valid files at their edges.

TEST(Epsilon, OnlyFlag1CarriesAList) {
  for (int16_t flag : {0, 2, -1, 256, -32767}) {
    // The transition list follows the flag directly.
    std::string b = I32(0) + I32(0) + I32(1) + I32(7) + I16(flag) + I32(1) +
                    I16('a') + I32(1) + I16('b') + I32(0);
    Loaded c = FromBytes(b);
    ASSERT_TRUE(c.ok) << flag << c.error;
    const State& n = c.t->states[0];
    EXPECT_EQ(n.file_number, 7);
    EXPECT_EQ(n.epsilon_group_count, 0);
    EXPECT_EQ(n.epsilon_groups, nullptr);
    ASSERT_EQ(n.group_count, 1) << flag;
    EXPECT_EQ(n.groups[0].input_symbol, 'a');
    EXPECT_EQ(n.groups[0].moves[0].output_symbol, 'b');
  }
}

TEST(Epsilon, Flag1WithEmptyListAndEmptyGroups) {
  Loaded c = FromBytes(I32(0) + I32(0) + I32(2) +
                       // state 0: flag 1, empty epsilon list, no groups
                       I32(0) + I16(1) + I32(0) + I32(0) +
                       // state 1: flag 1, one group with no moves, and a
                       // transition group with no moves
                       I32(1) + I16(1) + I32(1) + I16(0) + I32(0) + I32(1) +
                       I16('z') + I32(0));
  ASSERT_TRUE(c.ok) << c.error;
  EXPECT_EQ(c.t->states[0].epsilon_group_count, 0);
  EXPECT_EQ(c.t->states[0].epsilon_groups, nullptr);
  EXPECT_EQ(c.t->states[0].group_count, 0);
  EXPECT_EQ(c.t->states[0].groups, nullptr);
  ASSERT_EQ(c.t->states[1].epsilon_group_count, 1);
  EXPECT_EQ(c.t->states[1].epsilon_groups[0].move_count, 0);
  ASSERT_EQ(c.t->states[1].group_count, 1);
  EXPECT_EQ(c.t->states[1].groups[0].input_symbol, 'z');
  EXPECT_EQ(c.t->states[1].groups[0].move_count, 0);
}

TEST(Epsilon, SecondGroupLoadsAndItsCycleDoesNotCount) {
  Loaded c = FromDescription(R"(
estat 0
  eps x 1
  eps2 y 0
estat 1
  a b 0
)");
  ASSERT_TRUE(c.ok) << c.error;
  ASSERT_EQ(c.t->states[0].epsilon_group_count, 2);
  EXPECT_EQ(c.t->states[0].epsilon_groups[1].moves[0].output_symbol, 'y');
  EXPECT_EQ(c.t->states[0].epsilon_groups[1].moves[0].target, 0);
}

TEST(Epsilon, CyclesAreRefused) {
  EXPECT_EQ(FromDescription("estat 0\n  eps - 0\n").error,
            "Error: El fichero binario test.bin no es v\xe1lido: ciclo de "
            "transiciones vac\xed"
            "as en el estado 0\n");
  Loaded c = FromDescription(R"(
estat 0
  a a 1
estat 1
  eps - 2
estat 2
  eps x 3
  eps y 4
estat 3
  fi
estat 4
  eps - 1
)");
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(c.error.rfind("Error: El fichero binario test.bin no es "
                          "v\xe1lido: ciclo de transiciones vac\xed"
                          "as",
                          0),
            0u)
      << c.error;
  ExpectNoModel(*c.t);
}

TEST(Epsilon, LongChainsAndDiamondsAreNotCycles) {
  // A chain of 200000 epsilon moves (deep, but no cycle) and a diamond in
  // which two paths reach the same state.
  std::string d;
  const int n = 200000;
  for (int i = 0; i < n; ++i) {
    d += "estat " + std::to_string(i) + "\n";
    if (i + 1 < n) d += "  eps - " + std::to_string(i + 1) + "\n";
  }
  Loaded c = FromDescription(d);
  EXPECT_TRUE(c.ok) << c.error;
  EXPECT_EQ(c.t->state_count, n);
  c = FromDescription(R"(
estat 0
  eps - 1
  eps - 2
estat 1
  eps - 3
estat 2
  eps - 3
estat 3
  fi
)");
  EXPECT_TRUE(c.ok) << c.error;
}

TEST(Epsilon, TargetOutOfRangeIsNotCheckedOnLoad) {
  Loaded c = FromDescription("estat 0\n  eps - 5\n  a a -3\n  b b 99\n");
  ASSERT_TRUE(c.ok) << c.error;
  EXPECT_EQ(c.t->states[0].epsilon_groups[0].moves[0].target, 5);
  EXPECT_EQ(c.t->states[0].groups[0].moves[0].target, -3);
}

TEST(Lists, NegativeGroupCountIsAnEmptyList) {
  // State 0: flag 1 with -4 epsilon groups, then -1 transition groups;
  // state 1 follows at once.
  Loaded c = FromBytes(I32(0) + I32(0) + I32(2) + I32(0) + I16(1) + I32(-4) +
                       I32(-1) + I32(1) + I16(0) + I32(1) + I16('q') + I32(1) +
                       I16('r') + I32(0));
  ASSERT_TRUE(c.ok) << c.error;
  EXPECT_EQ(c.t->states[0].epsilon_group_count, 0);
  EXPECT_EQ(c.t->states[0].epsilon_groups, nullptr);
  EXPECT_EQ(c.t->states[0].group_count, 0);
  EXPECT_EQ(c.t->states[0].groups, nullptr);
  EXPECT_EQ(c.t->states[1].file_number, 1);
  ASSERT_EQ(c.t->states[1].group_count, 1);
  EXPECT_EQ(c.t->states[1].groups[0].moves[0].output_symbol, 'r');
}

TEST(Lists, InFileOrderUnsorted) {
  // The loader keeps groups and moves as they come.
  Loaded c = FromDescription(R"(
estat 0
  z z 0
  a x 0
  a y 0
  descon
  fi
)");
  ASSERT_TRUE(c.ok) << c.error;
  const State& n = c.t->states[0];
  ASSERT_EQ(n.group_count, 4);
  EXPECT_EQ(n.groups[0].input_symbol, 'z');
  EXPECT_EQ(n.groups[1].input_symbol, 'a');
  ASSERT_EQ(n.groups[1].move_count, 2);
  EXPECT_EQ(n.groups[1].moves[0].output_symbol, 'x');
  EXPECT_EQ(n.groups[1].moves[1].output_symbol, 'y');
  EXPECT_EQ(n.groups[2].input_symbol, kEndOfUnknown);
  EXPECT_EQ(n.groups[3].input_symbol, kEndOfAnalysis);
  ASSERT_EQ(n.marker_count, 2);
  EXPECT_EQ(c.t->markers[n.first_marker], kEndOfUnknown);
  EXPECT_EQ(c.t->markers[n.first_marker + 1], kEndOfAnalysis);
}

TEST(Lists, WholeFieldsLittleEndian) {
  Loaded c = FromDescription(R"(
define long 32767
estat 0
  estado 305419896
  \xe0 &long -2
)");
  ASSERT_TRUE(c.ok) << c.error;
  const State& n = c.t->states[0];
  EXPECT_EQ(n.file_number, 305419896);
  EXPECT_EQ(FromBytes(OneState({{-32768, {{0, 0}}}}))
                .t->states[0]
                .groups[0]
                .input_symbol,
            -32768);
  EXPECT_EQ(n.groups[0].input_symbol, 224);
  EXPECT_EQ(n.groups[0].moves[0].output_symbol, 32767);
  EXPECT_EQ(n.groups[0].moves[0].target, -2);
}

TEST(Symbols, EmptyTableAndEmptyAlphabet) {
  Loaded c = FromDescription("estat 0\n");
  ASSERT_TRUE(c.ok) << c.error;
  EXPECT_EQ(c.t->symbol_name_count, 0);
  EXPECT_EQ(c.t->alphabet_length, 0);
  EXPECT_EQ(NameOfSymbol(*c.t, 258), nullptr);
  for (int ch = -1; ch <= 256; ++ch) EXPECT_FALSE(IsLetter(*c.t, ch)) << ch;
}

TEST(Symbols, NamesUpToTheFirstZeroAndEmpty) {
  Loaded c = FromBytes(I32(0) + I32(3) + I32(4) + std::string("ab\0c", 4) +
                       I32(258) + I32(0) + I32(259) + I32(10) + "&amp;large" +
                       I32(260) + I32(1) + I32(0) + I16(0) + I32(0));
  ASSERT_TRUE(c.ok) << c.error;
  EXPECT_EQ(c.t->symbol_names[0].name, "ab");
  EXPECT_EQ(c.t->symbol_names[1].name, "");
  EXPECT_EQ(c.t->symbol_names[2].name, "&amp;large");
  ASSERT_NE(NameOfSymbol(*c.t, 259), nullptr);
  EXPECT_EQ(*NameOfSymbol(*c.t, 259), "");
  EXPECT_EQ(*NameOfSymbol(*c.t, 260), "&amp;large");
}

// ---------------------------------------------------------------------------
// Lookups.

TEST(NameOfSymbol, FirstOfTheCodeAndNotFound) {
  Loaded c = FromDescription(R"(
define u 300
define two 258
define three 300
define big 40000
define neg -7
define zero 0
estat 0
)");
  ASSERT_TRUE(c.ok) << c.error;
  EXPECT_EQ(*NameOfSymbol(*c.t, 300), "u");
  EXPECT_EQ(*NameOfSymbol(*c.t, 258), "two");
  EXPECT_EQ(*NameOfSymbol(*c.t, 40000), "big");
  EXPECT_EQ(*NameOfSymbol(*c.t, -7), "neg");
  EXPECT_EQ(*NameOfSymbol(*c.t, 0), "zero");
  EXPECT_EQ(NameOfSymbol(*c.t, 259), nullptr);
  EXPECT_EQ(NameOfSymbol(*c.t, 32767), nullptr);
  EXPECT_EQ(NameOfSymbol(*c.t, 40000 - 65536), nullptr) << "whole 32-bit codes";
  EXPECT_EQ(NameOfSymbol(*c.t, 300 + 65536), nullptr);
  EXPECT_EQ(NameOfSymbol(*c.t, -1), nullptr);
}

std::vector<MoveGroup> Groups(const std::vector<int16_t>& input_symbols) {
  std::vector<MoveGroup> g;
  for (int16_t input_symbol : input_symbols)
    g.push_back(MoveGroup{.moves = nullptr, .move_count = 0, .input_symbol = input_symbol});
  return g;
}

TEST(FindGroup, ZeroOrNegativeCountReadsNothing) {
  EXPECT_EQ(FindGroup(nullptr, 'a', 0), -1);
  EXPECT_EQ(FindGroup(nullptr, 'a', -5), -1);
}

TEST(FindGroup, MarkersBeforeCharacters) {
  std::vector<MoveGroup> g =
      Groups({-30000, -20000, -10000, 0, 'a', 'b', 255, 258, 32767});
  const int n = int(g.size());
  EXPECT_EQ(FindGroup(g.data(), 'a', n), 4);
  EXPECT_EQ(FindGroup(g.data(), 'b', n), 5);
  EXPECT_EQ(FindGroup(g.data(), 0, n), 3);
  EXPECT_EQ(FindGroup(g.data(), 255, n), 6);
  EXPECT_EQ(FindGroup(g.data(), 258, n), 7);
  EXPECT_EQ(FindGroup(g.data(), -10000, n), 2);
  EXPECT_EQ(FindGroup(g.data(), -30000, n), 0);
  EXPECT_EQ(FindGroup(g.data(), 'c', n), -1);
  EXPECT_EQ(FindGroup(g.data(), 'a' + 65536, n), -1) << "no 16-bit wrap";
  EXPECT_EQ(FindGroup(g.data(), -1, n), -1);
  // Only the first groups counted.
  EXPECT_EQ(FindGroup(g.data(), 'b', 5), -1);
  EXPECT_EQ(FindGroup(g.data(), 'a', 5), 4);
}

TEST(FindGroup, AllSizesAndPositions) {
  for (int n = 1; n <= 40; ++n) {
    std::vector<int16_t> input_symbols;
    for (int i = 0; i < n; ++i) input_symbols.push_back(int16_t(3 * i - 30));
    std::vector<MoveGroup> g = Groups(input_symbols);
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(FindGroup(g.data(), input_symbols[size_t(i)], n), i) << n;
      ASSERT_EQ(FindGroup(g.data(), input_symbols[size_t(i)] + 1, n), -1) << n;
      ASSERT_EQ(FindGroup(g.data(), input_symbols[size_t(i)] - 1, n), -1) << n;
    }
  }
}

TEST(FindGroup, OfTwoMiddlesProbesTheUpper) {
  // With equal neighbours the halving order decides which one is found.
  std::vector<MoveGroup> g = Groups({5, 5});
  EXPECT_EQ(FindGroup(g.data(), 5, 2), 1);
  g = Groups({1, 5, 5, 5});
  EXPECT_EQ(FindGroup(g.data(), 5, 4), 2);
  g = Groups({1, 2, 3, 9});
  EXPECT_EQ(FindGroup(g.data(), 9, 4), 3);
}

Loaded WithAlphabet(const std::string& alphabet) {
  return FromBytes(I32(int32_t(alphabet.size())) + alphabet + I32(0) + I32(1) +
                   I32(0) + I16(0) + I32(0));
}

TEST(IsLetter, AlphabetEnds) {
  // The greatest byte belongs, whatever the alphabet's length.
  std::string alphabet;
  for (int n = 1; n <= 40; ++n) {
    alphabet += char('A' + n);
    Loaded c = WithAlphabet(alphabet);
    ASSERT_TRUE(c.ok) << c.error;
    for (char ch : alphabet) ASSERT_TRUE(IsLetter(*c.t, uint8_t(ch))) << n;
    EXPECT_FALSE(IsLetter(*c.t, 'A'));
    EXPECT_FALSE(IsLetter(*c.t, 'A' + n + 1));
  }
}

TEST(IsLetter, OneByteAndEndOfInput) {
  Loaded c = WithAlphabet("\xe0");
  ASSERT_TRUE(c.ok);
  EXPECT_TRUE(IsLetter(*c.t, 224));
  EXPECT_FALSE(IsLetter(*c.t, -32)) << "bytes count unsigned";
  EXPECT_FALSE(IsLetter(*c.t, -1));
  EXPECT_FALSE(IsLetter(*c.t, 224 + 256));
  EXPECT_FALSE(IsLetter(*c.t, 0));
}

TEST(IsLetter, Bytes0And255) {
  Loaded c = WithAlphabet(std::string("\0a\xff", 3));
  ASSERT_TRUE(c.ok);
  EXPECT_TRUE(IsLetter(*c.t, 0));
  EXPECT_TRUE(IsLetter(*c.t, 'a'));
  EXPECT_TRUE(IsLetter(*c.t, 255));
  EXPECT_FALSE(IsLetter(*c.t, -1));
  EXPECT_FALSE(IsLetter(*c.t, 1));
}

TEST(IsLetter, UnsortedAlphabetAnswersAsTheHalvingSearch) {
  // "ba": the search probes 'a' first, so 'b' is never reached.
  Loaded c = WithAlphabet("ba");
  ASSERT_TRUE(c.ok);
  EXPECT_TRUE(IsLetter(*c.t, 'a'));
  EXPECT_FALSE(IsLetter(*c.t, 'b'));
}

TEST(IsFoldedUpper, ExactRanges) {
  auto upper = [](int c) {
    return (c >= 65 && c <= 90) || (c >= 192 && c <= 197) ||
           (c >= 199 && c <= 207) || (c >= 209 && c <= 214) ||
           (c >= 217 && c <= 220);
  };
  for (int c = -300; c < 600; ++c)
    ASSERT_EQ(IsFoldedUpper(c), upper(c) ? 1 : 0) << c;
  EXPECT_EQ(IsFoldedUpper(199), 1);  // Ç
  for (int c : {64, 91, 198, 208, 215, 216, 221, 222, 223, int('a'), 231, -191,
                65 + 256})
    EXPECT_EQ(IsFoldedUpper(c), 0) << c;
}

TEST(UpperForSymbolName, WholeTable) {
  const int accents[][2] = {
      {0xE0, 0xC0}, {0xE1, 0xC1}, {0xE8, 0xC8}, {0xE9, 0xC9}, {0xEC, 0xCC},
      {0xED, 0xCD}, {0xEF, 0xCF}, {0xF1, 0xD1}, {0xF2, 0xD2}, {0xF3, 0xD3},
      {0xF9, 0xD9}, {0xFA, 0xDA}, {0xFC, 0xDC}};
  for (int b = 0; b < 256; ++b) {
    int expected = b >= 'a' && b <= 'z' ? b - 32 : b;
    for (auto& [from, a] : accents)
      if (b == from) expected = a;
    ASSERT_EQ(UpperForSymbolName(b), expected) << b;
    ASSERT_EQ(UpperForSymbolName(b + 256), expected) << b;
    ASSERT_EQ(UpperForSymbolName(b - 256), expected) << b;
  }
  EXPECT_EQ(UpperForSymbolName(231), 231);  // ç stays
  EXPECT_EQ(UpperForSymbolName(353), 65);   // only the low byte, 97, counts
  EXPECT_EQ(UpperForSymbolName(-159), 65);
  EXPECT_EQ(UpperForSymbolName(0xFF), 0xFF);
}

// ---------------------------------------------------------------------------
// A real dictionary.

TEST(Dictionary, CatalanFromShared) {
  const std::string path = std::string(ETIQUEM_SHARED) + "/lexicon/ca.bin";
  if (access(path.c_str(), R_OK) != 0) GTEST_SKIP() << path << " is absent";
  Automaton t;
  std::string error;
  int status = 0;
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(LoadAutomatonFile(t, path.c_str(), error, status)) << error;
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start)
                .count();
  RecordProperty("load_ms", int(ms));
  EXPECT_EQ(t.state_count, 54755);
  EXPECT_EQ(t.symbol_name_count, 54);
  EXPECT_EQ(t.alphabet_length, 76);
  for (int code = 258; code <= 311; ++code)
    EXPECT_NE(NameOfSymbol(t, code), nullptr) << code;
  EXPECT_EQ(NameOfSymbol(t, 312), nullptr);
  EXPECT_TRUE(IsLetter(t, '\''));
  EXPECT_TRUE(IsLetter(t, 0xB7));  // middle dot
  EXPECT_FALSE(IsLetter(t, ' '));
  EXPECT_FALSE(IsLetter(t, '0'));

  int64_t character_groups = 0, character_moves = 0, epsilon_moves = 0,
          with_epsilon = 0, finals = 0;
  for (const State& n : t.states) {
    if (n.epsilon_group_count > 0) {
      ++with_epsilon;
      epsilon_moves += n.epsilon_groups[0].move_count;
    }
    for (int g = 0; g < n.group_count; ++g) {
      if (n.groups[g].input_symbol >= 0 && n.groups[g].input_symbol <= 255) {
        ++character_groups;
        character_moves += n.groups[g].move_count;
      }
      if (n.groups[g].input_symbol == kEndOfAnalysis) ++finals;
      if (g > 0) {
        ASSERT_LT(n.groups[g - 1].input_symbol, n.groups[g].input_symbol);
      }
    }
  }
  EXPECT_EQ(character_groups, 158598);
  EXPECT_EQ(character_moves, 173885);
  EXPECT_EQ(epsilon_moves, 12412);
  EXPECT_EQ(with_epsilon, 10530);
  EXPECT_EQ(finals, 1);
  std::cout << "[ note ] ca.bin loaded in " << ms << " ms\n";
}

}  // namespace
}  // namespace etiquem
