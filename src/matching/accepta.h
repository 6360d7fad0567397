// Acceptance recording: after every step, the readings that the live states
// accept at the character just read are rendered and recorded at that
// character's ring position, for the emission to choose from later.
//
// A live state accepts through the marker groups of its transition list:
// a complete analysis, a piece of a compound reading, or an unknown-word
// reading. Complete analyses are concatenated; two or more pieces are wrapped
// in "<e>" and "<amb>" marks; an unknown-word reading goes to its own record.
// The working strings live in one record reused for every call.

#ifndef ETIQUEM_MATCHING_ACCEPTA_H_
#define ETIQUEM_MATCHING_ACCEPTA_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "input/lector.h"
#include "matching/vius.h"

namespace etiquem {

struct Acceptacio {
  std::string lectura;  // the reading text being built
  std::string peca;     // one rendered piece
  std::string aux;      // scratch for rewrapping
  int32_t simbols[kMaxSimbols];  // one output, unrolled from the arena
};

// Records at `entrada` what the live states of `v` accept. `forma` is the
// surface of the attempt so far; `a` and `b` the case flags of its first and
// latest characters; `apostrof` and `marca` the options -a and -m.
void CercarEstAccept(Acceptacio& ac, const Vius& v, std::string_view forma,
                     int a, int b, PosBuffer& entrada, int apostrof,
                     int marca);

}  // namespace etiquem

#endif  // ETIQUEM_MATCHING_ACCEPTA_H_
