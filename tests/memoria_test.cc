// The memory of finished attempts must never change what is written: the
// same runs, with and without it, on generated dictionaries and texts (case,
// superblanks, NUL and bytes 1 and 255, every option) give the same bytes on
// standard output and in the unknown-words file. Also checks that the memory
// stays within its bounds by emptying itself.

#include <random>
#include <string>

#include <gtest/gtest.h>

#include "automat_prova.h"
#include "analisi_prova.h"
#include "driver/memoria.h"

namespace etiquem {
namespace {

using prova::AnalitzaEnProces;
using prova::CarregaOFalla;
using prova::DiccionariAtzar;
using prova::TextAtzar;
using prova::Sortides;

TEST(MemoriaIntents, NoCanviaMaiElQueEsEscriu) {
  std::mt19937 g(20261207);
  int amb_lectures = 0, amb_peces = 0, amb_desconegudes = 0;
  for (int cas = 0; cas < 120; ++cas) {
    const std::string desc = DiccionariAtzar(g);
    Transductor t;
    CarregaOFalla(t, prova::Bytes(desc));
    const std::string text = TextAtzar(g, 200 + g() % 2000);
    const int s = int(g() % 2), a = int(g() % 2), m = int(g() % 2);
    // Small read blocks: superblank openers straddle reads.
    Sortides sense = AnalitzaEnProces(t, text, s, a, m, false, 1 << 17, 64);
    Sortides amb = AnalitzaEnProces(t, text, s, a, m, true, 1 << 17, 64);
    ASSERT_EQ(sense.text, amb.text) << desc;
    ASSERT_EQ(sense.desconegudes, amb.desconegudes) << desc;
    // A memory so small that it empties itself all the time.
    Sortides petita = AnalitzaEnProces(t, text, s, a, m, true, 8, 64);
    ASSERT_EQ(sense.text, petita.text) << desc;
    amb_lectures += sense.text.find('/') != std::string::npos;
    amb_peces += sense.text.find("<e>") != std::string::npos;
    amb_desconegudes += !sense.desconegudes.empty();
  }
  // The generated cases do exercise every kind of reading.
  EXPECT_GT(amb_lectures, 30);
  EXPECT_GT(amb_peces, 5);
  EXPECT_GT(amb_desconegudes, 5);
}

TEST(MemoriaIntents, UnBlancIUnSuperblancNoSConfonen) {
  // Both step as a blank; only the blank writes itself.
  Transductor t;
  CarregaOFalla(t, prova::Bytes("alfabet a\nestat 0\n  a a 1\nestat 1\n  fi\n"));
  const std::string text = "a a<![CDATA[<p>]]>a a<![CDATA[<q>]]>a";
  EXPECT_EQ(AnalitzaEnProces(t, text, 0, 0, 0, true).text,
            "a/ a/<![CDATA[<p>]]>a/ a/<![CDATA[<q>]]>a/");
}

TEST(MemoriaIntents, EsBuidaQuanSOmple) {
  MemoriaIntents m;
  m.max_nodes = 16;
  m.max_textos = 64;
  BuidaMemoria(m);
  DesaIntent(m, "abcdefgh ", 8, "abcdefgh/", LECTURA);
  EXPECT_EQ(m.nodes.size(), 10u);
  DesaIntent(m, "ijklmnopq ", 9, "ijklmnopq/", LECTURA);
  // The second path did not fit beside the first, which was not walked
  // again: it is gone.
  EXPECT_EQ(BuscaMemoria(m, 0, 'a'), 0u);
  EXPECT_NE(BuscaMemoria(m, 0, 'i'), 0u);
  EXPECT_LE(m.nodes.size(), m.max_nodes);
}

TEST(MemoriaIntents, QuanSOmpleConservaElQueSHaFetServir) {
  MemoriaIntents m;
  m.max_nodes = 40;
  m.max_textos = 400;
  BuidaMemoria(m);
  DesaIntent(m, "casa ", 4, "casa/", LECTURA);
  DesaIntent(m, "gos ", 3, "gos/", LECTURA);
  // When full, only paths walked again since they were stored are kept:
  // "casa " is walked again, "gos " is not.
  for (int i = 0; i < 4; ++i)
    DesaIntent(m, std::string(7, char('k' + i)), 7, "xxxxxxx/", LECTURA);
  uint32_t n = 0;
  for (char c : std::string("casa "))
    n = BuscaMemoria(m, n, uint8_t(c)) & ~kTancat;
  ASSERT_NE(n, 0u);
  for (int i = 0; i < 3; ++i)
    DesaIntent(m, std::string(7, char('p' + i)), 7, "yyyyyyy/", LECTURA);
  n = 0;
  for (char c : std::string("casa "))
    n = BuscaMemoria(m, n, uint8_t(c)) & ~kTancat;
  ASSERT_NE(n, 0u);
  EXPECT_EQ(m.nodes[n].tipus, TANCAT);
  EXPECT_EQ(m.textos.substr(m.nodes[n].text, m.nodes[n].mida), "casa/");
  EXPECT_EQ(BuscaMemoria(m, 0, 'g'), 0u);
  EXPECT_LE(m.nodes.size(), m.max_nodes);
}

}  // namespace
}  // namespace etiquem
