// Test helper: automaton files written from a readable description.
//
// A description is a few lines of text; tests say what the transducer is and
// the helper writes the exact bytes the program loads. Example, the 93-byte
// file of the format's worked example:
//
//   alfabet ab
//   define n 258
//   estat 0
//     a a 1          # on a write a, go to state 1
//   estat 1
//     eps &n 2       # epsilon move writing symbol n, to state 2
//   estat 2
//     fi             # FIN_TRADUC group (also: parcial, descon)
//
// Symbol tokens: one byte stands for itself; "-" is 0 (writes nothing);
// "&name" is a define's code; "#N" is the number N; "\s", "\t", "\n",
// "\xHH" are escapes. A comment is a line starting with "#" (not "#N") or
// what follows " # ". Consecutive moves with the same input symbol form one
// group; groups keep the order written (so unsorted lists can be made).
// "eps" moves go to the first epsilon group, "eps2" to a second one.
// "flag N" sets a state's epsilon flag (by default 1 when it has epsilon
// groups, else 0); "estado N" sets its stored number (default: its index).

#ifndef ETIQUEM_TESTS_AUTOMAT_PROVA_H_
#define ETIQUEM_TESTS_AUTOMAT_PROVA_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace etiquem::prova {

struct GrupProva {
  int16_t lo = 0;
  std::vector<std::pair<int16_t, int32_t>> moviments;  // (lm, des)
};

struct EstatProva {
  int32_t estado = 0;
  int16_t flag = -32768;  // -32768: derived from `eps`
  std::vector<GrupProva> eps;
  std::vector<GrupProva> trans;
};

struct AutomatProva {
  std::string alfabet;
  std::vector<std::pair<std::string, int32_t>> defines;
  std::vector<EstatProva> estats;
};

// Parses a description; throws std::runtime_error on a malformed one.
AutomatProva Descriu(const std::string& text);

// The file's bytes.
std::string Bytes(const AutomatProva& a);
inline std::string Bytes(const std::string& descripcio) {
  return Bytes(Descriu(descripcio));
}

// Writes `bytes` to a fresh file under the test temporary directory and
// returns its path.
std::string EscriuFitxer(const std::string& bytes, const std::string& nom);

}  // namespace etiquem::prova

#endif  // ETIQUEM_TESTS_AUTOMAT_PROVA_H_
