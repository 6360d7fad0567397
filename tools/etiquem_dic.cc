// etiquem-dic: makes and inspects the automaton files that etiquem reads.
//
//   etiquem-dic compile SOURCE -o FILE [--dic | --att] [--latin1 | --utf8] [-v]
//   etiquem-dic dump FILE
//   etiquem-dic info FILE
//
// This file only parses the command line, reads and writes files and reports
// errors; the compilers live in dic/. A compiled file is written to a
// temporary file beside FILE and renamed over it, so a failed run leaves
// nothing behind and never a half-written FILE.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "automaton/automat.h"
#include "dic/att.h"
#include "dic/automat_dic.h"
#include "dic/lexic.h"

namespace {

using etiquem::dic::Codificacio;

constexpr const char* kUs =
    "Usage: etiquem-dic compile SOURCE -o FILE [--dic | --att] "
    "[--latin1 | --utf8] [-v]\n"
    "       etiquem-dic dump FILE\n"
    "       etiquem-dic info FILE\n"
    "SOURCE is a full-form lexicon (surface<TAB>lexical[<TAB>kind]) or AT&T\n"
    "text (by extension .att, or --att); see tools/README.md.\n";

// Options of `compile`.
struct Ordre {
  std::string font;    // SOURCE
  std::string desti;   // FILE
  bool att = false;    // AT&T text rather than a lexicon
  bool forcat = false; // kind of source given by an option
  Codificacio codificacio = Codificacio::kDetecta;
  bool detalls = false;  // -v: counts on standard error
};

int Falla(const std::string& missatge) {
  std::fprintf(stderr, "%s\n", missatge.c_str());
  return 1;
}

bool LlegeixFitxer(const std::string& nom, std::string& bytes,
                   std::string& error) {
  FILE* f = std::fopen(nom.c_str(), "rb");
  if (!f) {
    error = "Error: cannot open " + nom + ": " + std::strerror(errno);
    return false;
  }
  bytes.clear();
  char buf[1 << 16];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
  const bool be = !std::ferror(f);
  std::fclose(f);
  if (!be) error = "Error: cannot read " + nom;
  return be;
}

// Writes `bytes` to `nom` through a temporary file in the same directory.
bool EscriuFitxer(const std::string& nom, const std::string& bytes,
                  std::string& error) {
  std::string temporal = nom + ".tmp.XXXXXX";
  int fd = mkstemp(temporal.data());
  if (fd < 0) {
    error = "Error: cannot create a file beside " + nom + ": " +
            std::strerror(errno);
    return false;
  }
  const mode_t mascara = umask(0);
  umask(mascara);
  fchmod(fd, 0666 & ~mascara);
  size_t fet = 0;
  while (fet < bytes.size()) {
    ssize_t w = write(fd, bytes.data() + fet, bytes.size() - fet);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;
    fet += size_t(w);
  }
  const int errno_escriptura = errno;
  const bool tancat = close(fd) == 0;
  if (fet < bytes.size() || !tancat) {
    error = "Error: cannot write " + nom + ": " +
            std::strerror(fet < bytes.size() ? errno_escriptura : errno);
    unlink(temporal.c_str());
    return false;
  }
  if (std::rename(temporal.c_str(), nom.c_str()) != 0) {
    error = "Error: cannot write " + nom + ": " + std::strerror(errno);
    unlink(temporal.c_str());
    return false;
  }
  return true;
}

bool AcabaEn(const std::string& s, const std::string& final) {
  return s.size() >= final.size() &&
         s.compare(s.size() - final.size(), final.size(), final) == 0;
}

bool LlegeixOrdre(int argc, char** argv, Ordre& o, std::string& error) {
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-o") {
      if (++i == argc) {
        error = "Error: -o needs a file name";
        return false;
      }
      o.desti = argv[i];
    } else if (a == "--att" || a == "--dic") {
      o.att = a == "--att";
      o.forcat = true;
    } else if (a == "--latin1") {
      o.codificacio = Codificacio::kLatin1;
    } else if (a == "--utf8") {
      o.codificacio = Codificacio::kUtf8;
    } else if (a == "-v") {
      o.detalls = true;
    } else if (a.size() > 1 && a[0] == '-') {
      error = "Error: unknown option " + a;
      return false;
    } else if (o.font.empty()) {
      o.font = a;
    } else {
      error = "Error: more than one source (" + o.font + ", " + a + ")";
      return false;
    }
  }
  if (o.font.empty() || o.desti.empty()) {
    error = "Error: compile needs a SOURCE and -o FILE";
    return false;
  }
  if (!o.forcat) o.att = AcabaEn(o.font, ".att");
  return true;
}

int Compila(int argc, char** argv) {
  Ordre o;
  std::string error, bytes;
  if (!LlegeixOrdre(argc, argv, o, error)) {
    std::fprintf(stderr, "%s\n%s", error.c_str(), kUs);
    return 2;
  }
  if (!LlegeixFitxer(o.font, bytes, error)) return Falla(error);
  etiquem::dic::AutomatDic a;
  etiquem::dic::EstadistiquesLexic est;
  std::vector<std::string> avisos;
  const bool be =
      o.att ? etiquem::dic::CompilaAtt(o.font, bytes, a, error, avisos)
            : etiquem::dic::CompilaLexic(o.font, bytes, o.codificacio, a,
                                         error, &est);
  if (!be) return Falla(error);
  for (const std::string& avis : avisos)
    std::fprintf(stderr, "Warning: %s: %s\n", o.font.c_str(), avis.c_str());
  const std::string fitxer = etiquem::dic::Serialitza(a);
  if (!EscriuFitxer(o.desti, fitxer, error)) return Falla(error);
  if (o.detalls) {
    if (!o.att)
      std::fprintf(stderr,
                   "%zu entries (%zu repeats dropped), %zu forms, %s; trie "
                   "%zu states; %zu forms padded (%zu moves), %zu order "
                   "branches\n",
                   est.entrades, est.repetides, est.formes,
                   est.codificacio == Codificacio::kUtf8 ? "UTF-8" : "Latin-1",
                   est.nodes_trie, est.formes_farcides, est.moviments_farcits,
                   est.branques_ordre);
    std::fprintf(stderr, "%zu states, %zu defines, %zu bytes\n",
                 a.estats.size(), a.defines.size(), fitxer.size());
  }
  return 0;
}

// Loads FILE as etiquem does.
bool Carrega(const char* nom, etiquem::Transductor& t, std::string& error) {
  int estat = 0;
  etiquem::Inicio(t);
  if (etiquem::Genauto(t, nom, error, estat)) return true;
  while (!error.empty() && error.back() == '\n') error.pop_back();
  return false;
}

int Bolca(const char* nom) {
  etiquem::Transductor t;
  std::string error, text;
  if (!Carrega(nom, t, error)) return Falla(error);
  if (!etiquem::dic::BolcaAtt(t, text, error)) return Falla(error);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : Falla("Error: cannot write the dump");
}

int Info(const char* nom) {
  etiquem::Transductor t;
  std::string error, bytes;
  if (!LlegeixFitxer(nom, bytes, error)) return Falla(error);
  if (!Carrega(nom, t, error)) return Falla(error);
  const std::string text = etiquem::dic::Informa(t, bytes.size());
  std::fwrite(text.data(), 1, text.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : Falla("Error: cannot write the counts");
}

}  // namespace

int main(int argc, char** argv) {
  const std::string ordre = argc > 1 ? argv[1] : "";
  if (ordre == "-h" || ordre == "--help") {
    std::fputs(kUs, stdout);
    return 0;
  }
  if (ordre == "compile") return Compila(argc, argv);
  if ((ordre == "dump" || ordre == "info") && argc == 3)
    return ordre == "dump" ? Bolca(argv[2]) : Info(argv[2]);
  std::fprintf(stderr, "Error: %s\n%s",
               ordre.empty() ? "no command" : ("bad command line for '" + ordre + "'").c_str(),
               kUs);
  return 2;
}
