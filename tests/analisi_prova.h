// Test helper: a whole analysis run inside the test process, on a loaded
// automaton and a text in memory, with the memory of finished attempts on or
// off and bounded as a test needs. Input and outputs are in-memory files, so
// everything the program would write is captured byte for byte.

#ifndef ETIQUEM_TESTS_ANALISI_PROVA_H_
#define ETIQUEM_TESTS_ANALISI_PROVA_H_

#include <cstddef>
#include <string>

#include "automaton/automat.h"

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

// Loads an automaton from bytes; fails the test when it is refused.
void CarregaOFalla(Transductor& t, const std::string& bytes);

}  // namespace etiquem::prova

#endif  // ETIQUEM_TESTS_ANALISI_PROVA_H_
