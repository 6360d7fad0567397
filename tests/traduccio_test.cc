// Tests of the reading texts: the complete and the partial rendering of an
// output, the capitals they restore from the surface's case flags, the
// characters that never change, and the apostrophe test.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "automat_prova.h"
#include "automaton/automat.h"
#include "matching/traduccio.h"

namespace etiquem {
namespace {

class Traduccio : public testing::Test {
 protected:
  void SetUp() override {
    t_ = std::make_unique<Transductor>();
    Inicio(*t_);
    const std::string bytes = prova::Bytes(R"(
alfabet a
define n 300
define fl_e0 301
estat 0
)");
    std::string error;
    ASSERT_TRUE(GenautoDeMemoria(
        *t_, "prova", reinterpret_cast<const uint8_t*>(bytes.data()),
        bytes.size(), error))
        << error;
  }

  std::string Completa(const std::vector<int32_t>& s, int a, int b) {
    std::string text;
    ObtenerTraduccio(*t_, s.data(), int(s.size()), a, b, text);
    return text;
  }

  std::string Parcial(const std::vector<int32_t>& s, int a, int b,
                      int* unica_despres = nullptr) {
    std::string text;
    int unica = 1;
    TraducParcial(*t_, s.data(), int(s.size()), a, b, unica, text);
    if (unica_despres) *unica_despres = unica;
    return text;
  }

  std::unique_ptr<Transductor> t_;
};

std::vector<int32_t> Lletres(const std::string& s) {
  std::vector<int32_t> r;
  for (char c : s) r.push_back(uint8_t(c));
  return r;
}

TEST_F(Traduccio, TaulaDeCasa) {
  const std::vector<int32_t> casa = {'c', 'a', 's', 'a', 300};
  struct Cas {
    int a, b;
    const char* completa;
    const char* parcial;
  };
  for (const Cas& c : {Cas{1, 0, "Casa&n;/", "Casa&n;"},
                       Cas{1, 1, "CASA&n;/", "CASA&N;"},
                       Cas{0, 1, "cASA&n;/", "CASA&N;"},
                       Cas{0, 0, "casa&n;/", "casa&n;"}}) {
    EXPECT_EQ(Completa(casa, c.a, c.b), c.completa) << c.a << c.b;
    EXPECT_EQ(Parcial(casa, c.a, c.b), c.parcial) << c.a << c.b;
  }
}

TEST_F(Traduccio, LesMarquesComptenNomesSiValenU) {
  const std::vector<int32_t> casa = {'c', 'a', 's', 'a', 300};
  EXPECT_EQ(Completa(casa, 2, -1), "casa&n;/");
  EXPECT_EQ(Parcial(casa, 2, -1), "casa&n;");
}

TEST_F(Traduccio, ComencaAmbUnSimbol) {
  const std::vector<int32_t> s = {300, 'c', 'a', 's', 'a'};
  // Index 0 is taken by the symbol: no capital at all.
  EXPECT_EQ(Completa(s, 1, 0), "&n;casa/");
  // The one-shot capital goes to the symbol's name.
  int unica = -1;
  EXPECT_EQ(Parcial(s, 1, 0, &unica), "&N;casa");
  EXPECT_EQ(unica, 0);
}

TEST_F(Traduccio, ElFlagDUnSolUs) {
  int unica = -1;
  EXPECT_EQ(Parcial(Lletres("ab"), 1, 0, &unica), "Ab");
  EXPECT_EQ(unica, 0);
  EXPECT_EQ(Parcial(Lletres("ab"), 0, 0, &unica), "ab");
  EXPECT_EQ(unica, 1);  // not consumed when a is not 1
  EXPECT_EQ(Parcial(Lletres("ab"), 0, 1, &unica), "AB");
  EXPECT_EQ(unica, 1);
  // A flag already spent gives no capital to the first symbol.
  std::string text;
  int gastat = 0;
  const auto ab = Lletres("ab");
  TraducParcial(*t_, ab.data(), 2, 1, 0, gastat, text);
  EXPECT_EQ(text, "ab");
}

TEST_F(Traduccio, NomsAMajusculesAmbMayusculas) {
  const std::vector<int32_t> s = {'x', 301, 300};
  EXPECT_EQ(Parcial(s, 0, 1), "X&FL_E0;&N;");
  EXPECT_EQ(Completa(s, 1, 1), "X&fl_e0;&n;/");  // names as stored
}

TEST_F(Traduccio, CaractersExempts) {
  // Plus, underscore, hyphen, middle dot, apostrophe, and the capitals.
  const std::vector<int32_t> s = Lletres("+_-\xb7'AZ\xc0\xde");
  const std::string tal = "+_-\xb7'AZ\xc0\xde";
  for (int a = 0; a <= 1; ++a)
    for (int b = 0; b <= 1; ++b) {
      EXPECT_EQ(Completa(s, a, b), tal + "/") << a << b;
      EXPECT_EQ(Parcial(s, a, b), tal) << a << b;
    }
}

TEST_F(Traduccio, NomesCanvienLesLletres) {
  // Digits, punctuation, blanks, sharp s, y with diaeresis and the division
  // sign have no capital and stay as they are.
  const std::string tal = "x19. \t\xdf\xff\xf7\xd7";
  EXPECT_EQ(Completa(Lletres(tal), 1, 1), "X19. \t\xdf\xff\xf7\xd7/");
  EXPECT_EQ(Parcial(Lletres(tal), 1, 1), "X19. \t\xdf\xff\xf7\xd7");
  // Every byte: lower-case letters with a Latin-1 capital lose 32.
  for (int c = 1; c < 256; ++c) {
    const bool lletra = (c >= 'a' && c <= 'z') || (c >= 224 && c <= 254 && c != 247);
    const std::string esperat(1, char(lletra ? c - 32 : c));
    EXPECT_EQ(Completa({'q', c}, 0, 1), "q" + esperat + "/") << c;
    EXPECT_EQ(Parcial({c}, 1, 0), esperat) << c;
  }
}

TEST_F(Traduccio, SimbolsDeCaracterPerElByteBaix) {
  // 256 is the character 0, which writes nothing; 257 is byte 1.
  EXPECT_EQ(Completa({'a', 256, 'b'}, 0, 0), "ab/");
  EXPECT_EQ(Completa({'a', 257, 'b'}, 0, 0), std::string("a\x01" "b/"));
  EXPECT_EQ(Completa({' '}, 1, 1), " /");
}

TEST_F(Traduccio, CadenesBuides) {
  EXPECT_EQ(Completa({}, 1, 1), "/");
  std::string text = "abans";
  int unica = 1;
  EXPECT_FALSE(TraducParcial(*t_, nullptr, 0, 1, 1, unica, text));
  EXPECT_EQ(text, "abans");
  // A string that is not empty gives a text, even an empty one.
  const int32_t zero[] = {256};
  EXPECT_TRUE(TraducParcial(*t_, zero, 1, 0, 0, unica, text));
  EXPECT_EQ(text, "abans");
}

TEST_F(Traduccio, SAfegeixAlText) {
  std::string text = "x/";
  const auto ab = Lletres("ab");
  ObtenerTraduccio(*t_, ab.data(), 2, 0, 0, text);
  EXPECT_EQ(text, "x/ab/");
  int unica = 1;
  EXPECT_TRUE(TraducParcial(*t_, ab.data(), 2, 0, 0, unica, text));
  EXPECT_EQ(text, "x/ab/ab");
}

TEST(Apostrofada, TrobaLApostrof) {
  EXPECT_EQ(Apostrofada("l'aigua"), 1);
  EXPECT_EQ(Apostrofada("'"), 1);
  EXPECT_EQ(Apostrofada("aigua'"), 1);
  EXPECT_EQ(Apostrofada("aigua"), 0);
  EXPECT_EQ(Apostrofada(""), 0);
  EXPECT_EQ(Apostrofada(std::string_view("a\0'", 3)), 1);
}

}  // namespace
}  // namespace etiquem
