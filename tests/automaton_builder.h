// Test helper: automaton files written from a readable description, laid out
// as doc/automaton-format.md describes.
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
//     fi             # kEndOfAnalysis group (also: parcial, descon)
//
// Symbol tokens: one byte stands for itself; "-" is 0 (writes nothing);
// "&name" is a define's code; "#N" is the number N; "\s", "\t", "\n",
// "\xHH" are escapes. A comment is a line starting with "#" (not "#N") or
// what follows " # ". Consecutive moves with the same input symbol form one
// group; groups keep the order written (so unsorted lists can be made).
// "eps" moves go to the first epsilon group, "eps2" to a second one.
// "flag N" sets a state's epsilon flag (by default 1 when it has epsilon
// groups, else 0); "estado N" sets its stored number (default: its index).

#ifndef ETIQUEM_TESTS_AUTOMATON_BUILDER_H_
#define ETIQUEM_TESTS_AUTOMATON_BUILDER_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace etiquem::test_support {

struct DescribedGroup {
  int16_t input_symbol = 0;
  std::vector<std::pair<int16_t, int32_t>> moves;  // (output_symbol, target)
};

struct DescribedState {
  int32_t file_number = 0;
  int16_t flag = -32768;  // -32768: derived from `epsilon_groups`
  std::vector<DescribedGroup> epsilon_groups;
  std::vector<DescribedGroup> groups;
};

struct AutomatonDescription {
  std::string alphabet;
  std::vector<std::pair<std::string, int32_t>> symbol_names;
  std::vector<DescribedState> states;
};

// Parses a description; throws std::runtime_error on a malformed one.
AutomatonDescription ParseDescription(const std::string& text);

// The file's bytes.
std::string Bytes(const AutomatonDescription& a);
inline std::string Bytes(const std::string& description) {
  return Bytes(ParseDescription(description));
}

// Writes `bytes` to the file `name` in the process's scratch directory
// (scratch_directory.h), replacing any file of that name, and returns its
// path.
std::string WriteFile(const std::string& bytes, const std::string& name);

}  // namespace etiquem::test_support

#endif  // ETIQUEM_TESTS_AUTOMATON_BUILDER_H_
