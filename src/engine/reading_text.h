// Reading texts: an accepting path's output symbols rendered as the text
// written to the output, with the capitals of the surface form restored.
//
// Two renderings: the complete analysis (closed by "/") and the partial one
// used for the pieces of compound readings. Multi-character symbols are
// written "&name;". Both append to a caller's string, so building a reading
// reuses its storage instead of allocating per text.

#ifndef ETIQUEM_ENGINE_READING_TEXT_H_
#define ETIQUEM_ENGINE_READING_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/automaton.h"
#include "engine/live_states.h"

namespace etiquem {

// The capital of a character: lower-case letters with a Latin-1 upper-case
// partner (a-z, and 224-254 but 247) lose 32; every other byte is unchanged.
inline uint8_t UpperCaseOf(uint8_t c) {
  return ((c >= 97 && c <= 122) || (c >= 224 && c != 247 && c != 255))
             ? uint8_t(c - 32)
             : c;
}

// Appends the complete analysis of `symbols[0..n)` to `text`, then "/".
// `a`: the first character of the surface is upper case; `b`: its latest is.
void RenderCompleteReading(const Automaton& t, const int32_t* symbols, int n,
                           int a, int b, std::string& text);

// The same for the output that ends at node `node` of `v`'s arena, read
// from the arena straight into the text (its last symbol first).
void RenderCompleteOutput(const Automaton& t, const LiveStates& v,
                          uint32_t node, int a, int b, std::string& text);

// Appends the partial analysis to `text`. Returns false (and appends
// nothing) when there are no symbols. `capital_pending` is the one-shot flag
// that gives the first symbol the capital when `a` is 1; the caller sets it
// to 1.
bool RenderPieceReading(const Automaton& t, const int32_t* symbols, int n,
                        int a, int b, int& capital_pending, std::string& text);

// Whether `form` holds an apostrophe.
bool HasApostrophe(std::string_view form);

}  // namespace etiquem

#endif  // ETIQUEM_ENGINE_READING_TEXT_H_
