// Tests of the live-state set: which live states a step and the epsilon
// closure produce, in which order, with which outputs, and how the set ends
// the program on a broken automaton or when it grows without bound.
//
// Automata are written from readable descriptions (automaton_builder.h) and
// loaded from memory; each live state is shown as (state, output text) with
// characters as themselves and multi-character symbols as "&code".

#include "engine/live_states.h"

#include "engine/failure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "automaton_builder.h"
#include "engine/analysis.h"
#include "engine/automaton.h"
#include "process.h"

namespace etiquem {
namespace {

std::unique_ptr<Automaton> Load(const std::string& description) {
  auto t = std::make_unique<Automaton>();
  ResetAutomaton(*t);
  const std::string bytes = test_support::Bytes(description);
  std::string error;
  const bool ok = LoadAutomatonFromBytes(
      *t, "test", reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
      error);
  EXPECT_TRUE(ok) << error;
  return t;
}

using StateList = std::vector<std::pair<int, std::string>>;

std::string Text(const LiveStates& v, uint32_t node) {
  int32_t s[kMaxOutputSymbols];
  const int n = OutputSymbols(v, node, s);
  std::string r;
  for (int i = 0; i < n; ++i) {
    if (s[i] >= kFirstNamedSymbol)
      r += "&" + std::to_string(s[i]);
    else
      r += char(s[i] & 0xFF);
  }
  return r;
}

StateList List(const LiveStates& v) {
  StateList e;
  for (const LiveState& s : v.states) e.push_back({s.state, Text(v, s.output)});
  return e;
}

// Starts an attempt and steps (with closure) over `input`; returns the
// flag of the last step.
int Walk(LiveStates& v, const std::string& input) {
  StartAtInitialState(v);
  int flag = 0;
  for (char c : input) {
    flag = StepLiveStates(v, uint8_t(c));
    CloseOverEpsilons(v);
  }
  return flag;
}

TEST(LiveStatesStep, CapitalFollowsItsGroupAndTheLowerCaseOne) {
  auto t = Load(R"(
alfabet Aab
estat 0
  b 1 1
  b 2 2
estat 1
  A P 3
  a q 4
estat 2
  A r 5
  a s 6
estat 3
estat 4
estat 5
estat 6
)");
  LiveStates v;
  InitLiveStates(v, t.get());
  EXPECT_EQ(Walk(v, "bA"), 1);
  // For each live state in order: its own group first, then the lower-case.
  EXPECT_EQ(List(v), (StateList{{3, "1P"}, {4, "1q"}, {5, "2r"}, {6, "2s"}}));
  EXPECT_EQ(Walk(v, "ba"), 0);
  EXPECT_EQ(List(v), (StateList{{4, "1q"}, {6, "2s"}}));
}

TEST(LiveStatesStep, Latin1Capital) {
  auto t = Load(R"(
alfabet \xc0\xe0
estat 0
  \xc0 X 1
  \xe0 y 2
estat 1
estat 2
)");
  LiveStates v;
  InitLiveStates(v, t.get());
  EXPECT_EQ(Walk(v, "\xc0"), 1);
  EXPECT_EQ(List(v), (StateList{{1, "X"}, {2, "y"}}));
  EXPECT_EQ(Walk(v, "\xe0"), 0);
  EXPECT_EQ(List(v), (StateList{{2, "y"}}));
}

// The step's own search of a state of one or two groups answers as the
// automaton's search, for keys in either order, equal keys, markers and
// every character a step asks for (capitals' lower case included).
TEST(LiveStatesStep, FewGroupsFoundAsTheSearchFindsThem) {
  const int16_t kKeys[] = {-30000, -10000, 0, 1, 'a', 'b', 200, 255, 287};
  for (int count = 1; count <= 2; ++count) {
    for (const int16_t first : kKeys) {
      for (const int16_t second : kKeys) {
        int16_t keys[16] = {};  // padded as the loader pads them
        keys[0] = first;
        keys[1] = second;
        State n{};
        n.keys = keys;
        n.group_count = count;
        n.keys_scannable = count == 1 || first < second;
        for (int c = -1; c <= 288; ++c)
          ASSERT_EQ(StepGroupFor(n, c), GroupFor(n, c))
              << "keys " << first << ", " << second << " (" << count
              << "), character " << c;
      }
    }
  }
}

// A dictionary over "abAB'" whose lists grow: two to four moves on a
// letter from most states, forward or to the same state, and epsilon
// moves that write a tag, "0" (48, which the closure drops) or nothing.
std::string BranchingDictionary(std::mt19937& g) {
  const int n = 4 + int(g() % 8);
  std::string d = "alfabet 'ABab\ndefine n 258\n";
  for (int e = 0; e < n; ++e) {
    d += "estat " + std::to_string(e) + "\n";
    if (g() % 3 == 0) d += "  fi\n";
    if (g() % 8 == 0) d += "  parcial\n";
    for (const char c : std::string("abAB'")) {
      if (g() % 3 == 0) continue;
      const int moves = 1 + int(g() % 4);
      for (int i = 0; i < moves; ++i) {
        const int target = std::min(n - 1, e + int(g() % 3));
        const char* output = g() % 3 == 0 ? "-" : g() % 2 ? "x" : "&n";
        d += "  " + std::string(1, c) + " " + output + " " +
             std::to_string(target) + "\n";
      }
    }
    if (e + 1 < n && g() % 2 == 0) {
      const int moves = 1 + int(g() % 2);
      for (int i = 0; i < moves; ++i) {
        const int target = std::min(n - 1, e + 1 + int(g() % 2));
        const char* output = g() % 3 == 0 ? "-" : g() % 2 ? "0" : "&n";
        d += "  eps " + std::string(output) + " " + std::to_string(target) +
             "\n";
      }
    }
  }
  return d;
}

// The outcome of a step: the list and its flag, or the failure.
struct Stepped {
  StateList list;
  int flag = 0;
  std::string failure;
  bool operator==(const Stepped&) const = default;
};

template <typename StepFunction>
Stepped StepAndShow(LiveStates& v, StepFunction step) {
  Stepped r;
  try {
    r.flag = step();
    r.list = List(v);
  } catch (const AnalysisFailure& failure) {
    r.failure = std::to_string(failure.status) + " " + failure.message;
  }
  return r;
}

// A step by a plan makes the list the usual step makes, in order, with the
// same outputs, flags and failures at the live-state limits, whatever name
// the plan is asked for under: the same list's, another list's (a stale or
// wrong name), with room for every plan, for a few (dropped all the time)
// or for none; and the plans stay within their budget.
TEST(LiveStatesStep, PlansStepAsTheUsualStepDoes) {
  std::mt19937 g(20261208);
  int planned = 0;
  for (int test_case = 0; test_case < 200; ++test_case) {
    const std::string description = BranchingDictionary(g);
    auto t = Load(description);
    const size_t budgets[] = {kStepPlanBytes, 9000, 0};
    const size_t budget = budgets[test_case % 3];
    LiveStates usual, by_plan;
    InitLiveStates(usual, t.get());
    InitLiveStates(by_plan, t.get());
    by_plan.plans.budget_bytes = budget;
    if (test_case % 4 == 0) usual.max_states = by_plan.max_states = 40;
    if (test_case % 4 == 1) usual.max_nodes = by_plan.max_nodes = 60;
    for (int attempt = 0; attempt < 40; ++attempt) {
      std::string word;
      for (size_t i = 1 + g() % 7; i > 0; --i) word += "abAB'c"[g() % 6];
      StartAtInitialState(usual);
      StartAtInitialState(by_plan);
      // Names: one per prefix of a few letters (the same list, mostly), or
      // one of two whatever the list (wrong names, plans made again).
      uint32_t name = 1;
      for (const char c : word) {
        const int byte = uint8_t(c);
        const Stepped expected =
            StepAndShow(usual, [&] { return StepAndCloseLiveStates(usual, byte); });
        const Stepped got = StepAndShow(
            by_plan, [&] { return StepAndCloseByPlan(by_plan, name, byte); });
        ASSERT_EQ(expected, got) << description << "\nword " << word;
        ASSERT_LE(StepPlanBytes(by_plan.plans), std::max(budget, size_t(8192)));
        if (!expected.failure.empty()) break;
        name = attempt % 3 == 0 ? 1 + g() % 2 : (name * 7 + uint32_t(byte)) % 4093 + 1;
      }
    }
    planned += by_plan.plans.plan_count > 0;
  }
  EXPECT_GT(planned, 100);
}

// What a whole run writes, with plans for every list or for none.
std::string RunWithPlans(const Automaton& t, const std::string& text,
                         uint32_t min_list, size_t budget, bool utf8) {
  struct Gathered {
    std::string text;
  } run;
  auto analyser = std::make_unique<Analyser>();
  Options options;
  options.utf8 = utf8;
  Input input;
  input.bytes = text;
  StartAnalysis(*analyser, &t, options, input,
                [](void* context, const Batch& batch) {
                  static_cast<Gathered*>(context)->text.append(batch.output);
                  return true;
                },
                &run);
  analyser->live_states.plans.min_list = min_list;
  analyser->live_states.plans.budget_bytes = budget;
  AdvanceAnalysis(*analyser, UINT64_MAX);
  if (analyser->error.failed()) run.text += "\nfailed: " + analyser->error.message;
  return run.text;
}

// Whole runs write the same bytes whether the walk with outputs over
// first-seen stretches follows plans for every list, with room for every
// plan, for a few or for none, or follows none.
TEST(LiveStatesProgram, PlansWriteTheSameBytes) {
  std::mt19937 g(20261209);
  for (int test_case = 0; test_case < 60; ++test_case) {
    const std::string description = BranchingDictionary(g);
    Automaton t;
    ResetAutomaton(t);
    const std::string bytes = test_support::Bytes(description);
    std::string error;
    ASSERT_TRUE(LoadAutomatonFromBytes(
        t, "test", reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
        error))
        << error;
    std::string text;
    while (text.size() < 600) {
      for (size_t i = 1 + g() % 6; i > 0; --i) text += "abAB'c"[g() % 6];
      text += " .\n"[g() % 3];
    }
    const bool utf8 = test_case % 4 == 0;
    const std::string none = RunWithPlans(t, text, UINT32_MAX, kStepPlanBytes, utf8);
    for (const size_t budget : {kStepPlanBytes, size_t(9000), size_t(0)})
      ASSERT_EQ(none, RunWithPlans(t, text, 0, budget, utf8))
          << description << "\ntext " << text;
  }
}

TEST(LiveStatesStep, StepOverEmptySetGivesZero) {
  auto t = Load(R"(
alfabet Aa
estat 0
  a a 0
)");
  LiveStates v;
  InitLiveStates(v, t.get());
  StartAtInitialState(v);
  EXPECT_EQ(StepLiveStates(v, 'x'), 0);
  EXPECT_TRUE(v.states.empty());
  EXPECT_EQ(StepLiveStates(v, 'A'), 0);  // upper case, but nothing live
  EXPECT_TRUE(v.states.empty());
}

TEST(LiveStatesStep, ThreeMovesToTheSameStateAreThreePaths) {
  auto t = Load(R"(
alfabet a
estat 0
  a x 1
  a x 1
  a y 1
estat 1
  a z 1
)");
  LiveStates v;
  InitLiveStates(v, t.get());
  Walk(v, "a");
  EXPECT_EQ(List(v), (StateList{{1, "x"}, {1, "x"}, {1, "y"}}));
  StepLiveStates(v, 'a');
  EXPECT_EQ(List(v), (StateList{{1, "xz"}, {1, "xz"}, {1, "yz"}}));
}

TEST(LiveStatesSymbols, ZeroAndFortyEightInStepAndClosure) {
  auto t = Load(R"(
alfabet ab
estat 0
  a - 1
  b 0 1
estat 1
  eps 0 2
  eps - 3
  eps z 4
estat 2
estat 3
estat 4
)");
  LiveStates v;
  InitLiveStates(v, t.get());
  // Step: output_symbol 0 writes nothing; closure: output_symbol 48 and
  // output_symbol 0 write nothing.
  Walk(v, "a");
  EXPECT_EQ(List(v), (StateList{{1, ""}, {2, ""}, {3, ""}, {4, "z"}}));
  // Step: output_symbol 48 writes the digit zero.
  Walk(v, "b");
  EXPECT_EQ(List(v), (StateList{{1, "0"}, {2, "0"}, {3, "0"}, {4, "0z"}}));
}

TEST(LiveStatesClosure, OnlyTheFirstEpsilonGroup) {
  auto t = Load(R"(
alfabet a
estat 0
  a - 1
estat 1
  eps x 2
  eps2 y 3
estat 2
estat 3
)");
  LiveStates v;
  InitLiveStates(v, t.get());
  Walk(v, "a");
  EXPECT_EQ(List(v), (StateList{{1, ""}, {2, "x"}}));
}

TEST(LiveStatesClosure, IsTransitiveAndInListOrder) {
  auto t = Load(R"(
alfabet a
define n 300
estat 0
  a - 1
estat 1
  eps p 2
  eps q 3
estat 2
  eps r 4
estat 3
  eps &n 5
estat 4
  eps - 6
estat 5
estat 6
)");
  LiveStates v;
  InitLiveStates(v, t.get());
  Walk(v, "a");
  EXPECT_EQ(
      List(v),
      (StateList{
          {1, ""}, {2, "p"}, {3, "q"}, {4, "pr"}, {5, "q&300"}, {6, "pr"}}));
}

TEST(LiveStatesClosure, TheStartStateIsNotClosed) {
  // State 0's own epsilon move is not followed at an attempt's first
  // character; it is once a transition comes back to state 0.
  auto t = Load(R"(
alfabet ab
estat 0
  eps z 1
  a a 2
estat 1
  a y 3
estat 2
  b b 0
estat 3
)");
  LiveStates v;
  InitLiveStates(v, t.get());
  Walk(v, "a");
  EXPECT_EQ(List(v), (StateList{{2, "a"}}));
  Walk(v, "ab");
  EXPECT_EQ(List(v), (StateList{{0, "ab"}, {1, "abz"}}));
  StepLiveStates(v, 'a');
  CloseOverEpsilons(v);
  EXPECT_EQ(List(v), (StateList{{2, "aba"}, {3, "abzy"}}));
}

TEST(LiveStatesSymbols, OutputLimitedTo499Symbols) {
  // An epsilon chain of 600 moves, each writing one letter.
  std::string d = "alfabet a\nestat 0\n  a - 1\n";
  std::string expected;
  for (int i = 1; i <= 600; ++i) {
    const char c = char('a' + i % 26);
    d += "estat " + std::to_string(i) + "\n";
    if (i < 600)
      d += std::string("  eps ") + c + " " + std::to_string(i + 1) + "\n";
    if (i < 600) expected += c;
  }
  d += "  a q 600\n";  // a step from the end appends nothing more
  auto t = Load(d);
  LiveStates v;
  InitLiveStates(v, t.get());
  Walk(v, "a");
  ASSERT_EQ(v.states.size(), 600u);
  EXPECT_EQ(Text(v, v.states[499].output), expected.substr(0, 499));
  EXPECT_EQ(Text(v, v.states[599].output), expected.substr(0, 499));
  EXPECT_EQ(Text(v, v.states[300].output), expected.substr(0, 300));
  StepLiveStates(v, 'a');
  ASSERT_EQ(v.states.size(), 1u);
  EXPECT_EQ(Text(v, v.states[0].output), expected.substr(0, 499));
}

TEST(LiveStatesSymbols, ArenaEmptiedAtEveryAttempt) {
  auto t = Load(R"(
alfabet ab
estat 0
  a x 0
  b y 0
)");
  LiveStates v;
  InitLiveStates(v, t.get());
  Walk(v, "aaaa");
  EXPECT_EQ(List(v), (StateList{{0, "xxxx"}}));
  Walk(v, "b");
  EXPECT_EQ(List(v), (StateList{{0, "y"}}));
}

// Runs `step` and returns the failure it ends with (status 0 for none).
template <typename Step>
AnalysisFailure FailureOf(Step step) {
  try {
    step();
  } catch (AnalysisFailure& failure) {
    return failure;
  }
  return AnalysisFailure{};
}

void ExpectFailure(const AnalysisFailure& failure, int status,
                   const std::string& message_start) {
  EXPECT_EQ(failure.status, status);
  EXPECT_EQ(failure.message.rfind(message_start, 0), 0u) << failure.message;
  EXPECT_EQ(failure.message.find('\n'), failure.message.size() - 1);
}

TEST(LiveStatesFailure, TargetOutOfRange) {
  auto t = Load(R"(
alfabet ab
estat 0
  a - 7
  b - -3
estat 1
)");
  LiveStates v;
  InitLiveStates(v, t.get());
  StartAtInitialState(v);
  ExpectFailure(FailureOf([&] { StepLiveStates(v, 'a'); }), 255,
                "Error: L'estat dest\xed 7 no existeix a l'automat "
                "(automat mal constru\xeft)\n");
  StartAtInitialState(v);
  ExpectFailure(FailureOf([&] { StepLiveStates(v, 'b'); }), 255,
                "Error: L'estat dest\xed -3 no existeix");
}

TEST(LiveStatesFailure, TargetOutOfRangeInTheClosure) {
  auto t = Load(R"(
alfabet a
estat 0
  a - 1
estat 1
  eps - 2
)");
  LiveStates v;
  InitLiveStates(v, t.get());
  StartAtInitialState(v);
  StepLiveStates(v, 'a');
  ExpectFailure(FailureOf([&] { CloseOverEpsilons(v); }), 255,
                "Error: L'estat dest\xed 2 no existeix");
}

TEST(LiveStatesFailure, TooManyLiveStates) {
  auto t = Load(R"(
alfabet a
estat 0
  a - 0
  a - 0
)");
  LiveStates v;
  InitLiveStates(v, t.get());
  v.max_states = 16;
  Walk(v, "aaaa");
  EXPECT_EQ(v.states.size(), 16u);
  ExpectFailure(FailureOf([&] { StepLiveStates(v, 'a'); }), 1,
                "Error: No queda memoria para crear nuevos estados vivos\n");
}

TEST(LiveStatesFailure, TooManyOutputNodes) {
  auto t = Load(R"(
alfabet a
estat 0
  a x 0
)");
  LiveStates v;
  InitLiveStates(v, t.get());
  v.max_nodes = 10;
  Walk(v, "aaaaaaaaa");  // ten nodes with the root: full
  ExpectFailure(FailureOf([&] { StepLiveStates(v, 'a'); }), 1,
                "Error: No queda memoria para crear nuevos estados vivos\n");
}

TEST(LiveStatesCycles, EpsilonCycleRefusedOnLoad) {
  for (const char* d : {R"(
alfabet a
estat 0
  a - 1
estat 1
  eps x 2
estat 2
  eps y 3
estat 3
  eps - 1
)",
                        R"(
alfabet a
estat 0
  a - 1
estat 1
  eps - 1
)"}) {
    Automaton t;
    ResetAutomaton(t);
    const std::string bytes = test_support::Bytes(d);
    std::string error;
    EXPECT_FALSE(LoadAutomatonFromBytes(
        t, "x.bin", reinterpret_cast<const uint8_t*>(bytes.data()),
        bytes.size(), error));
    EXPECT_EQ(error.rfind("Error: El fichero binario x.bin no es v\xe1lido: "
                          "ciclo de transiciones vac\xed"
                          "as en el estado ",
                          0),
              0u)
        << error;
    EXPECT_EQ(error.back(), '\n');
  }
}

TEST(LiveStatesCycles, CycleInTheSecondGroupIsNotFollowed) {
  // Only the first epsilon group is followed, so a loop in the second one
  // is harmless.
  auto t = Load(R"(
alfabet a
estat 0
  a - 1
estat 1
  eps x 2
  eps2 - 1
estat 2
)");
  LiveStates v;
  InitLiveStates(v, t.get());
  Walk(v, "a");
  EXPECT_EQ(List(v), (StateList{{1, ""}, {2, "x"}}));
}

// The same failures as a user meets them.
TEST(LiveStatesProgram, CycleAndMissingTarget) {
  const std::string cycle = test_support::WriteFile(test_support::Bytes(R"(
alfabet a
estat 0
  a - 1
estat 1
  eps - 2
estat 2
  eps - 1
)"),
                                                    "live_cycle.bin");
  test_support::Result r =
      test_support::RunCommand({ETIQUEM_BIN, "-b", cycle}, "a\n");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.output, "");
  EXPECT_EQ(r.errors.rfind("Error: El fichero binario " + cycle +
                               " no es v\xe1lido: ciclo de transiciones vac\xed"
                               "as en el estado ",
                           0),
            0u)
      << r.errors;
  EXPECT_EQ(std::count(r.errors.begin(), r.errors.end(), '\n'), 1);

  const std::string destination =
      test_support::WriteFile(test_support::Bytes(R"(
alfabet ab
estat 0
  a - 1
estat 1
  b - 9
)"),
                              "live_missing_target.bin");
  // What was written before the failure is not lost.
  r = test_support::RunCommand({ETIQUEM_BIN, "-b", destination}, "x ab\n");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.output, "x ");
  EXPECT_EQ(r.errors,
            "Error: L'estat dest\xed 9 no existeix a l'automat (automat mal "
            "constru\xeft)\n");
}

TEST(LiveStatesProgram, ExponentialGrowthEndsWithAMessage) {
  // Every a doubles the paths: the bound on live states ends the run.
  const std::string bin = test_support::WriteFile(test_support::Bytes(R"(
alfabet a
estat 0
  a - 0
  a - 0
)"),
                                                  "live_doubling.bin");
  test_support::Result r = test_support::RunCommand(
      {ETIQUEM_BIN, "-b", bin}, "b " + std::string(40, 'a'));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "b ");
  EXPECT_EQ(r.errors,
            "Error: No queda memoria para crear nuevos estados vivos\n");
}

}  // namespace
}  // namespace etiquem
