// Test helper: a whole analysis run inside the test process, on a loaded
// automaton and a text in memory, with the memory of finished attempts on or
// off and bounded as a test needs. Input and outputs are in-memory files, so
// everything the program would write is captured byte for byte.

#ifndef ETIQUEM_TESTS_ANALISI_PROVA_H_
#define ETIQUEM_TESTS_ANALISI_PROVA_H_

#include <cstddef>
#include <random>
#include <string>

#include "automaton/automat.h"
#include "driver/trams.h"

namespace etiquem::prova {

struct Sortides {
  std::string text;          // standard output
  std::string desconegudes;  // the unknown-words file (-d is on)
};

// Options: -s, -a, -m (0 or 1); -d is always on. `bloc`: the scanner's read
// size (small blocks make openers straddle reads).
Sortides AnalitzaEnProces(const Transductor& t, const std::string& text,
                          int s, int a, int m, bool memoria,
                          size_t max_nodes = size_t(1) << 17,
                          size_t bloc = size_t(1) << 16);

// The same run (-d on) on several threads, in trams of the file holding
// `abans` and then `text`, analysed from the end of `abans`.
Sortides AnalitzaEnTramsProva(const Transductor& t, const std::string& text,
                              int s, int a, int m, const ParametresTrams& p,
                              const std::string& abans = "");

// A random dictionary, in the automaton description of automat_prova.h,
// over the letters "abAB' -": forward moves (or a loop on one state), so
// paths stay few; epsilon moves forward only; markers of the three kinds;
// two tags.
std::string DiccionariAtzar(std::mt19937& g);

// Random text of at least `llarg` bytes from pieces: those letters, line
// ends, bytes 0, 1 and 255, whole superblanks, and lone openers and closers
// (so superblanks of any length).
std::string TextAtzar(std::mt19937& g, size_t llarg);

// Loads an automaton from bytes; fails the test when it is refused.
void CarregaOFalla(Transductor& t, const std::string& bytes);

}  // namespace etiquem::prova

#endif  // ETIQUEM_TESTS_ANALISI_PROVA_H_
