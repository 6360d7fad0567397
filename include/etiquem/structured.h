// The readings of a written piece as data: lemmas with their tags, taken
// from the reading parts' symbols (etiquem.h), never from the written text.
//
// A reading part's symbols are characters (below kFirstTagSymbol) and tags
// (the dictionary's defined symbols, named by Dictionary::TagName). Its
// characters before a tag make a lemma and the tags after it are its tags;
// characters after a tag start the next lemma, so a part is one or more
// lemma-with-tags groups: one, or several for a joined reading such as
// "a&pr;+el&det;..." (the '+' that starts a later group is no part of its
// lemma). A piece's complete parts are each one reading; its compound parts
// together make one compound reading, whose pieces are their groups, placed
// where the first compound part stands. Lemmas get the capitals that the written text
// restores, and are given as Latin-1 codes (the characters of a symbol), so
// each front end encodes them as it needs; tag names are left as defined.
//
// Everything goes into one reusable record of flat arrays, so describing a
// piece allocates nothing once the arrays have grown.

#ifndef ETIQUEM_STRUCTURED_H_
#define ETIQUEM_STRUCTURED_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "etiquem/etiquem.h"

namespace etiquem {

// One lemma with its tags.
struct LemmaTags {
  uint32_t lemma_begin = 0;  // ReadingsView::lemmas[lemma_begin, lemma_end)
  uint32_t lemma_end = 0;
  uint32_t first_tag = 0;  // ReadingsView::tags[first_tag, +tag_count)
  uint32_t tag_count = 0;
};

// One reading: its groups are ReadingsView::groups[first_group,
// +group_count). A complete reading has one group (or several, when its
// symbols hold characters after a tag); a compound reading has one group
// per piece.
struct StructuredReading {
  uint32_t first_group = 0;
  uint32_t group_count = 0;
  bool compound = false;
};

struct ReadingsView {
  std::string lemmas;                    // Latin-1 codes
  std::vector<int32_t> tags;             // tag symbols
  std::vector<LemmaTags> groups;
  std::vector<StructuredReading> readings;

  void Clear() {
    lemmas.clear();
    tags.clear();
    groups.clear();
    readings.clear();
  }
};

// Appends to `view` the readings of `event`, a kReading event of `batch`
// (nothing for the other kinds). Returns the number of readings appended.
size_t AppendReadings(const Batch& batch, const Event& event,
                      ReadingsView* view);

// The name of the kind of a piece, as the structured outputs give it:
// "reading", "unknown", "plain" (characters written as they came) or
// "superblank".
std::string_view KindName(PieceKind kind);

}  // namespace etiquem

#endif  // ETIQUEM_STRUCTURED_H_
