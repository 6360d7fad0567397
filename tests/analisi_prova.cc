// A whole analysis run inside the test process; see analisi_prova.h.

#include "analisi_prova.h"

#include <sys/mman.h>
#include <unistd.h>

#include <memory>
#include <random>

#include <gtest/gtest.h>

#include "driver/analisis.h"
#include "driver/trams.h"
#include "input/escaner.h"
#include "input/lector.h"
#include "output/sortida.h"

namespace etiquem::prova {

namespace {

int FitxerMemoria(const std::string& contingut) {
  const int fd = memfd_create("etiquem-prova", 0);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, contingut.data(), contingut.size()),
            ssize_t(contingut.size()));
  lseek(fd, 0, SEEK_SET);
  return fd;
}

std::string LlegeixITanca(int fd) {
  std::string r;
  lseek(fd, 0, SEEK_SET);
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) r.append(buf, size_t(n));
  close(fd);
  return r;
}

}  // namespace

Sortides AnalitzaEnProces(const Transductor& t, const std::string& text,
                          int s, int a, int m, bool memoria, size_t max_nodes,
                          size_t bloc) {
  Sortida sortida;
  sortida.fd = FitxerMemoria("");
  Sortida desc;
  desc.fd = FitxerMemoria("");
  const int entrada = FitxerMemoria(text);
  auto e = std::make_unique<Escaner>();
  IniciaEscaner(*e, entrada, bloc);
  e->abans_de_llegir = &sortida;
  auto l = std::make_unique<Lector>();
  IniciaLector(*l, e.get());
  auto an = std::make_unique<Analisi>();
  an->memoria.max_nodes = max_nodes;
  an->memoria.max_textos = max_nodes * 8;
  IniciaAnalisi(*an, &t, l.get(), &sortida, &desc);
  an->amb_memoria = memoria;
  Analisis(*an, s, 1, a, m);
  Buida(sortida);
  Buida(desc);
  close(entrada);
  return {LlegeixITanca(sortida.fd), LlegeixITanca(desc.fd)};
}

// A random dictionary over a few letters: consuming moves go forward (or
// loop on one state with a single move), so paths stay few; epsilon moves
// go forward only; markers of the three kinds; two tags.
std::string DiccionariAtzar(std::mt19937& g) {
  const std::string lletres = "abAB' -";
  const int n = 6 + int(g() % 10);
  std::string d = "alfabet 'ABab-\ndefine n 258\ndefine v 259\n";
  for (int e = 0; e < n; ++e) {
    d += "estat " + std::to_string(e) + "\n";
    if (g() % 6 == 0) d += "  fi\n";
    if (g() % 9 == 0) d += "  parcial\n";
    if (g() % 9 == 0) d += "  descon\n";
    for (char c : lletres) {
      if (g() % 3 != 0) continue;
      int moviments = 1 + int(g() % 2);
      for (int i = 0; i < moviments; ++i) {
        int des = e + 1 + int(g() % 3);
        if (des >= n) des = e;  // a loop on this state
        if (des == e && i > 0) continue;
        std::string lo = c == ' ' ? "\\s" : std::string(1, c);
        const char* lm = g() % 4 == 0 ? "-" : (g() % 2 ? "x" : "\\xe9");
        d += "  " + lo + " " + lm + " " + std::to_string(des) + "\n";
      }
    }
    if (e > 0 && g() % 4 == 0 && e + 1 < n) {
      d += "  eps " + std::string(g() % 2 ? "&n" : "&v") + " " +
           std::to_string(e + 1) + "\n";
    }
  }
  return d;
}

std::string TextAtzar(std::mt19937& g, size_t llarg) {
  const std::string peces[] = {"a",  "b",  "A",   "B",  "'",   " ",
                               "-",  "\n", "ab",  "ba", "aab", "Ab ",
                               "\x01", std::string(1, '\0'), "\xff",
                               "<![CDATA[x]]>", "<![CDATA[", "]]>"};
  std::string t;
  while (t.size() < llarg) t += peces[g() % (sizeof peces / sizeof *peces)];
  return t;
}

Sortides AnalitzaEnTramsProva(const Transductor& t, const std::string& text,
                              int s, int a, int m, const ParametresTrams& p,
                              const std::string& abans) {
  Sortida sortida;
  sortida.fd = FitxerMemoria("");
  Sortida desc;
  desc.fd = FitxerMemoria("");
  const int entrada = FitxerMemoria(abans + text);
  lseek(entrada, off_t(abans.size()), SEEK_SET);
  EXPECT_TRUE(AnalitzaEnTrams(&t, entrada, int64_t(abans.size()),
                              text.size(), OpcionsAnalisi{s, 1, a, m}, p,
                              sortida, &desc));
  EXPECT_EQ(lseek(entrada, 0, SEEK_CUR), off_t(abans.size() + text.size()))
      << "the input is left read to its end";
  Buida(sortida);
  Buida(desc);
  close(entrada);
  return {LlegeixITanca(sortida.fd), LlegeixITanca(desc.fd)};
}

void CarregaOFalla(Transductor& t, const std::string& bytes) {
  std::string error;
  ASSERT_TRUE(GenautoDeMemoria(
      t, "prova", reinterpret_cast<const uint8_t*>(bytes.data()),
      bytes.size(), error))
      << error;
}

}  // namespace etiquem::prova
