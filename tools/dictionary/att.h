// AT&T tabular text, the exchange format of generic finite-state toolkits,
// in both directions: read into the compiler's transducer, and written from
// a loaded automaton file.
//
// Lines are "src dst input output [weight]" and "state [weight]" for final
// states; fields are separated by tabs (or, when a line has none, by
// blanks); the first line's source is the start state. Epsilon is "@0@",
// "@_EPSILON_SYMBOL_@" or "<eps>"; "@_SPACE_@", "@_TAB_@" and "@_LF_@" stand
// for those characters. Symbols are UTF-8 and must be Latin-1 characters or,
// on the output side, multi-character symbols, which become defines (a
// symbol "<n>" becomes the define named "n"). Final states are complete
// analyses. The two other kinds of reading have no AT&T form; a dump writes
// them as an epsilon move with output "@fin_parcial@" or "@fin_descon@" to a
// final state of their own, and the reader turns such a move back into the
// marker. Weights are ignored.

#ifndef ETIQUEM_TOOLS_DICTIONARY_ATT_H_
#define ETIQUEM_TOOLS_DICTIONARY_ATT_H_

#include <string>
#include <string_view>
#include <vector>

#include "dictionary/automaton_writer.h"
#include "engine/automaton.h"

namespace etiquem::dictionary {

// Compiles AT&T text. The result is trimmed, minimised and numbered from 0;
// an epsilon move at the start state is folded into the consuming moves
// after it (state 0 is never closed under epsilon moves). `warnings` gets
// one-line notes about what cannot be kept (an analysis of the empty word).
// On failure returns false and sets `error` ("Error: NAME:LINE: what").
bool CompileAtt(const std::string& name, std::string_view bytes, Transducer& a,
                std::string& error, std::vector<std::string>& warnings);

// A loaded automaton as AT&T text, UTF-8. Only what the matcher can follow
// is written: character groups and the first epsilon group. Returns false
// with `error` when an output symbol has no define.
bool DumpAtt(const Automaton& t, std::string& text, std::string& error);

// Counts of a loaded automaton, one "name: value" per line.
std::string CountsReport(const Automaton& t, size_t file_size);

}  // namespace etiquem::dictionary

#endif  // ETIQUEM_TOOLS_DICTIONARY_ATT_H_
