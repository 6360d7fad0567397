// Reading texts: an accepting path's output symbols rendered as the text
// written to the output, with the capitals of the surface form restored.
//
// Two renderings: the complete analysis (closed by "/") and the partial one
// used for the pieces of compound readings. Multi-character symbols are
// written "&name;". Both append to a caller's string, so building a reading
// reuses its storage instead of allocating per text.

#ifndef ETIQUEM_MATCHING_TRADUCCIO_H_
#define ETIQUEM_MATCHING_TRADUCCIO_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "automaton/automat.h"

namespace etiquem {

// The capital of a character: lower-case letters with a Latin-1 upper-case
// partner (a-z, and 224-254 but 247) lose 32; every other byte is unchanged.
inline uint8_t Majuscula(uint8_t c) {
  return ((c >= 97 && c <= 122) || (c >= 224 && c != 247 && c != 255))
             ? uint8_t(c - 32)
             : c;
}

// Appends the complete analysis of `simbols[0..n)` to `text`, then "/".
// `a`: the first character of the surface is upper case; `b`: its latest is.
void ObtenerTraduccio(const Transductor& t, const int32_t* simbols, int n,
                      int a, int b, std::string& text);

// Appends the partial analysis to `text`. Returns false (and appends
// nothing) when there are no symbols. `unica` is the one-shot flag that
// gives the first symbol the capital when `a` is 1; the caller sets it to 1.
bool TraducParcial(const Transductor& t, const int32_t* simbols, int n, int a,
                   int b, int& unica, std::string& text);

// 1 when `forma` holds an apostrophe, else 0.
int Apostrofada(std::string_view forma);

}  // namespace etiquem

#endif  // ETIQUEM_MATCHING_TRADUCCIO_H_
