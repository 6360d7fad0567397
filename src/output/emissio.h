// Longest-match selection and emission.
//
// When an attempt ends, BuscaAccep picks the furthest position the attempt
// stepped that holds a reading (analyses before unknown-word readings, the
// attempt's first position as the last resort), and Emitir writes that one
// position: its analysis, its unknown-word reading, or its own byte, then
// every waiting superblank whose marker lies in the stretch just written, in
// input order, so blocks of formatting come out in their places.

#ifndef ETIQUEM_OUTPUT_EMISSIO_H_
#define ETIQUEM_OUTPUT_EMISSIO_H_

#include <string>

#include "input/lector.h"
#include "matching/accepta.h"
#include "matching/vius.h"
#include "output/sortida.h"

namespace etiquem {

// What the texts of an attempt's records are rendered from: its output
// arena, its acceptance list and its surface.
struct Lectures {
  const Vius* v = nullptr;
  Acceptacio* ac = nullptr;
  const char* superficie = nullptr;
};

// The position (1 to 256) of the stretch's last character, for an attempt
// whose first character has entry index `inici` and that stepped `passos`
// characters (at least 1). Only the stepped positions count, whatever their
// place in the ring.
int BuscaAccep(const Lector& l, int inici, int passos);

// Appends to `text` the bytes that position `p` writes (its reading, with
// its surface form and "/" when `superficie` is 1, or its own byte); returns
// whether they come from an unknown-word record.
bool ContingutPosicio(const Lector& l, const Lectures& lec, int superficie,
                      int p, std::string& text);

// Writes, in input order, the waiting superblanks whose marker is at or
// before input character number `ordre`.
void EmetSuperblancs(Lector& l, Sortida& sortida, uint64_t ordre);

// Writes position `p` to `sortida` (with its surface form and "/" when
// `superficie` is 1) and its pending superblanks. An unknown word written
// from its `desc` record also goes, as one line, to `desconegudes` when
// `opcio_desc` is 1.
void Emitir(Lector& l, const Lectures& lec, Sortida& sortida,
            Sortida* desconegudes, int superficie, int p, int opcio_desc);

}  // namespace etiquem

#endif  // ETIQUEM_OUTPUT_EMISSIO_H_
