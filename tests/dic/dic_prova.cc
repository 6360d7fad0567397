// Helpers for the dictionary tool tests.

#include "dic_prova.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "dic/lexic.h"

namespace etiquem::dic::prova {
namespace {

// A live path: the state it stands in and what it has written.
struct Viu {
  int32_t estat;
  std::vector<int32_t> sortida;
};

void Segueix(const Transductor& t, const Viu& v, int32_t c,
             std::vector<Viu>& nous) {
  const Nodo& n = t.automat[size_t(v.estat)];
  int g = BuscBin(n.trans, c, n.ntrans);
  if (g < 0) return;
  for (int32_t k = 0; k < n.trans[g].nstrans; ++k) {
    const Strans& m = n.trans[g].strans[k];
    Viu nou{m.des, v.sortida};
    if (m.lm != 0) nou.sortida.push_back(m.lm);
    nous.push_back(std::move(nou));
  }
}

}  // namespace

std::vector<Lectura> Lectures(const Transductor& t, const std::string& forma,
                              size_t* vius) {
  std::vector<Viu> llista{{0, {}}};
  if (vius) *vius = 0;
  for (char ch : forma) {
    const int32_t c = static_cast<unsigned char>(ch);
    std::vector<Viu> nous;
    for (const Viu& v : llista) {
      Segueix(t, v, c, nous);
      if (Mayus(c)) Segueix(t, v, c + 32, nous);
    }
    // Closure: new paths join the tail of the list being walked.
    for (size_t i = 0; i < nous.size(); ++i) {
      const Nodo& n = t.automat[size_t(nous[i].estat)];
      if (n.neps <= 0) continue;
      for (int32_t k = 0; k < n.eps[0].nstrans; ++k) {
        const Strans& m = n.eps[0].strans[k];
        Viu nou{m.des, nous[i].sortida};
        if (m.lm != 0 && m.lm != '0') nou.sortida.push_back(m.lm);
        nous.push_back(std::move(nou));
      }
    }
    llista = std::move(nous);
    if (vius && llista.size() > *vius) *vius = llista.size();
  }
  std::vector<Lectura> lectures;
  if (forma.empty()) return lectures;
  for (const Viu& v : llista) {
    const Nodo& n = t.automat[size_t(v.estat)];
    for (int32_t g = 0; g < n.ntrans; ++g) {
      const int lo = n.trans[g].lo;
      if (lo == FIN_TRADUC || lo == FIN_PARCIAL || lo == FIN_DESCON)
        lectures.push_back({lo, v.sortida});
    }
  }
  return lectures;
}

std::string Text(const Transductor& t, const std::vector<int32_t>& sortida) {
  std::string s;
  for (int32_t x : sortida) {
    if (x >= PRIMER_DEFINE) {
      const std::string* nom = CorrespDef(t, x);
      s += "&" + (nom ? *nom : std::string("?")) + ";";
    } else {
      s.push_back(static_cast<char>(x));
    }
  }
  return s;
}

std::string Completes(const Transductor& t, const std::string& forma) {
  std::string s;
  for (const Lectura& l : Lectures(t, forma))
    if (l.marca == FIN_TRADUC) s += Text(t, l.sortida) + "/";
  return s;
}

Transductor Carrega(const std::string& bytes) {
  Transductor t;
  std::string error;
  EXPECT_TRUE(GenautoDeMemoria(t, "prova.bin",
                               reinterpret_cast<const uint8_t*>(bytes.data()),
                               bytes.size(), error))
      << error;
  return t;
}

Transductor CompilaText(const std::string& lexic) {
  AutomatDic a;
  std::string error;
  EXPECT_TRUE(CompilaLexic("prova.dic", lexic, Codificacio::kDetecta, a, error))
      << error;
  return Carrega(Serialitza(a));
}

std::string LlegeixFitxer(const std::string& nom) {
  std::ifstream f(nom, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

void EscriuFitxer(const std::string& nom, const std::string& bytes) {
  std::ofstream f(nom, std::ios::binary | std::ios::trunc);
  f << bytes;
}

bool Existeix(const std::string& nom) {
  struct stat st;
  return stat(nom.c_str(), &st) == 0;
}

std::string DirectoriNou(const std::string& nom) {
  std::string d = ::testing::TempDir() + "etiquem_dic_" + nom + "_" +
                  std::to_string(getpid());
  std::system(("rm -rf " + Cometes(d)).c_str());
  mkdir(d.c_str(), 0755);
  return d;
}

std::string Cometes(const std::string& s) {
  std::string r = "'";
  for (char c : s) r += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return r + "'";
}

Resultat Executa(const std::string& ordre, const std::string& entrada) {
  const std::string d = ::testing::TempDir() + "etiquem_dic_exec_" +
                        std::to_string(getpid());
  EscriuFitxer(d + ".in", entrada);
  const int s = std::system((ordre + " < " + Cometes(d + ".in") + " > " +
                             Cometes(d + ".out") + " 2> " +
                             Cometes(d + ".err"))
                                .c_str());
  Resultat r;
  r.estat = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
  r.sortida = LlegeixFitxer(d + ".out");
  r.errors = LlegeixFitxer(d + ".err");
  std::remove((d + ".in").c_str());
  std::remove((d + ".out").c_str());
  std::remove((d + ".err").c_str());
  return r;
}

bool Majuscula(int c) { return Mayus(c) == 1; }

int AMajuscula(int c) {
  if ((c >= 'a' && c <= 'z') || (c >= 224 && c <= 254 && c != 247))
    return c - 32;
  return c;
}

}  // namespace etiquem::dic::prova
