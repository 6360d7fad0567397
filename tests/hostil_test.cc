// Hostile input, as whole runs of the built etiquem: inputs and automaton
// files that a filter at the head of a pipeline may meet, and outputs that
// fail under it. Each run must end with the exact output, or with a one-line
// message beginning "Error" and a non-zero status; never a crash, a hang or
// the machine's memory.
//
// Memory is measured as the peak resident size of the child (getrusage via
// wait4). The longest stream is 64 MB by default (24 MB under the
// sanitizers); ETIQUEM_LLARG=1 makes it 1 GB (about a minute in a release
// build).

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "automat_prova.h"
#include "automaton/automat.h"
#include "proces.h"

namespace etiquem {
namespace {

using prova::Resultat;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAmbSanejador = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAmbSanejador = true;
#else
constexpr bool kAmbSanejador = false;
#endif
#else
constexpr bool kAmbSanejador = false;
#endif

// casa and cosa, each with the tags n and f; every other word is unknown.
constexpr char kCasa[] = R"(alfabet abcosxyz
define n 258
define f 259
estat 0
  c c 1
estat 1
  a a 2
  o o 2
estat 2
  s s 3
estat 3
  a a 4
estat 4
  eps &n 5
estat 5
  eps &f 6
estat 6
  fi
)";

std::string Automat(const std::string& descripcio, const std::string& nom) {
  return prova::EscriuFitxer(prova::Bytes(descripcio), nom);
}

std::string Repeteix(const std::string& s, size_t vegades) {
  std::string r;
  r.reserve(s.size() * vegades);
  for (size_t i = 0; i < vegades; ++i) r += s;
  return r;
}

// A message as users see it: one line, beginning "Error".
void EsUnMissatge(const std::string& errors) {
  EXPECT_EQ(errors.rfind("Error", 0), 0u) << errors;
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors.find('\n'), errors.size() - 1) << errors;
}

// Where two long texts first differ, or npos when they are equal.
size_t PrimeraDiferencia(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return i;
  return a.size() == b.size() ? std::string::npos : n;
}

// ---------------------------------------------------------------------------
// A run with a generated stream on standard input, checked as it comes out,
// and the child's peak memory.

struct Flux {
  std::vector<std::string> args;
  // Standard input: `total` bytes of `entrada` repeated (cut at `total`), or
  // closed before the program starts.
  std::string entrada;
  uint64_t total = 0;
  bool entrada_tancada = false;
  // Standard output is compared with `sortida` repeated. After `tanca_als`
  // bytes (when set) the reader closes its end and reads no more.
  std::string sortida;
  int64_t tanca_als = -1;
  int segons = 300;
};

struct ResultatFlux {
  int estat = -1;   // exit status, or -1 when ended by a signal
  int senyal = 0;
  bool temps_esgotat = false;
  std::string errors;
  uint64_t rebuts = 0;                   // bytes read from standard output
  uint64_t diferencia = UINT64_MAX;      // first byte that differs
  long pic_kb = 0;                       // peak resident size
};

ResultatFlux Corre(const Flux& f) {
  signal(SIGPIPE, SIG_IGN);
  int in[2] = {-1, -1}, out[2], err[2];
  if (!f.entrada_tancada && pipe2(in, O_CLOEXEC) != 0) std::abort();
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) std::abort();
  std::vector<char*> argv;
  for (const std::string& a : f.args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid < 0) std::abort();
  if (pid == 0) {
    signal(SIGPIPE, SIG_DFL);
    if (f.entrada_tancada)
      close(0);
    else
      dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int fd_in = in[1], fd_out = out[0], fd_err = err[0];
  if (in[0] >= 0) close(in[0]);
  close(out[1]);
  close(err[1]);
  if (f.tanca_als == 0) {
    close(fd_out);
    fd_out = -1;
  }

  // The input block: the pattern repeated past 64 KB, written from the
  // offset of the next byte in the pattern.
  std::string bloc;
  if (!f.entrada.empty())
    while (bloc.size() < (1 << 16) + f.entrada.size()) bloc += f.entrada;
  if (fd_in >= 0) {
    fcntl(fd_in, F_SETFL, fcntl(fd_in, F_GETFL) | O_NONBLOCK);
    if (f.total == 0) {
      close(fd_in);
      fd_in = -1;
    }
  }
  ResultatFlux r;
  uint64_t enviat = 0;
  const auto limit =
      std::chrono::steady_clock::now() + std::chrono::seconds(f.segons);
  std::vector<char> lectura(1 << 16);
  while (fd_in >= 0 || fd_out >= 0 || fd_err >= 0) {
    pollfd p[3];
    int n = 0;
    if (fd_in >= 0) p[n++] = {fd_in, POLLOUT, 0};
    if (fd_out >= 0) p[n++] = {fd_out, POLLIN, 0};
    if (fd_err >= 0) p[n++] = {fd_err, POLLIN, 0};
    const auto resta = std::chrono::duration_cast<std::chrono::milliseconds>(
                           limit - std::chrono::steady_clock::now())
                           .count();
    if (resta <= 0) {
      kill(pid, SIGKILL);
      r.temps_esgotat = true;
      break;
    }
    if (poll(p, nfds_t(n), int(resta)) < 0) continue;
    for (int i = 0; i < n; ++i) {
      if (p[i].revents == 0) continue;
      const int fd = p[i].fd;
      if (fd == fd_in) {
        const size_t desde = size_t(enviat % f.entrada.size());
        const size_t n_bloc =
            size_t(std::min<uint64_t>(1 << 16, f.total - enviat));
        const ssize_t w = write(fd, bloc.data() + desde, n_bloc);
        if (w > 0) enviat += uint64_t(w);
        if ((w < 0 && errno != EAGAIN && errno != EINTR) || enviat == f.total) {
          close(fd_in);
          fd_in = -1;
        }
        continue;
      }
      const ssize_t l = read(fd, lectura.data(), lectura.size());
      if (l < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (l <= 0) {
        close(fd);
        (fd == fd_out ? fd_out : fd_err) = -1;
        continue;
      }
      if (fd == fd_err) {
        r.errors.append(lectura.data(), size_t(l));
        continue;
      }
      for (ssize_t j = 0; j < l; ++j) {
        const uint64_t pos = r.rebuts + uint64_t(j);
        if (r.diferencia == UINT64_MAX &&
            (f.sortida.empty() ||
             lectura[size_t(j)] != f.sortida[pos % f.sortida.size()]))
          r.diferencia = pos;
      }
      r.rebuts += uint64_t(l);
      if (f.tanca_als >= 0 && r.rebuts >= uint64_t(f.tanca_als)) {
        close(fd_out);
        fd_out = -1;
      }
    }
  }
  for (int fd : {fd_in, fd_out, fd_err})
    if (fd >= 0) close(fd);
  int st = 0;
  rusage us{};
  while (wait4(pid, &st, 0, &us) < 0 && errno == EINTR) {
  }
  r.pic_kb = us.ru_maxrss;
  if (WIFEXITED(st)) r.estat = WEXITSTATUS(st);
  if (WIFSIGNALED(st)) r.senyal = WTERMSIG(st);
  return r;
}

// ---------------------------------------------------------------------------
// Hostile input text.

TEST(EntradaHostil, SuperblancDe100MB) {
  const std::string bin = Automat(kCasa, "superblanc.bin");
  // Content with every near miss of the closer, NUL bytes, line ends and
  // openers, but no "]]>".
  const std::string tros("ab]]c]>\0\n<![CDATA[ \xe9]", 21);
  std::string entrada = "casa <![CDATA[";
  entrada += Repeteix(tros, (100u << 20) / tros.size());
  entrada += "]]> cosa\n";
  const std::string esperat = "casa&n;&f;/ " +
                              entrada.substr(5, entrada.size() - 5 - 6) +
                              " cosa&n;&f;/\n";
  prova::OpcionsExecucio op;
  op.segons = 300;
  const Resultat r = prova::Executa({ETIQUEM_BIN, "-b", bin}, entrada, op);
  EXPECT_EQ(r.estat, 0) << r.errors;
  EXPECT_EQ(r.errors, "");
  EXPECT_EQ(PrimeraDiferencia(r.sortida, esperat), std::string::npos)
      << "output of " << r.sortida.size() << " bytes, expected "
      << esperat.size();
}

// A stream far larger than any buffer, without a line end, through a pipe:
// the output must keep pace and the memory stay flat.
TEST(EntradaHostil, EntradaLlargaSenseSaltDeLiniaAmbMemoriaPlana) {
  const std::string bin = Automat(kCasa, "llarga.bin");
  const char* llarg = std::getenv("ETIQUEM_LLARG");
  const uint64_t gran = llarg && std::string(llarg) == "1" ? uint64_t(1) << 30
                        : kAmbSanejador                      ? uint64_t(24) << 20
                                                             : uint64_t(64) << 20;
  Flux f;
  f.args = {ETIQUEM_BIN, "-b", bin};
  f.entrada = "casa cosa xyz ";
  f.sortida = "casa&n;&f;/ cosa&n;&f;/ xyz ";
  f.total = (4u << 20) / f.entrada.size() * f.entrada.size();
  const ResultatFlux petit = Corre(f);
  f.total = gran / f.entrada.size() * f.entrada.size();
  const ResultatFlux r = Corre(f);
  for (const ResultatFlux* x : {&petit, &r}) {
    EXPECT_FALSE(x->temps_esgotat);
    EXPECT_EQ(x->estat, 0) << x->errors;
    EXPECT_EQ(x->errors, "");
    EXPECT_EQ(x->diferencia, UINT64_MAX) << "output differs at byte "
                                         << x->diferencia;
  }
  EXPECT_EQ(r.rebuts, f.total / f.entrada.size() * f.sortida.size());
  RecordProperty("pic_kb_4MB", int(petit.pic_kb));
  RecordProperty("pic_kb_gran", int(r.pic_kb));
  std::printf("peak resident size: %ld kB for 4 MB, %ld kB for %llu MB\n",
              petit.pic_kb, r.pic_kb, (unsigned long long)(gran >> 20));
  // Flat: the long run needs no more than the short one, give or take a few
  // pages of allocator slack.
  EXPECT_LE(r.pic_kb, petit.pic_kb + (kAmbSanejador ? 32768 : 4096));
  if (!kAmbSanejador) {
    EXPECT_LE(r.pic_kb, 32768);
  }
}

TEST(EntradaHostil, ObridorsRepetits) {
  const std::string bin = Automat(kCasa, "obridors.bin");
  const std::string obridor = "<![CDATA[";
  struct Cas {
    std::string entrada, sortida;
  };
  const std::string molts = Repeteix(obridor, 200000);
  const std::string buits = Repeteix("<![CDATA[]]>", 200000);
  const std::string mitges = Repeteix("<![CDATA", 200000);
  const std::vector<Cas> casos = {
      // The first opener swallows the rest; the end of input closes it.
      {molts, molts + "]]>"},
      {"casa " + molts + "]]>casa", "casa&n;&f;/ " + molts + "]]>casa&n;&f;/"},
      // Empty superblanks back to back: each in its place.
      {buits + "casa", buits + "casa&n;&f;/"},
      // Openers cut short are plain text.
      {mitges + "\n", mitges + "\n"},
  };
  for (const Cas& c : casos) {
    const Resultat r = prova::Executa({ETIQUEM_BIN, "-b", bin}, c.entrada);
    EXPECT_EQ(r.estat, 0) << r.errors;
    EXPECT_EQ(r.errors, "");
    EXPECT_EQ(PrimeraDiferencia(r.sortida, c.sortida), std::string::npos)
        << "input of " << c.entrada.size() << " bytes beginning "
        << c.entrada.substr(0, 24) << ": output of " << r.sortida.size()
        << " bytes, expected " << c.sortida.size();
  }
}

// Words of thousands of letters on a path that loops: every attempt stops
// after 254 characters and the rest is matched again, so nothing is lost.
TEST(EntradaHostil, ParaulesDeMilersDeLletresEnUnCamiQueTornaEnrere) {
  const std::string desc = Automat(R"(alfabet ab
estat 0
  a a 1
  b b 1
estat 1
  descon
  a a 1
  b b 1
)",
                                   "bucle_desc.bin");
  const std::string fi = Automat(R"(alfabet ab
estat 0
  a a 1
  b b 1
estat 1
  fi
  a a 1
  b b 1
)",
                                 "bucle_fi.bin");
  std::string paraula;
  for (int i = 0; i < 5000; ++i) paraula += "ab"[(i * 7 / 3) % 2];
  const std::string entrada = paraula + " " + std::string(3000, 'b') + "\n";
  // The stretches that the attempts write, in order.
  std::vector<std::string> trams;
  for (const std::string& w : {paraula, std::string(3000, 'b')})
    for (size_t i = 0; i < w.size(); i += 254) trams.push_back(w.substr(i, 254));
  std::string marcat, llegit, llista;
  for (size_t i = 0; i < trams.size(); ++i) {
    marcat += "<d>" + trams[i] + "</d>";
    llegit += trams[i] + "/";
    llista += trams[i] + "\n";
    if (trams[i].size() < 254) {
      marcat += i + 1 == trams.size() ? "\n" : " ";
      llegit += i + 1 == trams.size() ? "\n" : " ";
    }
  }
  ASSERT_EQ(trams.size(), 20u + 12u);

  Resultat r = prova::Executa({ETIQUEM_BIN, "-b", desc}, entrada);
  EXPECT_EQ(r.estat, 0) << r.errors;
  EXPECT_TRUE(r.sortida == entrada) << r.sortida.substr(0, 600);

  r = prova::Executa({ETIQUEM_BIN, "-b", desc, "-m"}, entrada);
  EXPECT_EQ(r.estat, 0) << r.errors;
  EXPECT_EQ(r.sortida, marcat);

  const std::string fitxer_desc = prova::EscriuFitxer("", "bucle.desc");
  r = prova::Executa({ETIQUEM_BIN, "-b", desc, "-d", fitxer_desc}, entrada);
  EXPECT_EQ(r.estat, 0) << r.errors;
  std::ifstream f(fitxer_desc, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  EXPECT_EQ(ss.str(), llista);

  r = prova::Executa({ETIQUEM_BIN, "-b", fi}, entrada);
  EXPECT_EQ(r.estat, 0) << r.errors;
  EXPECT_EQ(r.sortida, llegit);
}

TEST(EntradaHostil, CicleEpsilon) {
  for (const char* descripcio : {
           // A cycle reached after a character.
           "alfabet a\nestat 0\n  a a 1\nestat 1\n  eps b 2\nestat 2\n"
           "  eps c 3\nestat 3\n  eps - 1\n  fi\n",
           // A state that moves to itself.
           "alfabet a\nestat 0\n  a a 1\nestat 1\n  eps - 1\n  fi\n",
           // A cycle that no word reaches.
           "alfabet a\nestat 0\n  a a 1\nestat 1\n  fi\nestat 2\n  eps - 3\n"
           "estat 3\n  eps - 2\n",
       }) {
    const std::string bin = Automat(descripcio, "cicle.bin");
    const Resultat r = prova::Executa({ETIQUEM_BIN, "-b", bin}, "a aa\n");
    EXPECT_FALSE(r.temps_esgotat);
    EXPECT_EQ(r.estat, 255) << descripcio;
    EXPECT_EQ(r.sortida, "");
    EsUnMissatge(r.errors);
  }
}

// A chain of 100000 epsilon moves is no cycle: it loads (no deep recursion)
// and is followed to its end.
TEST(EntradaHostil, CadenaEpsilonMoltLlarga) {
  constexpr int kEstats = 100000;
  prova::AutomatProva a;
  a.alfabet = "a";
  a.estats.resize(kEstats + 2);
  for (int i = 0; i < kEstats + 2; ++i) a.estats[size_t(i)].estado = i;
  a.estats[0].trans.push_back({'a', {{'a', 1}}});
  for (int i = 1; i <= kEstats; ++i)
    a.estats[size_t(i)].eps.push_back({0, {{int16_t(i == kEstats ? 'z' : 0), i + 1}}});
  a.estats[kEstats + 1].trans.push_back({int16_t(FIN_TRADUC), {{0, kEstats + 1}}});
  const std::string bin = prova::EscriuFitxer(prova::Bytes(a), "cadena.bin");
  const Resultat r = prova::Executa({ETIQUEM_BIN, "-b", bin}, "a b a\n");
  EXPECT_EQ(r.estat, 0) << r.errors;
  EXPECT_EQ(r.sortida, "az/ b az/\n");
}

// Every character doubles the paths. The live-state set is bounded (2^20
// states at once, 2^22 output symbols per attempt): the run ends with the
// live-state memory message and status 1, what was written before it is
// kept, and memory stays far below what the paths would need.
TEST(EntradaHostil, CaminsQueEsDupliquenACadaCaracter) {
  const std::string bin = Automat(R"(alfabet ab
estat 0
  fi
  a a 0
  a b 0
)",
                                  "doble.bin");
  Flux f;
  f.args = {ETIQUEM_BIN, "-b", bin};
  f.entrada = "b b " + std::string(64, 'a') + "\n";
  f.total = f.entrada.size();
  f.sortida = "b b ";
  const ResultatFlux r = Corre(f);
  EXPECT_FALSE(r.temps_esgotat);
  EXPECT_EQ(r.estat, 1);
  EXPECT_EQ(r.errors,
            "Error: No queda memoria para crear nuevos estados vivos\n");
  EXPECT_EQ(r.rebuts, 4u);
  EXPECT_EQ(r.diferencia, UINT64_MAX);
  std::printf("peak resident size at the live-state bound: %ld kB\n", r.pic_kb);
  RecordProperty("pic_kb_doble", int(r.pic_kb));
  EXPECT_LE(r.pic_kb, kAmbSanejador ? 1L << 20 : 400L << 10);
}

TEST(EntradaHostil, EntradaEstandardTancada) {
  const std::string bin = Automat(kCasa, "tancada.bin");
  Flux f;
  f.args = {ETIQUEM_BIN, "-b", bin};
  f.entrada_tancada = true;
  const ResultatFlux r = Corre(f);
  EXPECT_EQ(r.estat, 2);
  EXPECT_EQ(r.rebuts, 0u);
  EsUnMissatge(r.errors);
}

// ---------------------------------------------------------------------------
// Broken automaton files.

// A dictionary of the usual shape: several words sharing prefixes, tags on
// epsilon moves, every kind of marker, a second epsilon group, an unknown-
// word loop.
constexpr char kReal[] = R"(alfabet 'ABCabcdeos\xe9
define n 258
define f 259
define vblex 260
define pr 261
estat 0
  ' ' 9
  a a 10
  c c 1
  d d 7
estat 1
  a a 2
  o o 2
estat 2
  s s 3
estat 3
  a a 4
  e e 5
estat 4
  eps &n 6
  eps &vblex 6
  eps2 &pr 6
estat 5
  eps s 4
estat 6
  eps &f 8
estat 7
  e e 8
  \xe9 e 8
estat 8
  fi
  parcial
estat 9
  eps &pr 8
estat 10
  descon
  a a 10
  b b 10
)";

TEST(AutomatHostil, TallatACadaByte) {
  const std::string bytes = prova::Bytes(kReal);
  ASSERT_GT(bytes.size(), 300u);
  for (size_t n = 0; n <= bytes.size(); ++n) {
    Transductor t;
    std::string error;
    const bool carregat = GenautoDeMemoria(
        t, "real.bin", reinterpret_cast<const uint8_t*>(bytes.data()), n, error);
    if (n == bytes.size()) {
      EXPECT_TRUE(carregat) << error;
      EXPECT_EQ(t.nestats, 11);
      continue;
    }
    ASSERT_FALSE(carregat) << "loaded when cut at byte " << n;
    EXPECT_EQ(error.rfind("Error: El fichero binario real.bin no es v\xe1lido", 0),
              0u)
        << error;
    EXPECT_EQ(error.find('\n'), error.size() - 1) << error;
    EXPECT_TRUE(t.automat.empty());
  }
  // A sample through the program.
  for (size_t n : {size_t(0), size_t(3), size_t(4), size_t(50), size_t(101),
                   bytes.size() / 2, bytes.size() - 1}) {
    const std::string bin = prova::EscriuFitxer(bytes.substr(0, n), "tallat.bin");
    const Resultat r = prova::Executa({ETIQUEM_BIN, "-b", bin}, "casa\n");
    EXPECT_EQ(r.estat, 255) << n;
    EXPECT_EQ(r.sortida, "");
    EsUnMissatge(r.errors);
  }
  const std::string bin = prova::EscriuFitxer(bytes, "sencer.bin");
  const Resultat r = prova::Executa({ETIQUEM_BIN, "-b", bin}, "casa de aab\n");
  EXPECT_EQ(r.estat, 0) << r.errors;
  // casa: two paths, each a complete analysis then a piece, in path order.
  EXPECT_EQ(r.sortida,
            "<amb><e>casa&n;&f;/<e>casa&n;&f;</e>casa&vblex;&f;/</e>"
            "<e>casa&vblex;&f;</e></amb> de/<e>de</e> aab\n");
}

TEST(AutomatHostil, DiccionariCatalaTallat) {
  const std::string cami = std::string(ETIQUEM_SHARED) + "/lexicon/ca.bin";
  std::ifstream f(cami, std::ios::binary);
  if (!f) GTEST_SKIP() << cami << " is absent";
  std::stringstream ss;
  ss << f.rdbuf();
  const std::string bytes = ss.str();
  // Every offset of the head, where the counts and the symbol tables are;
  // then offsets spread over the states, and the last bytes.
  std::vector<size_t> talls;
  for (size_t n = 0; n < 4096 && n < bytes.size(); ++n) talls.push_back(n);
  std::mt19937_64 rng(8);
  for (int i = 0; i < 150; ++i) talls.push_back(rng() % bytes.size());
  for (size_t n = bytes.size() - 16; n <= bytes.size(); ++n) talls.push_back(n);
  for (size_t n : talls) {
    Transductor t;
    std::string error;
    const bool carregat = GenautoDeMemoria(
        t, "ca.bin", reinterpret_cast<const uint8_t*>(bytes.data()), n, error);
    if (n == bytes.size()) {
      EXPECT_TRUE(carregat) << error;
      continue;
    }
    ASSERT_FALSE(carregat) << "loaded when cut at byte " << n;
    EXPECT_EQ(error.rfind("Error: El fichero binario ca.bin no es v\xe1lido", 0), 0u)
        << error;
    EXPECT_EQ(error.find('\n'), error.size() - 1) << error;
  }
  for (size_t n : {size_t(100), bytes.size() / 3, bytes.size() - 1}) {
    const std::string bin = prova::EscriuFitxer(bytes.substr(0, n), "ca_tallat.bin");
    const Resultat r = prova::Executa({ETIQUEM_BIN, "-b", bin}, "casa\n");
    EXPECT_EQ(r.estat, 255) << n;
    EXPECT_EQ(r.sortida, "");
    EsUnMissatge(r.errors);
  }
}

// A group that holds no moves, in a file with no moves at all, and an empty
// group after the last move: both load, and loading takes no address past
// the moves (UndefinedBehaviorSanitizer checks this in the sanitizer build).
TEST(AutomatHostil, GrupsSenseMoviments) {
  prova::AutomatProva sense_cap;  // one group for "a", no moves in the file
  sense_cap.alfabet = "ab";
  sense_cap.estats.resize(1);
  sense_cap.estats[0].trans.push_back({'a', {}});
  prova::AutomatProva al_final = sense_cap;  // moves, then an empty group
  al_final.estats[0].trans = {{'a', {{'a', 0}}}, {'b', {}}};
  for (const prova::AutomatProva& a : {sense_cap, al_final}) {
    const std::string bytes = prova::Bytes(a);
    Transductor t;
    std::string error;
    EXPECT_TRUE(GenautoDeMemoria(t, "buit.bin",
                                 reinterpret_cast<const uint8_t*>(bytes.data()),
                                 bytes.size(), error))
        << error;
    EXPECT_EQ(t.automat[0].ntrans, int32_t(a.estats[0].trans.size()));
  }
}

// Random bytes, and random bytes behind a plausible head: refused with one
// line, or loaded; a run on a file that loaded ends normally or with one of
// the run-time messages, never by a signal.
TEST(AutomatHostil, BytesAleatoris) {
  std::mt19937_64 rng(20240607);
  // Alphabet "abc", no defines, four states.
  const std::string cap("\x03\0\0\0abc\0\0\0\0\x04\0\0\0", 15);
  std::vector<std::string> fitxers;
  for (int i = 0; i < 4000; ++i) {
    std::string b = i % 2 ? cap : std::string();
    const size_t n = rng() % (i % 3 == 0 ? 64 : 4096);
    for (size_t j = 0; j < n; ++j) {
      // Mostly small values, as counts and codes in a real file are.
      const uint64_t x = rng();
      b += char(x % 4 == 0 ? x >> 8 : x % 4 == 1 ? 0 : x % 8);
    }
    Transductor t;
    std::string error;
    if (!GenautoDeMemoria(t, "aleatori.bin",
                          reinterpret_cast<const uint8_t*>(b.data()), b.size(),
                          error)) {
      ASSERT_EQ(error.rfind("Error", 0), 0u) << error;
      ASSERT_EQ(error.find('\n'), error.size() - 1) << error;
    }
    if (i % 200 == 0 || (i % 2 == 1 && !t.automat.empty() && fitxers.size() < 40))
      fitxers.push_back(b);
  }
  for (const std::string& b : fitxers) {
    const std::string bin = prova::EscriuFitxer(b, "aleatori.bin");
    const Resultat r =
        prova::Executa({ETIQUEM_BIN, "-b", bin}, "abc cab\nba<![CDATA[x]]>a\n");
    EXPECT_FALSE(r.temps_esgotat);
    EXPECT_EQ(r.senyal, 0);
    EXPECT_TRUE(r.estat == 0 || r.estat == 1 || r.estat == 255) << r.estat;
    if (r.estat != 0) EsUnMissatge(r.errors);
  }
}

// ---------------------------------------------------------------------------
// Outputs that fail.

constexpr char kDesconegudes[] = R"(alfabet abxyz
estat 0
  x x 1
  y y 1
estat 1
  descon
  x x 1
  y y 1
  z z 1
)";

TEST(SortidaHostil, DesconegudesEnUnDiscPle) {
  const std::string bin = Automat(kDesconegudes, "ple.bin");
  const Resultat r = prova::Executa(
      {ETIQUEM_BIN, "-b", bin, "-d", "/dev/full"}, "xyz a yy\n");
  EXPECT_EQ(r.sortida, "xyz a yy\n");
  EXPECT_EQ(r.estat, 1);
  EsUnMissatge(r.errors);
}

TEST(SortidaHostil, DesconegudesEnUnDescriptorTancat) {
  const std::string bin = Automat(kDesconegudes, "tancat.bin");
  const Resultat r = prova::Executa(
      {ETIQUEM_BIN, "-b", bin, "-d", "/dev/fd/57"}, "xyz a yy\n");
  EXPECT_EQ(r.sortida, "");
  EXPECT_EQ(r.estat, 1);
  EXPECT_EQ(r.errors,
            "Error: El fitxer de les paraules desconegudes no ha pogut "
            "obrir-se\n");
}

TEST(SortidaHostil, SortidaEstandardTancada) {
  const std::string bin = Automat(kCasa, "sortida_tancada.bin");
  prova::OpcionsExecucio op;
  op.sortida = prova::Sortida::kTancada;
  for (const std::string& entrada :
       {std::string("casa\n"), Repeteix("casa cosa ", 300000)}) {
    const Resultat r = prova::Executa({ETIQUEM_BIN, "-b", bin}, entrada, op);
    EXPECT_EQ(r.estat, 1);
    EsUnMissatge(r.errors);
  }
  op.sortida = prova::Sortida::kPle;
  const Resultat r = prova::Executa({ETIQUEM_BIN, "-b", bin}, "casa\n", op);
  EXPECT_EQ(r.estat, 1);
  EsUnMissatge(r.errors);
}

// The reader of the output goes away while input keeps coming: the program
// dies by SIGPIPE (or ends with a non-zero status) at once, never waits.
TEST(SortidaHostil, CanonadaTancadaPelLector) {
  const std::string bin = Automat(kCasa, "canonada.bin");
  for (int64_t tanca : {int64_t(0), int64_t(1), int64_t(100000)}) {
    Flux f;
    f.args = {ETIQUEM_BIN, "-b", bin};
    f.entrada = "casa cosa xyz\n";
    f.total = uint64_t(1) << 40;  // more than it will ever read
    f.sortida = "casa&n;&f;/ cosa&n;&f;/ xyz\n";
    f.tanca_als = tanca;
    f.segons = 60;
    const ResultatFlux r = Corre(f);
    EXPECT_FALSE(r.temps_esgotat) << tanca;
    EXPECT_TRUE(r.senyal == SIGPIPE || (r.senyal == 0 && r.estat > 0))
        << "closed after " << tanca << ": signal " << r.senyal << ", status "
        << r.estat;
    EXPECT_EQ(r.diferencia, UINT64_MAX);
    if (r.senyal == 0) EsUnMissatge(r.errors);
  }
}

}  // namespace
}  // namespace etiquem
