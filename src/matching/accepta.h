// Acceptance recording: after every step, what the live states accept at the
// character just read is recorded at that character's ring position, for the
// emission to choose from later.
//
// A live state accepts through the marker groups of its transition list: a
// complete analysis, a piece of a compound reading, or an unknown-word
// reading. Complete analyses are concatenated; two or more pieces are wrapped
// in "<e>" and "<amb>" marks; an unknown-word reading goes to its own record.
//
// Most accepted readings are never written: a longer match usually wins. So
// recording only notes which outputs were accepted (appended to the
// attempt's acceptance list) and the flags the text depends on; the text is
// rendered from the note when the position is written, straight into the
// output buffer. The output arena and the surface of the attempt stay intact
// until the attempt has been written, which is what makes the notes valid.

#ifndef ETIQUEM_MATCHING_ACCEPTA_H_
#define ETIQUEM_MATCHING_ACCEPTA_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "input/lector.h"
#include "matching/vius.h"

namespace etiquem {

// One accepted output: its node in the output arena and its marker.
struct Acceptat {
  uint32_t traduc;  // output node (see Vius::nodes)
  int32_t marca;    // FIN_TRADUC or FIN_PARCIAL
};

struct Acceptacio {
  std::vector<Acceptat> llista;  // this attempt's accepted outputs, in order
  size_t max_llista = size_t(1) << 22;  // bound, as for the output arena
  int32_t simbols[kMaxSimbols];  // one output, unrolled from the arena
};

// Empties the acceptance list; called at the start of every attempt.
inline void IniciaAcceptacio(Acceptacio& ac) { ac.llista.clear(); }

// Records at `entrada` what the live states of `v` accept. `forma` is the
// surface of the attempt so far; `a` and `b` the case flags of its first and
// latest characters; `apostrof` and `marca` the options -a and -m. Sets the
// entry's status; replaces its `anal` record when an analysis text results
// and its `desc` record when an unknown-word marker is met, and otherwise
// leaves them as they were.
void CercarEstAccept(Acceptacio& ac, const Vius& v, std::string_view forma,
                     int a, int b, PosBuffer& entrada, int apostrof,
                     int marca);

// Appends the text of analysis record `r` to `text`; `superficie` is the
// attempt's surface (the record's form is its first r.llarg_forma bytes).
void EscriuAnal(Acceptacio& ac, const Vius& v, const RegTraduc& r,
                const char* superficie, std::string& text);

// Appends the text of unknown-word record `r`: its form, in "<d>...</d>"
// when it was recorded under -m.
void EscriuDesc(const RegTraduc& r, const char* superficie, std::string& text);

}  // namespace etiquem

#endif  // ETIQUEM_MATCHING_ACCEPTA_H_
