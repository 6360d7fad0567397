// Test helper: a whole analysis run inside the test process, on a loaded
// automaton and a text in memory, with the deterministic walk and the
// memory of stretches on or off and bounded as a test needs. Input and
// outputs are in-memory files, so everything the program would write is
// captured byte for byte.

#ifndef ETIQUEM_TESTS_ANALYSIS_HELPER_H_
#define ETIQUEM_TESTS_ANALYSIS_HELPER_H_

#include <cstddef>
#include <random>
#include <string>
#include <vector>

#include "engine/automaton.h"
#include "engine/lazy_dfa.h"
#include "engine/pieces.h"
#include "etiquem/etiquem.h"

namespace etiquem::test_support {

struct Outputs {
  std::string text;            // standard output
  std::string unknown_output;  // the unknown-words file (-d is on)
  Error error;                 // what failed, if anything
  InputReport report;          // what was found in the input
};

// Options: -s, -a, -m (0 or 1); -d is always on; `utf8`: --utf8. `block`:
// the scanner's read size (small blocks make openers and UTF-8 characters
// straddle reads). `fast`: the deterministic walk and the memory of
// stretches (else the full walk alone), the memory holding at most
// `max_entries` stretches and the walk's cache `dfa_budget` bytes.
Outputs AnalyseInProcess(const Automaton& t, const std::string& text, int s,
                         int a, int m, bool fast,
                         size_t max_entries = size_t(1) << 16,
                         size_t block = size_t(1) << 16, bool utf8 = false,
                         size_t dfa_budget = kDfaCacheBytes);

// Analyses, in pieces on several threads, the file holding `before` and
// then `text`, from the end of `before`, handing the batches to `sink`.
Step AnalyseFileInPieces(const Automaton& t, const std::string& text,
                         const Options& options, const PieceParameters& p,
                         BatchSink sink, void* context, Error* error,
                         InputReport* report, const std::string& before = "");

// Pieces of a few bytes, small windows, one to four workers and, half the
// time, runs that hold a few bytes (so they hand over as they go, or wait).
PieceParameters RandomPieceParameters(std::mt19937& g);

// The same run (-d on) on several threads, in pieces of the file holding
// `before` and then `text`, analysed from the end of `before`.
Outputs AnalyseInPiecesInProcess(const Automaton& t, const std::string& text,
                                 int s, int a, int m, const PieceParameters& p,
                                 const std::string& before = "",
                                 bool utf8 = false);

// `latin1` written as UTF-8 (done here, not by the engine).
std::string Utf8Of(const std::string& latin1);

// RandomDictionary with the letters b and B replaced by the Latin-1 letters
// e-acute and E-acute (bytes 0xE9 and 0xC9, a lower-case letter and its
// capital), so that words hold characters of two bytes in UTF-8.
std::string RandomLatin1Dictionary(std::mt19937& g);

// RandomText with the same replacement, and bytes 0x80, 0x9F, 0xA0, 0xB7
// and 0xFF here and there: Latin-1 text whose UTF-8 form has characters of
// one and two bytes.
std::string RandomLatin1Text(std::mt19937& g, size_t length);

// The UTF-8 form of RandomLatin1Text, with characters beyond Latin-1 (the
// apostrophes U+2019 and U+02BC, U+20AC, U+1F600) and invalid units of
// every kind put in before ASCII bytes.
std::string RandomUtf8Text(std::mt19937& g, size_t length);

// The units of `bytes` as the Unicode standard's table of well-formed
// sequences cuts them, written independently of the engine: each unit's
// start, and whether it is a valid character.
struct ReferenceUnit {
  size_t start = 0;
  size_t length = 0;
  bool valid = false;
  bool operator==(const ReferenceUnit&) const = default;
};
std::vector<ReferenceUnit> ReferenceUtf8Units(const std::string& bytes);

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
