// The deterministic walk with the memory of stretches against the full walk
// with outputs: on generated dictionaries with many readings per form,
// compound pieces, unknown-word paths, epsilon moves that write or not, and
// capitals, and on random texts, both must write the same bytes, the same
// unknown-word lines and the same events, in Latin-1 and in UTF-8, whatever
// the cache's budget (a tiny one empties it all the time). And a test that
// the cache stays within its budget.

#include "engine/lazy_dfa.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "analysis_helper.h"
#include "automaton_builder.h"
#include "engine/analysis.h"

namespace etiquem {
namespace {

using test_support::LoadOrFail;

// A dictionary over "abcAC' -" whose forms have several readings: states
// move forward, often with two to four moves on one letter (readings that
// part at that letter), epsilon moves (writing a tag, or nothing, or "0")
// on a state's first epsilon group, markers of the three kinds, and at
// times the symbol that asks for unknown words to be read whole.
std::string ManyReadingsDictionary(std::mt19937& g) {
  const std::string letters = "abcAC' -";
  const int n = 5 + int(g() % 12);
  std::string d = "alfabet 'ACabc-\ndefine n 258\ndefine v 259\n";
  if (g() % 5 == 0) d += "define @whole-words 260\n";
  for (int e = 0; e < n; ++e) {
    d += "estat " + std::to_string(e) + "\n";
    if (g() % 4 == 0) d += "  fi\n";
    if (g() % 6 == 0) d += "  parcial\n";
    if (g() % 7 == 0) d += "  descon\n";
    if (g() % 9 == 0) d += "  fi\n";  // a marker twice
    for (char c : letters) {
      if (g() % 3 == 0) continue;
      const int moves = 1 + int(g() % (g() % 3 == 0 ? 4 : 2));
      const std::string input = c == ' ' ? "\\s" : std::string(1, c);
      for (int i = 0; i < moves; ++i) {
        int target = e + int(g() % 3);
        if (target >= n) target = n - 1;
        if (target == e && (i > 0 || e == 0)) target = std::min(e + 1, n - 1);
        const char* output = g() % 4 == 0   ? "-"
                             : g() % 3 == 0 ? "&n"
                             : g() % 2      ? "x"
                                            : "\\xe9";
        d += "  " + input + " " + output + " " + std::to_string(target) + "\n";
      }
    }
    if (e + 1 < n && g() % 3 == 0) {
      const int moves = 1 + int(g() % 2);
      for (int i = 0; i < moves; ++i) {
        const int target = e + 1 + int(g() % std::max(1, std::min(3, n - e - 1)));
        const char* output = g() % 3 == 0 ? "-" : g() % 2 ? "&v" : "0";
        d += "  eps " + std::string(output) + " " +
             std::to_string(std::min(target, n - 1)) + "\n";
      }
    }
  }
  return d;
}

// Text from pieces: the dictionary's letters in runs, capitals, blanks,
// line ends, superblanks and a few bytes no move reads.
std::string WordText(std::mt19937& g, size_t length) {
  const std::string pieces[] = {"a",   "b",  "c",   "A",    "C",  "ab",
                                "abc", "ba", "cab", "Abc ", "' ", " ",
                                "-",   "\n", "aa",  "bb",   "\x01",
                                "<![CDATA[x]]>",    "AC",   "c'a"};
  std::string t;
  while (t.size() < length) t += pieces[g() % (sizeof pieces / sizeof *pieces)];
  return t;
}

// What a run wrote: the bytes, the unknown-word lines and the events.
struct Written {
  std::string text;
  std::string unknown_words;
  std::vector<std::string> events;  // each event's fields, as text
  std::vector<uint64_t> boundaries;  // where the stepping call stopped
                                     // (clean cuts odd)
  Error error;
};

bool Collect(void* context, const Batch& batch) {
  Written& run = *static_cast<Written*>(context);
  for (const Event& e : batch.events) {
    std::string line = std::to_string(int(e.kind)) + " " +
                       std::to_string(e.input_begin) + "-" +
                       std::to_string(e.input_end) + " [" +
                       std::string(batch.output.substr(
                           e.output_begin, e.output_end - e.output_begin)) +
                       "] [" +
                       std::string(batch.surfaces.substr(
                           e.surface_begin, e.surface_end - e.surface_begin)) +
                       "]";
    for (uint32_t i = 0; i < e.part_count; ++i) {
      const ReadingPart& p = batch.parts[e.first_part + i];
      line += " {" + std::to_string(p.piece) + std::to_string(p.first_upper) +
              std::to_string(p.latest_upper);
      for (uint32_t k = 0; k < p.symbol_count; ++k)
        line += " " + std::to_string(batch.symbols[p.first_symbol + k]);
      line += "}";
    }
    run.events.push_back(line);
  }
  run.text.append(batch.output);
  run.unknown_words.append(batch.unknown_words);
  return true;
}

// One run, with the deterministic walk (`fast`) or not; `budget` bytes of
// cache and a memory of `entries` stretches. With a `stride`, the stepping
// call is asked to stop at every attempt boundary at least 1 to `stride`
// bytes after the last one, as the analysis in pieces does. `max_states`:
// the live-state limit.
Written Analyse(const Automaton& t, const std::string& text, Options options,
            bool fast, size_t budget = kDfaCacheBytes,
            size_t entries = size_t(1) << 16, uint64_t stride = 0,
            size_t max_states = size_t(1) << 20) {
  Written run;
  options.unknown_words = true;
  auto analyser = std::make_unique<Analyser>();
  analyser->live_states.max_states = max_states;
  analyser->dfa.budget_bytes = budget;
  analyser->memory.max_entries = entries;
  analyser->memory.max_text_bytes = entries * 16;
  Input input;
  input.bytes = text;
  StartAnalysis(*analyser, &t, options, input, Collect, &run);
  analyser->use_dfa = analyser->use_dfa && fast;
  if (stride == 0) {
    AdvanceAnalysis(*analyser, UINT64_MAX);
  } else {
    uint64_t offset = 0;
    for (uint64_t k = 0;; ++k) {
      const Step step =
          AdvanceAnalysis(*analyser, offset + 1 + (k * 7919) % stride);
      if (step.reached != Reached::kBoundary) break;
      EXPECT_GT(step.offset, offset);
      offset = step.offset;
      run.boundaries.push_back(offset * 2 + step.clean);
    }
  }
  run.error = analyser->error;
  return run;
}

void ExpectSame(const Written& full, const Written& fast, const std::string& what) {
  ASSERT_EQ(full.text, fast.text) << what;
  ASSERT_EQ(full.unknown_words, fast.unknown_words) << what;
  ASSERT_EQ(full.events, fast.events) << what;
  ASSERT_EQ(full.boundaries, fast.boundaries) << what;
  ASSERT_EQ(full.error.status, fast.error.status) << what;
  ASSERT_EQ(full.error.message, fast.error.message) << what;
}

TEST(LazyDfa, WritesWhatTheFullWalkWrites) {
  std::mt19937 g(20261207);
  int readings = 0, compounds = 0, unknown = 0, left = 0;
  for (int test_case = 0; test_case < 300; ++test_case) {
    const std::string description = ManyReadingsDictionary(g);
    Automaton t;
    LoadOrFail(t, test_support::Bytes(description));
    std::string text = WordText(g, 100 + g() % 1500);
    Options options;
    options.surface_forms = g() % 2;
    options.apostrophe_blank = g() % 2;
    options.mark_unknown = g() % 2;
    options.events = g() % 2;
    options.utf8 = g() % 3 == 0;
    if (options.utf8) {
      text = test_support::Utf8Of(text);
      text += "\xe2\x80\x99" "ab\xc3\x28 A\xca\xbc" "c";
    }
    const std::string what = description + "\ntext: " + text;
    const Written full = Analyse(t, text, options, false);
    ExpectSame(full, Analyse(t, text, options, true), what);
    // A cache with room for a few states beside its empty tables, and one
    // with none, with a memory of a few stretches: emptied all the time.
    ExpectSame(full, Analyse(t, text, options, true, 20000, 4), what);
    ExpectSame(full, Analyse(t, text, options, true, 600, 4), what);
    if (HasFatalFailure()) return;
    readings += full.text.find('/') != std::string::npos;
    compounds += full.text.find("<e>") != std::string::npos;
    unknown += !full.unknown_words.empty();
    left += full.error.failed();
  }
  // The generated cases exercise every kind of reading.
  EXPECT_GT(readings, 150);
  EXPECT_GT(compounds, 20);
  EXPECT_GT(unknown, 50);
}

// Blanks, punctuation and characters outside every alphabet that start an
// attempt are written as themselves without its bookkeeping, in Latin-1 and
// in UTF-8 (where they take one to four bytes, or are invalid units): the
// same bytes and events as the full walk, also when the stepping call stops
// at attempt boundaries (where it stops at the same ones), around
// superblanks and at the end of the input.
TEST(LazyDfa, LoneCharactersAreWrittenAsTheFullWalkWritesThem) {
  std::mt19937 g(20261208);
  const std::string pieces[] = {
      "ab ",  "a, ", " ",   "  ",   "\n",  ".",  "'",    "Abc",
      "c'a",  "\x01", "<![CDATA[x]]>", "\xab", "\xbb", "\xe9",
      "ba-",  "(c)", "\t"};
  const std::string utf8_pieces[] = {
      "\xe2\x80\x94",       // an em dash: outside every alphabet
      "\xe2\x80\x99",       // a typographic apostrophe: matches "'"
      "\xf0\x9f\x98\x80",  // four bytes
      "\xff",               // an invalid unit
      "\xc2\xab",           // a Latin-1 character no path reads
      "\xca\xbc"};          // a modifier apostrophe
  int lone = 0;
  for (int test_case = 0; test_case < 200; ++test_case) {
    const std::string description = ManyReadingsDictionary(g);
    Automaton t;
    LoadOrFail(t, test_support::Bytes(description));
    Options options;
    options.surface_forms = g() % 2;
    options.events = g() % 4 == 0;
    options.utf8 = g() % 3 != 0;
    std::string text;
    const size_t length = 50 + g() % 600;
    while (text.size() < length) {
      if (options.utf8 && g() % 4 == 0) {
        text += utf8_pieces[g() % (sizeof utf8_pieces / sizeof *utf8_pieces)];
      } else {
        const std::string piece =
            pieces[g() % (sizeof pieces / sizeof *pieces)];
        text += options.utf8 ? test_support::Utf8Of(piece) : piece;
      }
    }
    const std::string what = description + "\ntext: " + text;
    const Written full = Analyse(t, text, options, false);
    ExpectSame(full, Analyse(t, text, options, true), what);
    for (uint64_t stride : {1, 3, 16}) {
      Written full_steps = Analyse(t, text, options, false, kDfaCacheBytes,
                                   size_t(1) << 16, stride);
      const Written fast_steps = Analyse(t, text, options, true, kDfaCacheBytes,
                                         size_t(1) << 16, stride);
      ExpectSame(full_steps, fast_steps,
                 what + "\nstride " + std::to_string(stride));
      full_steps.boundaries.clear();
      ExpectSame(full, full_steps, what + "\nstride " + std::to_string(stride));
    }
    if (HasFatalFailure()) return;
    lone += options.utf8 && full.text.find("\xe2\x80\x94") != std::string::npos;
  }
  // Most UTF-8 cases write a character of three bytes as itself.
  EXPECT_GT(lone, 80);
}

// Every 'a' doubles the paths: past the live-state limit the full walk
// fails with its message, and the deterministic walk hands such attempts
// to it in time to fail at the same point, with the same bytes before.
TEST(LazyDfa, TheLiveStateLimitStaysWhereItWas) {
  Automaton t;
  LoadOrFail(t, test_support::Bytes("alfabet ab\nestat 0\n  fi\n"
                                    "  a a 0\n  a b 0\n"));
  for (int n : {5, 12, 19, 21, 25}) {
    const std::string text = "b aaa b " + std::string(size_t(n), 'a') + " b";
    const Written full = Analyse(t, text, Options{}, false);
    const Written fast = Analyse(t, text, Options{}, true);
    ExpectSame(full, fast, "n = " + std::to_string(n));
    EXPECT_EQ(full.error.failed(), n > 20) << n;
  }
}

// The walks over a block keep the sum of list sizes only as what large
// lists add to the sizes their transitions hold. After "b" every 'a'
// doubles the paths, which accept again only at the next "b": an attempt
// "b" + a^n written as "b" alone, whose lists the full walk still counts
// as it walks the a's. With the bound at the default, between the most
// that small lists can add up to and the large lists' sums, and below it,
// with and without events (the walk that stores every entry) and with the
// stepping call stopping at boundaries: the same bytes, failures and
// boundaries as the full walk.
TEST(LazyDfa, LargeListsAddUpAsTheFullWalkCounts) {
  Automaton t;
  LoadOrFail(t, test_support::Bytes("alfabet ab\nestat 0\n  b b 1\n"
                                    "estat 1\n  fi\n  a a 2\n  a b 2\n"
                                    "estat 2\n  a a 2\n  a b 2\n  b b 1\n"));
  int failed = 0, passed = 0;
  for (const size_t max_states :
       {size_t(1) << 20, size_t(100000), size_t(70000), size_t(3000)}) {
    for (int n = 6; n <= 21; n += 3) {
      std::string text = "b " + std::string(size_t(n), 'a') + " b";
      for (int k = 0; k < 12; ++k)
        text += std::string(size_t(1 + (k * 7 + n) % 13), 'a') + "b b";
      text += std::string(size_t(n), 'a') + " ab b";
      for (const bool events : {false, true}) {
        for (const uint64_t stride : {uint64_t(0), uint64_t(9)}) {
          Options options;
          options.events = events;
          const std::string what = "max_states " + std::to_string(max_states) +
                                   ", n = " + std::to_string(n) +
                                   (events ? ", events" : "") + ", stride " +
                                   std::to_string(stride);
          const Written full = Analyse(t, text, options, false, kDfaCacheBytes,
                                       size_t(1) << 16, stride, max_states);
          ExpectSame(full,
                     Analyse(t, text, options, true, kDfaCacheBytes,
                             size_t(1) << 16, stride, max_states),
                     what);
          if (HasFatalFailure()) return;
          (full.error.failed() ? failed : passed) += 1;
        }
      }
    }
  }
  // Both ends of every bound are met.
  EXPECT_GT(failed, 10);
  EXPECT_GT(passed, 10);
}

// With a low live-state limit, attempts of a few paths a character pass
// the walk's bound on the sum of list sizes long before any list reaches
// the limit (and some then reach it): the deterministic walk hands them to
// the full walk, at whatever character it notices, with the same bytes and
// the same failure.
TEST(LazyDfa, SmallListsPastTheBoundGoToTheFullWalk) {
  std::mt19937 g(20261209);
  int failed = 0, passed = 0;
  for (int test_case = 0; test_case < 200; ++test_case) {
    const std::string description = ManyReadingsDictionary(g);
    Automaton t;
    LoadOrFail(t, test_support::Bytes(description));
    const std::string text = WordText(g, 100 + g() % 600);
    Options options;
    options.events = g() % 3 == 0;
    const size_t max_states = size_t(4) << (g() % 4);
    const std::string what = description + "\ntext: " + text +
                             "\nmax_states " + std::to_string(max_states);
    const Written full = Analyse(t, text, options, false, kDfaCacheBytes,
                                 size_t(1) << 16, 0, max_states);
    ExpectSame(full,
               Analyse(t, text, options, true, kDfaCacheBytes, size_t(1) << 16,
                       0, max_states),
               what);
    ExpectSame(Analyse(t, text, options, false, kDfaCacheBytes,
                       size_t(1) << 16, 5, max_states),
               Analyse(t, text, options, true, kDfaCacheBytes, size_t(1) << 16,
                       5, max_states),
               what + "\nstride 5");
    if (HasFatalFailure()) return;
    (full.error.failed() ? failed : passed) += 1;
  }
  EXPECT_GT(failed, 10);
  EXPECT_GT(passed, 10);
}

// Texts longer than the scanner's block (64 KiB), with words longer than
// an attempt may be (254 characters, past which the attempt ends alive),
// superblanks, and runs of blanks: with no events and no limit, the walk
// over the block stores ring entries only when something reads them, and
// attempts cross blocks, end at the bound, leave the walk and are read
// again from the ring. The same bytes and unknown words as the full walk,
// and as the walk that stores every entry (asked for by events).
TEST(LazyDfa, LongTextsAcrossBlocksWriteWhatTheFullWalkWrites) {
  std::mt19937 g(20261210);
  for (int test_case = 0; test_case < 6; ++test_case) {
    const std::string description = ManyReadingsDictionary(g);
    Automaton t;
    LoadOrFail(t, test_support::Bytes(description));
    std::string text;
    while (text.size() < 150000) {
      switch (g() % 8) {
        case 0:
          text += std::string(200 + g() % 120, "abc"[g() % 3]);
          break;
        case 1:
          text += std::string(1 + g() % 5, ' ');
          break;
        case 2:
          text += "<![CDATA[x]]>";
          break;
        default:
          text += WordText(g, 1 + g() % 40);
      }
    }
    Options options;
    options.surface_forms = g() % 2;
    const std::string what = description + "\ncase " +
                             std::to_string(test_case);
    const Written full = Analyse(t, text, options, false);
    const Written fast = Analyse(t, text, options, true);
    ExpectSame(full, fast, what);
    // A tiny cache and memory: attempts often leave the walk.
    ExpectSame(full, Analyse(t, text, options, true, 600, 4), what);
    options.events = true;
    const Written with_events = Analyse(t, text, options, true);
    EXPECT_EQ(full.text, with_events.text) << what;
    if (HasFatalFailure()) return;
  }
  // Words (a | bb)*: attempts of any length, a stretch ending before a "b"
  // that leaves two or more characters to read again, and attempts still
  // alive after 254 characters, across the blocks' ends.
  Automaton t;
  LoadOrFail(t, test_support::Bytes("alfabet ab\nestat 0\n  fi\n  a a 0\n"
                                    "  b b 1\nestat 1\n  b b 0\n"));
  for (int test_case = 0; test_case < 12; ++test_case) {
    std::string text;
    const std::string pieces[] = {"ab ", "aab", "b", "bb", " ", "c",
                                  "<![CDATA[x]]>"};
    while (text.size() < 70000) {
      text += g() % 100 == 0 ? std::string(200 + g() % 200, 'a')
              : g() % 2      ? std::string(1 + g() % 3, 'a')
                             : pieces[g() % (sizeof pieces / sizeof *pieces)];
    }
    const std::string what = "(a | bb)*, case " + std::to_string(test_case);
    ExpectSame(Analyse(t, text, Options{}, false),
               Analyse(t, text, Options{}, true), what);
    if (HasFatalFailure()) return;
  }
}

// A walk state lists each (state, output empty) pair of the live-state
// list once, at its last appearance, with how many times the list holds
// it: the same as worked out from the full walk's list, character after
// character, on generated dictionaries (where paths meet often).
TEST(LazyDfa, WalkStatesListEachPairOnceAtItsLastAppearance) {
  std::mt19937 g(20261210);
  int repeated = 0;
  for (int test_case = 0; test_case < 200; ++test_case) {
    const std::string description = ManyReadingsDictionary(g);
    Automaton t;
    LoadOrFail(t, test_support::Bytes(description));
    LazyDfa d;
    ResetDfa(d, &t);
    LiveStates v;
    InitLiveStates(v, &t);
    for (int word = 0; word < 30; ++word) {
      const size_t length = 1 + g() % 8;
      const std::string text = WordText(g, length);
      uint32_t state = kStartState;
      StartAtInitialState(v);
      for (const char c : text) {
        state = WalkStep(d, state, uint8_t(c)) & kWalkStateMask;
        StepAndCloseLiveStates(v, uint8_t(c));
        if (state < kStartState) break;
        // Last appearances first, then reversed.
        std::vector<uint64_t> expected;
        for (size_t i = v.states.size(); i-- > 0;) {
          const LiveState& s = v.states[i];
          const uint64_t pair = uint64_t(s.state) << 1 | (s.output != 0);
          auto kept = std::find_if(expected.begin(), expected.end(),
                                   [&](uint64_t e) { return e >> 32 == pair; });
          if (kept == expected.end())
            expected.push_back(pair << 32 | 1);
          else
            ++*kept;
        }
        repeated += expected.size() < v.states.size();
        std::reverse(expected.begin(), expected.end());
        const WalkState& w = d.states[state];
        const std::vector<uint64_t> got(
            d.elements.begin() + w.first_element,
            d.elements.begin() + w.first_element + w.element_count);
        ASSERT_EQ(expected, got) << description << "\ntext " << text;
        ASSERT_EQ(w.live_count, v.states.size());
      }
    }
  }
  EXPECT_GT(repeated, 500);  // lists holding a pair twice, or more
}

// The cache never holds more than its budget, however many states the text
// needs, and it is emptied and filled again meanwhile.
TEST(LazyDfa, StaysWithinItsBudget) {
  // A tree of 4,000 states over "ab": as many walk states as text reaches.
  std::string description = "alfabet ab\n";
  const int n = 4000;
  for (int e = 0; e < n; ++e) {
    description += "estat " + std::to_string(e) + "\n  fi\n";
    if (2 * e + 1 < n) description += "  a a " + std::to_string(2 * e + 1) + "\n";
    if (2 * e + 2 < n) description += "  b b " + std::to_string(2 * e + 2) + "\n";
  }
  std::mt19937 g(7);
  Automaton t;
  LoadOrFail(t, test_support::Bytes(description));
  LazyDfa d;
  d.budget_bytes = 32 * 1024;
  ResetDfa(d, &t);
  size_t most = 0;
  for (int i = 0; i < 20000; ++i) {
    uint32_t state = kStartState;
    for (int k = 0; k < 12; ++k) {
      const uint32_t entry = WalkStep(d, state, "ab"[g() % 2]);
      most = std::max(most, DfaCacheBytes(d));
      state = entry & kWalkStateMask;
      if (state < kStartState) break;
    }
  }
  EXPECT_LE(most, d.budget_bytes);
  EXPECT_GT(d.flushes, 0u);
}

}  // namespace
}  // namespace etiquem
