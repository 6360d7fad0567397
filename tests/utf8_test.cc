// How UTF-8 input is cut into characters and invalid units, counted, and
// where a piece of a file may start: each against a decoder written here
// from the Unicode standard's table of well-formed sequences, on every
// class of invalid input and on random bytes, whole and cut at every point.
// And Latin-1 readings widened to UTF-8.

#include "engine/utf8.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "analysis_helper.h"

namespace etiquem {
namespace {

using test_support::ReferenceUnit;
using test_support::ReferenceUtf8Units;

// Units as the engine cuts `bytes` (at their end, with nothing to follow).
std::vector<ReferenceUnit> EngineUnits(const std::string& bytes,
                                       std::vector<uint32_t>* code_points) {
  std::vector<ReferenceUnit> units;
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  size_t i = 0;
  while (i < bytes.size()) {
    uint32_t code_point = 0;
    const int r = Utf8Unit(p + i, bytes.size() - i, true, code_point);
    EXPECT_NE(r, 0);
    ReferenceUnit unit{i, size_t(r > 0 ? r : -r), r > 0};
    if (r > 0 && code_points != nullptr) code_points->push_back(code_point);
    units.push_back(unit);
    i += unit.length;
  }
  return units;
}

// Bytes drawn so that every class turns up: ASCII, continuation bytes, every
// kind of lead, and the bytes that are never in UTF-8.
std::string RandomBytes(std::mt19937& g, size_t n) {
  const uint8_t kInteresting[] = {0x00, 'a',  '<',  0x7F, 0x80, 0x8F, 0x90,
                                  0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF,
                                  0xE0, 0xE1, 0xEC, 0xED, 0xEE, 0xEF, 0xF0,
                                  0xF1, 0xF3, 0xF4, 0xF5, 0xFF};
  std::string s;
  for (size_t i = 0; i < n; ++i)
    s += char(g() % 3 ? kInteresting[g() % sizeof kInteresting] : g() % 256);
  return s;
}

TEST(Utf8, EveryClassOfUnit) {
  struct Case {
    std::string bytes;
    std::vector<int> units;  // lengths, negative for invalid units
    std::vector<uint32_t> code_points;
  } cases[] = {
      {"a", {1}, {'a'}},
      {std::string(1, '\0'), {1}, {0}},
      {"\xc3\xa9", {2}, {0xE9}},
      {"\xc2\x80", {2}, {0x80}},
      {"\xc3\xbf", {2}, {0xFF}},
      {"\xca\xbc", {2}, {0x2BC}},
      {"\xe2\x80\x99", {3}, {0x2019}},
      {"\xef\xbf\xbf", {3}, {0xFFFF}},
      {"\xf0\x9f\x98\x80", {4}, {0x1F600}},
      {"\xf4\x8f\xbf\xbf", {4}, {0x10FFFF}},
      {"\x80", {-1}, {}},                      // stray continuation
      {"\xbf\xbf", {-1, -1}, {}},
      {"\xc0\xaf", {-1, -1}, {}},              // overlong
      {"\xc1\xbf", {-1, -1}, {}},
      {"\xe0\x80\xaf", {-1, -1, -1}, {}},      // overlong
      {"\xf0\x80\x80\xaf", {-1, -1, -1, -1}, {}},
      {"\xed\xa0\x80", {-1, -1, -1}, {}},      // surrogate
      {"\xf4\x90\x80\x80", {-1, -1, -1, -1}, {}},  // past U+10FFFF
      {"\xf5\x80", {-1, -1}, {}},
      {"\xfe\xff", {-1, -1}, {}},
      {"\xc3", {-1}, {}},                      // cut by the end
      {"\xe2\x80", {-2}, {}},
      {"\xf0\x9f\x98", {-3}, {}},
      {"\xe2\x80" "a", {-2, 1}, {'a'}},        // cut by ASCII
      {"\xf0\x9f\x98\xc3\xa9", {-3, 2}, {0xE9}},
      {"\xc3\xc3\xa9", {-1, 2}, {0xE9}},
  };
  for (const Case& c : cases) {
    std::vector<uint32_t> code_points;
    const std::vector<ReferenceUnit> units = EngineUnits(c.bytes, &code_points);
    std::vector<int> lengths;
    for (const ReferenceUnit& u : units)
      lengths.push_back(u.valid ? int(u.length) : -int(u.length));
    EXPECT_EQ(lengths, c.units) << testing::PrintToString(c.bytes);
    EXPECT_EQ(code_points, c.code_points) << testing::PrintToString(c.bytes);
  }
}

// A sequence cut by the end of what is at hand waits for more input, unless
// the input ends there.
TEST(Utf8, ASequenceCutByTheBufferWaits) {
  const std::string s = "\xf0\x9f\x98\x80";
  uint32_t code_point = 0;
  for (size_t n = 1; n < 4; ++n) {
    EXPECT_EQ(Utf8Unit(reinterpret_cast<const uint8_t*>(s.data()), n, false,
                       code_point),
              0);
    EXPECT_EQ(Utf8Unit(reinterpret_cast<const uint8_t*>(s.data()), n, true,
                       code_point),
              -int(n));
  }
}

TEST(Utf8, ClassesOfCharacters) {
  uint8_t byte = 0;
  EXPECT_EQ(ClassifyCodePoint(0xE9, byte), kLatin1Character);
  EXPECT_EQ(byte, 0xE9);
  EXPECT_EQ(ClassifyCodePoint(0x2019, byte), kRightQuote);
  EXPECT_EQ(byte, '\'');
  EXPECT_EQ(ClassifyCodePoint(0x02BC, byte), kModifierApostrophe);
  EXPECT_EQ(byte, '\'');
  EXPECT_EQ(ClassifyCodePoint(0x100, byte), kOutsideCharacter);
  EXPECT_EQ(ClassifyCodePoint(0x20AC, byte), kOutsideCharacter);
  EXPECT_EQ(MatchingCode(kVariantCodeBase + kRightQuote), '\'');
  EXPECT_EQ(MatchingCode(kVariantCodeBase + kModifierApostrophe), '\'');
  EXPECT_EQ(MatchingCode(kOutsideCode), -1);
  EXPECT_EQ(MatchingCode(0xFF), 0xFF);
}

// The engine cuts as the standard's table does, and counts the same invalid
// units whole or read in blocks of any size.
TEST(Utf8, CutsAndCountsAsTheStandardWholeOrInBlocks) {
  std::mt19937 g(20261207);
  for (int test_case = 0; test_case < 400; ++test_case) {
    const std::string s = RandomBytes(g, 1 + g() % 64);
    const std::vector<ReferenceUnit> reference = ReferenceUtf8Units(s);
    ASSERT_EQ(EngineUnits(s, nullptr), reference)
        << testing::PrintToString(s);
    InvalidUtf8Count expected;
    for (const ReferenceUnit& u : reference)
      if (!u.valid) NoteInvalidUtf8(expected, 100 + u.start);
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    InvalidUtf8Count whole;
    EXPECT_EQ(CountInvalidUtf8(p, s.size(), 100, true, whole), s.size());
    EXPECT_EQ(whole.count, expected.count);
    EXPECT_EQ(whole.first_offset, expected.first_offset);
    // In blocks, each carrying a cut sequence over to the next.
    const size_t block = 1 + g() % 9;
    InvalidUtf8Count blocks;
    std::string pending;
    size_t offset = 100;
    for (size_t at = 0; at < s.size(); at += block) {
      pending += s.substr(at, block);
      const bool end = at + block >= s.size();
      const size_t used = CountInvalidUtf8(
          reinterpret_cast<const uint8_t*>(pending.data()), pending.size(),
          offset, end, blocks);
      EXPECT_LE(pending.size() - used, 3u);
      if (end) {
        EXPECT_EQ(used, pending.size());
      }
      pending.erase(0, used);
      offset += used;
    }
    EXPECT_EQ(blocks.count, expected.count) << testing::PrintToString(s);
    EXPECT_EQ(blocks.first_offset, expected.first_offset);
  }
}

// A piece of a file starts at the first character start at or after its
// nominal offset, found from the 3 bytes before and the 3 from it.
TEST(Utf8, CharacterStartFromTheBytesAroundAnOffset) {
  std::mt19937 g(5);
  for (int test_case = 0; test_case < 300; ++test_case) {
    const std::string s = RandomBytes(g, 1 + g() % 40);
    std::vector<bool> starts(s.size() + 1, false);
    for (const ReferenceUnit& u : ReferenceUtf8Units(s)) starts[u.start] = true;
    starts[s.size()] = true;
    for (size_t at = 0; at <= s.size(); ++at) {
      size_t expected = at;
      while (!starts[expected]) ++expected;
      const size_t from = at >= 3 ? at - 3 : 0;
      const std::string around = s.substr(from, at + 3 - from);
      EXPECT_EQ(from + CharacterStartFrom(
                           reinterpret_cast<const uint8_t*>(around.data()),
                           around.size(), at - from),
                expected)
          << testing::PrintToString(s) << " at " << at;
    }
  }
}

TEST(Utf8, Latin1WidenedInPlace) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += char(c);
  std::string text = "prefix\xe9";
  const size_t from = text.size();
  text += all;
  Latin1TailToUtf8(text, from);
  EXPECT_EQ(text, std::string("prefix\xe9") + test_support::Utf8Of(all));
  std::string appended = "x";
  AppendLatin1AsUtf8(all, appended);
  EXPECT_EQ(appended, std::string("x") + test_support::Utf8Of(all));
  std::string ascii = "only ascii";
  Latin1TailToUtf8(ascii, 0);
  EXPECT_EQ(ascii, "only ascii");
}

}  // namespace
}  // namespace etiquem
