// Test helper: whole runs of a built program.
//
// Runs a program with the given arguments, feeding `entrada` (any bytes) on
// its standard input and capturing standard output and standard error apart,
// with a time limit, so that tests can check the exact bytes and the exit
// status users see.
//
//   Resultat r = Executa({ETIQUEM_BIN, "-b", bin}, "casa\n");
//   EXPECT_EQ(r.sortida, "...");
//   EXPECT_EQ(r.estat, 0);

#ifndef ETIQUEM_TESTS_PROCES_H_
#define ETIQUEM_TESTS_PROCES_H_

#include <string>
#include <vector>

namespace etiquem::prova {

struct Resultat {
  std::string sortida;  // everything written on standard output
  std::string errors;   // everything written on standard error
  int estat = -1;       // exit status 0..255; -1 if killed by a signal
  int senyal = 0;       // the signal that ended it, or 0
  bool temps_esgotat = false;  // killed because it outlived the limit
};

// How standard output is connected.
enum class Sortida {
  kCaptura,  // a pipe read into Resultat::sortida
  kTancada,  // closed before the program starts
  kPle,      // /dev/full: every write fails with ENOSPC
};

struct OpcionsExecucio {
  std::string directori;  // working directory; empty: the current one
  Sortida sortida = Sortida::kCaptura;
  int segons = 30;        // time limit, after which the program is killed
};

// Runs `args[0]` (a path; no PATH search) with `args` as its argv. The
// calling process ignores SIGPIPE from then on (a program that exits before
// reading all its input must not kill the test); the child gets the default
// action back. Throws std::runtime_error if the program cannot be started.
Resultat Executa(const std::vector<std::string>& args,
                 const std::string& entrada = "",
                 const OpcionsExecucio& opcions = {});

// Runs with standard input read from the file at `fitxer_entrada` instead
// (for inputs too large or too special for a pipe).
Resultat ExecutaAmbFitxer(const std::vector<std::string>& args,
                          const std::string& fitxer_entrada,
                          const OpcionsExecucio& opcions = {});

}  // namespace etiquem::prova

#endif  // ETIQUEM_TESTS_PROCES_H_
