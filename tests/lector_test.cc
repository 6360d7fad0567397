// The character ring and reader: positions 1 to 256 and indices 0 to 255,
// the wrap from 256 to 1, the empty position after the newest character,
// re-reading, the end of input, bytes 0, 1 and 255 as ordinary characters,
// superblank markers and the queue of waiting superblanks, and EmiteSuper.
//
// The reader is driven by a real scanner over a temporary file.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "input/escaner.h"
#include "input/lector.h"
#include "output/sortida.h"

namespace etiquem {
namespace {

// A reader over the bytes of `entrada`.
struct Banc {
  int fd = -1;
  std::unique_ptr<Escaner> e = std::make_unique<Escaner>();
  std::unique_ptr<Lector> l = std::make_unique<Lector>();

  explicit Banc(const std::string& entrada) {
    FILE* f = tmpfile();
    fwrite(entrada.data(), 1, entrada.size(), f);
    fflush(f);
    fd = dup(fileno(f));
    fclose(f);
    lseek(fd, 0, SEEK_SET);
    IniciaEscaner(*e, fd);
    IniciaLector(*l, e.get());
  }
  ~Banc() { close(fd); }

  // DameCaracter, checking the index it reports.
  int Dame(int index_esperat) {
    int k = -99;
    int c = DameCaracter(*l, k);
    EXPECT_EQ(k, index_esperat);
    return c;
  }
  const PosBuffer& Pos(int posicio) const { return l->buffer[posicio - 1]; }
  // Points the reader back at `posicio`, as the analysis loop does.
  void Rellegeix(int posicio) {
    l->acceso = posicio;
    l->leer = 0;
  }
};

std::string Lletres(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += char('a' + i % 26);
  return s;
}

// Marks a position as holding readings, so that clearing can be seen.
void AmbLectures(PosBuffer& p) {
  p.estat = 1;
  p.anal.hi_es = true;
  p.desc.hi_es = true;
}

void EsperaBuida(const PosBuffer& p) {
  EXPECT_EQ(p.tipus, BUIDA);
  EXPECT_EQ(p.car, 0);
  EXPECT_EQ(p.estat, 0);
  EXPECT_FALSE(p.anal.hi_es);
  EXPECT_FALSE(p.desc.hi_es);
}

TEST(Anell, LecturaFrescaDesaIBuidaLaPosicioSeguent) {
  Banc b("xy");
  AmbLectures(b.l->buffer[0]);
  b.l->buffer[1].tipus = CARACTER;
  b.l->buffer[1].car = 'q';
  AmbLectures(b.l->buffer[1]);

  EXPECT_EQ(b.Dame(0), 'x');
  EXPECT_EQ(b.Pos(1).tipus, CARACTER);
  EXPECT_EQ(b.Pos(1).car, 'x');
  EXPECT_EQ(b.Pos(1).estat, 0);
  EXPECT_FALSE(b.Pos(1).anal.hi_es);
  EXPECT_FALSE(b.Pos(1).desc.hi_es);
  EsperaBuida(b.Pos(2));
  EXPECT_EQ(b.l->indice, 2);
  EXPECT_EQ(b.l->leer, 1);
}

TEST(Anell, VoltaDe256A1) {
  Banc b(Lletres(300));
  for (int i = 0; i < 255; ++i) ASSERT_EQ(b.Dame(i), Lletres(300)[size_t(i)]);
  EXPECT_EQ(b.l->indice, 256);
  AmbLectures(b.l->buffer[0]);
  EXPECT_EQ(b.Dame(255), Lletres(256)[255]);  // position 256, index 255
  EXPECT_EQ(b.l->indice, 1);
  EsperaBuida(b.Pos(1));  // the oldest character is gone
  AmbLectures(b.l->buffer[1]);
  EXPECT_EQ(b.Dame(0), Lletres(257)[256]);  // position 1, index 0
  EXPECT_EQ(b.l->indice, 2);
  EsperaBuida(b.Pos(2));
  EXPECT_EQ(b.Pos(256).car, Lletres(256)[255]);
}

TEST(Anell, RelecturaDespresDeLaVolta) {
  const std::string text = Lletres(300);
  Banc b(text);
  for (int i = 0; i < 260; ++i) b.Dame(i % 256);
  // Characters 251 to 260 sit at positions 251..256, then 1..4.
  b.Rellegeix(251);
  for (int i = 250; i < 260; ++i) EXPECT_EQ(b.Dame(i % 256), text[size_t(i)]);
  EXPECT_EQ(b.l->acceso, 5);
  EXPECT_EQ(b.l->leer, 0);
  // Position 5 is the empty one after the newest: back to the scanner, which
  // stores the next character there.
  EXPECT_EQ(b.Dame(4), text[260]);
  EXPECT_EQ(b.l->leer, 1);
  EXPECT_EQ(b.l->indice, 6);
  EXPECT_EQ(b.l->acceso, 5);
  EXPECT_EQ(b.Dame(5), text[261]);
}

TEST(Anell, RelecturaDesDeLaPosicio256) {
  Banc b(Lletres(258));
  for (int i = 0; i < 257; ++i) b.Dame(i % 256);
  b.Rellegeix(256);
  EXPECT_EQ(b.Dame(255), Lletres(256)[255]);
  EXPECT_EQ(b.l->acceso, 1);
  EXPECT_EQ(b.Dame(0), Lletres(257)[256]);
  EXPECT_EQ(b.Dame(1), Lletres(258)[257]);  // fresh, at position 2
}

TEST(Anell, Caben255CaractersSeguits) {
  const std::string text = Lletres(255) + "!";
  Banc b(text);
  for (int i = 0; i < 255; ++i) b.Dame(i);
  b.Rellegeix(1);
  for (int i = 0; i < 255; ++i) ASSERT_EQ(b.Dame(i), text[size_t(i)]);
  EXPECT_EQ(b.Dame(255), '!');
  EXPECT_EQ(b.l->leer, 1);
}

TEST(Anell, LaRelecturaNoCanviaLAnell) {
  Banc b("abc");
  for (int i = 0; i < 3; ++i) b.Dame(i);
  AmbLectures(b.l->buffer[1]);
  b.Rellegeix(1);
  b.Dame(0);
  b.Dame(1);
  EXPECT_EQ(b.Pos(2).estat, 1);
  EXPECT_TRUE(b.Pos(2).anal.hi_es);
  EXPECT_EQ(b.l->indice, 4);
}

TEST(FinalDEntrada, EsDesaIEsRellegeixCom1Negatiu) {
  Banc b("ab");
  EXPECT_EQ(b.Dame(0), 'a');
  EXPECT_EQ(b.Dame(1), 'b');
  EXPECT_EQ(b.Dame(2), FI_ENTRADA);
  EXPECT_EQ(b.Pos(3).tipus, FINAL);
  b.Rellegeix(2);
  EXPECT_EQ(b.Dame(1), 'b');
  EXPECT_EQ(b.Dame(2), FI_ENTRADA);  // never 255
  int k;
  b.Rellegeix(3);
  EXPECT_EQ(LeerCaracter(*b.l, k), FI_ENTRADA);
  EXPECT_EQ(k, 2);
  // The empty position after it: the scanner again, which again reports the
  // end.
  EXPECT_EQ(b.Dame(3), FI_ENTRADA);
  EXPECT_EQ(b.Pos(4).tipus, FINAL);
  EXPECT_EQ(b.Dame(4), FI_ENTRADA);
}

TEST(FinalDEntrada, UnByte255EsUnCaracter) {
  Banc b("\xff");
  EXPECT_EQ(b.Dame(0), 255);
  EXPECT_EQ(b.Dame(1), FI_ENTRADA);
  b.Rellegeix(1);
  EXPECT_EQ(b.Dame(0), 255);
  EXPECT_EQ(b.Dame(1), FI_ENTRADA);
}

TEST(BytesEspecials, ZeroUI255EsRellegeixenComAEllsMateixos) {
  const std::string text("\x00\x01\xff\x00z", 5);
  Banc b(text);
  int k;
  EXPECT_EQ(LeerCaracter(*b.l, k), 0);
  EXPECT_EQ(LeerCaracter(*b.l, k), 1);  // not a blank
  EXPECT_EQ(LeerCaracter(*b.l, k), 255);
  EXPECT_EQ(LeerCaracter(*b.l, k), 0);
  EXPECT_EQ(LeerCaracter(*b.l, k), 'z');
  EXPECT_TRUE(b.l->superblancs.empty());
  for (int p = 1; p <= 5; ++p) EXPECT_EQ(b.Pos(p).tipus, CARACTER) << p;
  // A stored 0 does not stop the re-read: everything after it comes back.
  b.Rellegeix(1);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(ObtenerCaracter(*b.l, k), uint8_t(text[size_t(i)])) << i;
    EXPECT_EQ(k, i);
  }
  EXPECT_EQ(b.l->leer, 0);
  EXPECT_EQ(LeerCaracter(*b.l, k), FI_ENTRADA);
  EXPECT_EQ(b.l->leer, 1);
  EXPECT_TRUE(b.l->superblancs.empty());
}

TEST(Superblancs, OcupaUnaPosicioIEsLlegeixComUnBlanc) {
  Banc b("a<![CDATA[x\ny]]>b");
  int k;
  EXPECT_EQ(LeerCaracter(*b.l, k), 'a');
  EXPECT_EQ(LeerCaracter(*b.l, k), ' ');
  EXPECT_EQ(k, 1);
  EXPECT_EQ(LeerCaracter(*b.l, k), 'b');
  EXPECT_EQ(k, 2);
  EXPECT_EQ(b.Pos(2).tipus, SUPERBLANC);
  ASSERT_EQ(b.l->superblancs.size(), 1u);
  EXPECT_EQ(b.l->superblancs[0].text, "<![CDATA[x\ny]]>");
  EXPECT_EQ(b.l->superblancs[0].ordre, 2u);

  b.Rellegeix(2);
  EXPECT_EQ(ObtenerCaracter(*b.l, k), ' ');
  EXPECT_EQ(k, 1);
  b.Rellegeix(2);
  EXPECT_EQ(DameCaracter(*b.l, k), CODI_SUPERBLANC);
  EXPECT_EQ(b.l->superblancs.size(), 1u) << "re-reading queues nothing";
}

TEST(Superblancs, DosPendentsEnOrdre) {
  Banc b("<![CDATA[1]]>x<![CDATA[2]]>");
  EXPECT_EQ(b.Dame(0), CODI_SUPERBLANC);
  EXPECT_EQ(b.Dame(1), 'x');
  EXPECT_EQ(b.Dame(2), CODI_SUPERBLANC);
  EXPECT_EQ(b.Dame(3), FI_ENTRADA);
  ASSERT_EQ(b.l->superblancs.size(), 2u);
  EXPECT_EQ(b.l->superblancs[0].text, "<![CDATA[1]]>");
  EXPECT_EQ(b.l->superblancs[0].ordre, 1u);
  EXPECT_EQ(b.l->superblancs[1].text, "<![CDATA[2]]>");
  EXPECT_EQ(b.l->superblancs[1].ordre, 15u) << "numbered by input byte";

  Sortida s;
  s.fd = -1;  // nothing is flushed for these texts
  EmiteSuper(*b.l, s);
  EXPECT_EQ(s.buf, "<![CDATA[1]]>");
  EmiteSuper(*b.l, s);
  EXPECT_EQ(s.buf, "<![CDATA[1]]><![CDATA[2]]>");
  EXPECT_TRUE(b.l->superblancs.empty());
  EmiteSuper(*b.l, s);  // nothing waiting: nothing written
  EXPECT_EQ(s.buf, "<![CDATA[1]]><![CDATA[2]]>");
}

TEST(Superblancs, TextAmbBytesNulsSencer) {
  const std::string text("<![CDATA[\0a\0]]>", 15);
  Banc b(text);
  EXPECT_EQ(b.Dame(0), CODI_SUPERBLANC);
  ASSERT_EQ(b.l->superblancs.size(), 1u);
  EXPECT_EQ(b.l->superblancs[0].text, text);
  Sortida s;
  s.fd = -1;
  EmiteSuper(*b.l, s);
  EXPECT_EQ(s.buf, text);
}

// The bytes that reached the read end of a pipe so far.
std::string Arribat(int fd) {
  std::string r;
  char b[256];
  ssize_t n;
  while ((n = read(fd, b, sizeof b)) > 0) r.append(b, size_t(n));
  return r;
}

TEST(EmiteSuper, BuidaDeSeguidaAmbElPuntEntreCDATA) {
  Banc b("<![CDATA[a]]><![CDATA[.]]><![CDATA[b]]><![CDATA[x<![CDATA[.]]>");
  for (int i = 0; i < 4; ++i) b.Dame(i);
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  fcntl(p[0], F_SETFL, O_NONBLOCK);
  Sortida s;
  s.fd = p[1];
  Escriu(s, "abans ");
  EmiteSuper(*b.l, s);
  EXPECT_EQ(Arribat(p[0]), "") << "an ordinary superblank waits";
  EmiteSuper(*b.l, s);
  EXPECT_EQ(Arribat(p[0]), "abans <![CDATA[a]]><![CDATA[.]]>");
  EXPECT_EQ(s.buf, "");
  EmiteSuper(*b.l, s);
  EXPECT_EQ(Arribat(p[0]), "");
  // Anywhere in the text counts.
  EmiteSuper(*b.l, s);
  EXPECT_EQ(Arribat(p[0]), "<![CDATA[b]]><![CDATA[x<![CDATA[.]]>");
  close(p[0]);
  close(p[1]);
}

TEST(Anell, IniciaLectorHoBuidaTot) {
  Banc b("<![CDATA[s]]>abc");
  for (int i = 0; i < 4; ++i) b.Dame(i);
  AmbLectures(b.l->buffer[2]);
  IniciaLector(*b.l, b.e.get());
  for (int p = 1; p <= 256; ++p) EsperaBuida(b.Pos(p));
  EXPECT_EQ(b.l->indice, 1);
  EXPECT_EQ(b.l->leer, 1);
  EXPECT_TRUE(b.l->superblancs.empty());
}

}  // namespace
}  // namespace etiquem
