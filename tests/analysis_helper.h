// Test helper: a whole analysis run inside the test process, on a loaded
// automaton and a text in memory, with the memory of finished attempts on or
// off and bounded as a test needs. Input and outputs are in-memory files, so
// everything the program would write is captured byte for byte.

#ifndef ETIQUEM_TESTS_ANALYSIS_HELPER_H_
#define ETIQUEM_TESTS_ANALYSIS_HELPER_H_

#include <cstddef>
#include <random>
#include <string>

#include "engine/automaton.h"
#include "engine/pieces.h"
#include "etiquem/etiquem.h"

namespace etiquem::test_support {

struct Outputs {
  std::string text;            // standard output
  std::string unknown_output;  // the unknown-words file (-d is on)
  Error error;                 // what failed, if anything
};

// Options: -s, -a, -m (0 or 1); -d is always on. `block`: the scanner's read
// size (small blocks make openers straddle reads).
Outputs AnalyseInProcess(const Automaton& t, const std::string& text, int s,
                         int a, int m, bool memory,
                         size_t max_nodes = size_t(1) << 17,
                         size_t block = size_t(1) << 16);

// The same run (-d on) on several threads, in pieces of the file holding
// `before` and then `text`, analysed from the end of `before`.
Outputs AnalyseInPiecesInProcess(const Automaton& t, const std::string& text,
                                 int s, int a, int m, const PieceParameters& p,
                                 const std::string& before = "");

// A random dictionary, in the automaton description of automaton_builder.h,
// over the letters "abAB' -": forward moves (or a loop on one state), so
// paths stay few; epsilon moves forward only; markers of the three kinds;
// two tags.
std::string RandomDictionary(std::mt19937& g);

// Random text of at least `length` bytes from pieces: those letters, line
// ends, bytes 0, 1 and 255, whole superblanks, and lone openers and closers
// (so superblanks of any length).
std::string RandomText(std::mt19937& g, size_t length);

// Loads an automaton from bytes; fails the test when it is refused.
void LoadOrFail(Automaton& t, const std::string& bytes);

}  // namespace etiquem::test_support

#endif  // ETIQUEM_TESTS_ANALYSIS_HELPER_H_
