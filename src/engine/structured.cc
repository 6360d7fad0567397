// The readings of a written piece as data; see include/etiquem/structured.h.

#include "etiquem/structured.h"

#include <cstdint>

#include "engine/reading_text.h"

namespace etiquem {

namespace {

// Appends the groups of one part's symbols, with the capitals the written
// text gives them. A complete part with no symbols still is a reading: one
// empty group.
void AppendGroups(const int32_t* symbols, uint32_t n, bool first_upper,
                  bool latest_upper, bool complete, ReadingsView& view) {
  bool open = false;  // a group is under way
  const size_t first_group = view.groups.size();
  for (uint32_t i = 0; i < n; ++i) {
    const int32_t s = symbols[i];
    const bool is_tag = s >= kFirstTagSymbol;
    LemmaTags* group = open ? &view.groups.back() : nullptr;
    if (group == nullptr || (!is_tag && group->tag_count > 0)) {
      LemmaTags fresh;
      fresh.lemma_begin = fresh.lemma_end = uint32_t(view.lemmas.size());
      fresh.first_tag = uint32_t(view.tags.size());
      view.groups.push_back(fresh);
      group = &view.groups.back();
      open = true;
    }
    if (is_tag) {
      view.tags.push_back(s);
      ++group->tag_count;
      continue;
    }
    const uint8_t c = uint8_t(s & 0xFF);
    if (c == 0) continue;  // writes nothing
    // The '+' that joins a lemma to the tags before it is no part of it.
    if (c == '+' && view.groups.size() > first_group + 1 &&
        group->lemma_begin == view.lemmas.size())
      continue;
    // As the written text: a complete reading's first character takes the
    // first character's case, a piece's the case of either.
    const bool upper = i > 0      ? latest_upper
                       : complete ? first_upper
                                  : first_upper || latest_upper;
    view.lemmas.push_back(char(upper ? UpperCaseOf(c) : c));
    group->lemma_end = uint32_t(view.lemmas.size());
  }
  if (!open && complete) {
    LemmaTags empty;
    empty.lemma_begin = empty.lemma_end = uint32_t(view.lemmas.size());
    empty.first_tag = uint32_t(view.tags.size());
    view.groups.push_back(empty);
  }
}

}  // namespace

size_t AppendReadings(const Batch& batch, const Event& event,
                      ReadingsView* view) {
  if (event.kind != PieceKind::kReading) return 0;
  ReadingsView& v = *view;
  const size_t first_reading = v.readings.size();
  size_t compound = SIZE_MAX;  // index of the compound reading, if any
  for (uint32_t k = 0; k < event.part_count; ++k) {
    const ReadingPart& part = batch.parts[event.first_part + k];
    if (part.piece) {
      if (compound == SIZE_MAX) {
        compound = v.readings.size();
        v.readings.push_back(StructuredReading{0, 0, true});
      }
      continue;
    }
    StructuredReading reading;
    reading.first_group = uint32_t(v.groups.size());
    AppendGroups(batch.symbols.data() + part.first_symbol, part.symbol_count,
                 part.first_upper, part.latest_upper, true, v);
    reading.group_count = uint32_t(v.groups.size()) - reading.first_group;
    v.readings.push_back(reading);
  }
  if (compound != SIZE_MAX) {
    // The pieces' groups, after the complete readings' ones.
    const uint32_t first_group = uint32_t(v.groups.size());
    for (uint32_t k = 0; k < event.part_count; ++k) {
      const ReadingPart& part = batch.parts[event.first_part + k];
      if (!part.piece) continue;
      AppendGroups(batch.symbols.data() + part.first_symbol, part.symbol_count,
                   part.first_upper, part.latest_upper, false, v);
    }
    v.readings[compound].first_group = first_group;
    v.readings[compound].group_count = uint32_t(v.groups.size()) - first_group;
  }
  return v.readings.size() - first_reading;
}

std::string_view KindName(PieceKind kind) {
  switch (kind) {
    case PieceKind::kReading:
      return "reading";
    case PieceKind::kUnknownWord:
      return "unknown";
    case PieceKind::kCharacter:
      return "plain";
    case PieceKind::kSuperblank:
      return "superblank";
  }
  return "plain";
}

}  // namespace etiquem
