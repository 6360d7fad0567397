// The memory of finished attempts must never change what is written: the
// same runs, with and without it, on generated dictionaries and texts (case,
// superblanks, NUL and bytes 1 and 255, every option) give the same bytes on
// standard output and in the unknown-words file. Also checks that the memory
// stays within its bounds by emptying itself.

#include "engine/attempt_memory.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "analysis_helper.h"
#include "automaton_builder.h"

namespace etiquem {
namespace {

using test_support::AnalyseInProcess;
using test_support::LoadOrFail;
using test_support::Outputs;
using test_support::RandomDictionary;
using test_support::RandomText;

TEST(AttemptMemory, NeverChangesWhatIsWritten) {
  std::mt19937 g(20261207);
  int with_records = 0, with_pieces = 0, with_unknown = 0;
  for (int test_case = 0; test_case < 120; ++test_case) {
    const std::string unknown = RandomDictionary(g);
    Automaton t;
    LoadOrFail(t, test_support::Bytes(unknown));
    const std::string text = RandomText(g, 200 + g() % 2000);
    const int s = int(g() % 2), a = int(g() % 2), m = int(g() % 2);
    // Small read blocks: superblank openers straddle reads.
    Outputs sense = AnalyseInProcess(t, text, s, a, m, false, 1 << 17, 64);
    Outputs amb = AnalyseInProcess(t, text, s, a, m, true, 1 << 17, 64);
    ASSERT_EQ(sense.text, amb.text) << unknown;
    ASSERT_EQ(sense.unknown_output, amb.unknown_output) << unknown;
    // A memory so small that it empties itself all the time.
    Outputs small = AnalyseInProcess(t, text, s, a, m, true, 8, 64);
    ASSERT_EQ(sense.text, small.text) << unknown;
    with_records += sense.text.find('/') != std::string::npos;
    with_pieces += sense.text.find("<e>") != std::string::npos;
    with_unknown += !sense.unknown_output.empty();
  }
  // The generated cases do exercise every kind of reading.
  EXPECT_GT(with_records, 30);
  EXPECT_GT(with_pieces, 5);
  EXPECT_GT(with_unknown, 5);
}

TEST(AttemptMemory, BlankAndSuperblankAreNotConfused) {
  // Both step as a blank; only the blank writes itself.
  Automaton t;
  LoadOrFail(
      t, test_support::Bytes("alfabet a\nestat 0\n  a a 1\nestat 1\n  fi\n"));
  const std::string text = "a a<![CDATA[<p>]]>a a<![CDATA[<q>]]>a";
  EXPECT_EQ(AnalyseInProcess(t, text, 0, 0, 0, true).text,
            "a/ a/<![CDATA[<p>]]>a/ a/<![CDATA[<q>]]>a/");
}

TEST(AttemptMemory, EmptiedWhenFull) {
  AttemptMemory m;
  m.max_nodes = 16;
  m.max_text_bytes = 64;
  ClearMemory(m);
  StoreAttempt(m, "abcdefgh ", 8, "abcdefgh/", kReading);
  EXPECT_EQ(m.nodes.size(), 10u);
  StoreAttempt(m, "ijklmnopq ", 9, "ijklmnopq/", kReading);
  // The second path did not fit beside the first, which was not walked
  // again: it is gone.
  EXPECT_EQ(LookupMemory(m, 0, 'a'), 0u);
  EXPECT_NE(LookupMemory(m, 0, 'i'), 0u);
  EXPECT_LE(m.nodes.size(), m.max_nodes);
}

TEST(AttemptMemory, WhenFullKeepsWhatWasUsed) {
  AttemptMemory m;
  m.max_nodes = 40;
  m.max_text_bytes = 400;
  ClearMemory(m);
  StoreAttempt(m, "casa ", 4, "casa/", kReading);
  StoreAttempt(m, "gos ", 3, "gos/", kReading);
  // When full, only paths walked again since they were stored are kept:
  // "casa " is walked again, "gos " is not.
  for (int i = 0; i < 4; ++i)
    StoreAttempt(m, std::string(7, char('k' + i)), 7, "xxxxxxx/", kReading);
  uint32_t n = 0;
  for (char c : std::string("casa "))
    n = LookupMemory(m, n, uint8_t(c)) & ~kClosedFlag;
  ASSERT_NE(n, 0u);
  for (int i = 0; i < 3; ++i)
    StoreAttempt(m, std::string(7, char('p' + i)), 7, "yyyyyyy/", kReading);
  n = 0;
  for (char c : std::string("casa "))
    n = LookupMemory(m, n, uint8_t(c)) & ~kClosedFlag;
  ASSERT_NE(n, 0u);
  EXPECT_EQ(m.nodes[n].kind, kClosed);
  EXPECT_EQ(m.texts.substr(m.nodes[n].text_offset, m.nodes[n].text_size),
            "casa/");
  EXPECT_EQ(LookupMemory(m, 0, 'g'), 0u);
  EXPECT_LE(m.nodes.size(), m.max_nodes);
}

}  // namespace
}  // namespace etiquem
