// Tests of the reading texts: the complete and the partial rendering of an
// output, the capitals they restore from the surface's case flags, the
// characters that never change, and the apostrophe test.

#include "engine/reading_text.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "automaton_builder.h"
#include "engine/automaton.h"

namespace etiquem {
namespace {

class ReadingText : public testing::Test {
 protected:
  void SetUp() override {
    automaton_ = std::make_unique<Automaton>();
    ResetAutomaton(*automaton_);
    const std::string bytes = test_support::Bytes(R"(
alfabet a
define n 300
define fl_e0 301
estat 0
)");
    std::string error;
    ASSERT_TRUE(LoadAutomatonFromBytes(
        *automaton_, "test", reinterpret_cast<const uint8_t*>(bytes.data()),
        bytes.size(), error))
        << error;
  }

  std::string Complete(const std::vector<int32_t>& s, int a, int b) {
    std::string text;
    RenderCompleteReading(*automaton_, s.data(), int(s.size()), a, b, text);
    return text;
  }

  std::string Piece(const std::vector<int32_t>& s, int a, int b,
                    int* capital_pending_after = nullptr) {
    std::string text;
    int capital_pending = 1;
    RenderPieceReading(*automaton_, s.data(), int(s.size()), a, b,
                       capital_pending, text);
    if (capital_pending_after) *capital_pending_after = capital_pending;
    return text;
  }

  std::unique_ptr<Automaton> automaton_;
};

std::vector<int32_t> Letters(const std::string& s) {
  std::vector<int32_t> r;
  for (char c : s) r.push_back(uint8_t(c));
  return r;
}

TEST_F(ReadingText, HouseTable) {
  const std::vector<int32_t> casa = {'c', 'a', 's', 'a', 300};
  struct Case {
    int a, b;
    const char* complete;
    const char* piece;
  };
  for (const Case& c :
       {Case{1, 0, "Casa&n;/", "Casa&n;"}, Case{1, 1, "CASA&n;/", "CASA&N;"},
        Case{0, 1, "cASA&n;/", "CASA&N;"}, Case{0, 0, "casa&n;/", "casa&n;"}}) {
    EXPECT_EQ(Complete(casa, c.a, c.b), c.complete) << c.a << c.b;
    EXPECT_EQ(Piece(casa, c.a, c.b), c.piece) << c.a << c.b;
  }
}

TEST_F(ReadingText, MarksCountOnlyWhenOne) {
  const std::vector<int32_t> casa = {'c', 'a', 's', 'a', 300};
  EXPECT_EQ(Complete(casa, 2, -1), "casa&n;/");
  EXPECT_EQ(Piece(casa, 2, -1), "casa&n;");
}

TEST_F(ReadingText, StartsWithASymbol) {
  const std::vector<int32_t> s = {300, 'c', 'a', 's', 'a'};
  // Index 0 is taken by the symbol: no capital at all.
  EXPECT_EQ(Complete(s, 1, 0), "&n;casa/");
  // The one-shot capital goes to the symbol's name.
  int capital_pending = -1;
  EXPECT_EQ(Piece(s, 1, 0, &capital_pending), "&N;casa");
  EXPECT_EQ(capital_pending, 0);
}

TEST_F(ReadingText, TheOneShotFlag) {
  int capital_pending = -1;
  EXPECT_EQ(Piece(Letters("ab"), 1, 0, &capital_pending), "Ab");
  EXPECT_EQ(capital_pending, 0);
  EXPECT_EQ(Piece(Letters("ab"), 0, 0, &capital_pending), "ab");
  EXPECT_EQ(capital_pending, 1);  // not consumed when a is not 1
  EXPECT_EQ(Piece(Letters("ab"), 0, 1, &capital_pending), "AB");
  EXPECT_EQ(capital_pending, 1);
  // A flag already spent gives no capital to the first symbol.
  std::string text;
  int spent = 0;
  const auto ab = Letters("ab");
  RenderPieceReading(*automaton_, ab.data(), 2, 1, 0, spent, text);
  EXPECT_EQ(text, "ab");
}

TEST_F(ReadingText, NamesUpperCasedWithUpperForSymbolName) {
  const std::vector<int32_t> s = {'x', 301, 300};
  EXPECT_EQ(Piece(s, 0, 1), "X&FL_E0;&N;");
  EXPECT_EQ(Complete(s, 1, 1), "X&fl_e0;&n;/");  // names as stored
}

TEST_F(ReadingText, ExemptCharacters) {
  // Plus, underscore, hyphen, middle dot, apostrophe, and the capitals.
  const std::vector<int32_t> s = Letters("+_-\xb7'AZ\xc0\xde");
  const std::string unchanged = "+_-\xb7'AZ\xc0\xde";
  for (int a = 0; a <= 1; ++a)
    for (int b = 0; b <= 1; ++b) {
      EXPECT_EQ(Complete(s, a, b), unchanged + "/") << a << b;
      EXPECT_EQ(Piece(s, a, b), unchanged) << a << b;
    }
}

TEST_F(ReadingText, OnlyLettersChange) {
  // Digits, punctuation, blanks, sharp s, y with diaeresis and the division
  // sign have no capital and stay as they are.
  const std::string unchanged = "x19. \t\xdf\xff\xf7\xd7";
  EXPECT_EQ(Complete(Letters(unchanged), 1, 1), "X19. \t\xdf\xff\xf7\xd7/");
  EXPECT_EQ(Piece(Letters(unchanged), 1, 1), "X19. \t\xdf\xff\xf7\xd7");
  // Every byte: lower-case letters with a Latin-1 capital lose 32.
  for (int c = 1; c < 256; ++c) {
    const bool letter =
        (c >= 'a' && c <= 'z') || (c >= 224 && c <= 254 && c != 247);
    const std::string expected(1, char(letter ? c - 32 : c));
    EXPECT_EQ(Complete({'q', c}, 0, 1), "q" + expected + "/") << c;
    EXPECT_EQ(Piece({c}, 1, 0), expected) << c;
  }
}

TEST_F(ReadingText, CharacterSymbolsByTheLowByte) {
  // 256 is the character 0, which writes nothing; 257 is byte 1.
  EXPECT_EQ(Complete({'a', 256, 'b'}, 0, 0), "ab/");
  EXPECT_EQ(Complete({'a', 257, 'b'}, 0, 0), std::string("a\x01"
                                                         "b/"));
  EXPECT_EQ(Complete({' '}, 1, 1), " /");
}

TEST_F(ReadingText, EmptyStrings) {
  EXPECT_EQ(Complete({}, 1, 1), "/");
  std::string text = "abans";
  int capital_pending = 1;
  EXPECT_FALSE(
      RenderPieceReading(*automaton_, nullptr, 0, 1, 1, capital_pending, text));
  EXPECT_EQ(text, "abans");
  // A string that is not empty gives a text, even an empty one.
  const int32_t zero[] = {256};
  EXPECT_TRUE(
      RenderPieceReading(*automaton_, zero, 1, 0, 0, capital_pending, text));
  EXPECT_EQ(text, "abans");
}

TEST_F(ReadingText, AppendsToTheText) {
  std::string text = "x/";
  const auto ab = Letters("ab");
  RenderCompleteReading(*automaton_, ab.data(), 2, 0, 0, text);
  EXPECT_EQ(text, "x/ab/");
  int capital_pending = 1;
  EXPECT_TRUE(RenderPieceReading(*automaton_, ab.data(), 2, 0, 0,
                                 capital_pending, text));
  EXPECT_EQ(text, "x/ab/ab");
}

TEST(HasApostrophe, FindsTheApostrophe) {
  EXPECT_EQ(HasApostrophe("l'aigua"), 1);
  EXPECT_EQ(HasApostrophe("'"), 1);
  EXPECT_EQ(HasApostrophe("aigua'"), 1);
  EXPECT_EQ(HasApostrophe("aigua"), 0);
  EXPECT_EQ(HasApostrophe(""), 0);
  EXPECT_EQ(HasApostrophe(std::string_view("a\0'", 3)), 1);
}

}  // namespace
}  // namespace etiquem
