// A memory of written stretches; see stretch_memory.h.

#include "engine/stretch_memory.h"

#include <cassert>
#include <cstring>

namespace etiquem {

namespace {

constexpr size_t kInitialSlots = size_t(1) << 12;

[[maybe_unused]] constexpr char kZeros[kTailBytes] = {};

// Puts `slot` into the first empty slot of its probe.
void PlaceSlot(StretchMemory& m, const StretchSlot& slot) {
  const size_t mask = m.slot_mask;
  size_t h = uint32_t(slot.word) & mask;
  while (m.slots[h].word != 0) h = (h + 1) & mask;
  m.slots[h] = slot;
}

// Keeps the index at most half full.
void GrowSlots(StretchMemory& m) {
  if ((m.entries.size() + 1) * 2 <= m.slots.size()) return;
  std::vector<StretchSlot> old(m.slots.size() * 2);
  old.swap(m.slots);
  m.slot_mask = m.slots.size() - 1;
  for (const StretchSlot& slot : old)
    if (slot.word != 0) PlaceSlot(m, slot);
}

bool Fits(const StretchMemory& m, size_t bytes, size_t parts, size_t symbols) {
  return m.entries.size() + 1 <= m.max_entries &&
         m.bytes.size() + bytes <= m.max_text_bytes &&
         m.parts.size() + parts <= m.max_parts &&
         m.symbols.size() + symbols <= m.max_symbols;
}

}  // namespace

void ClearMemory(StretchMemory& m) {
  // Reserved at the bounds, so growth never doubles past them; pages not
  // yet written take no memory.
  m.entries.reserve(m.max_entries);
  m.bytes.reserve(m.max_text_bytes);
  m.entries.clear();
  m.bytes.assign(kTailBytes, '\0');
  m.parts.clear();
  m.symbols.clear();
  m.slots.assign(kInitialSlots, StretchSlot{});
  m.slot_mask = kInitialSlots - 1;
  ++m.generation;
}

void StoreStretch(StretchMemory& m, std::string_view key, TextSource source,
                  std::string_view text, std::span<const ReadingPart> parts,
                  const int32_t* symbols) {
  assert(source != kOwnCharacter && !key.empty());
  assert(FindStretch(m, key, source) == nullptr);
  if (m.bytes.empty()) ClearMemory(m);
  size_t symbol_count = 0;
  for (const ReadingPart& p : parts) symbol_count += p.symbol_count;
  const size_t bytes = kStretchHeaderBytes + key.size() + text.size();
  if (!Fits(m, bytes, parts.size(), symbol_count)) {
    ClearMemory(m);
    ++m.clears;
    if (!Fits(m, bytes, parts.size(), symbol_count) ||
        text.size() > UINT32_MAX / 2)
      return;
  }
  // The text's size, the key and the text go where the zero bytes after
  // the last text were: one resize (within the room reserved at the
  // bound, which Fits keeps to), whose new bytes are zeros, and the
  // copies. What follows the text is those zeros or the old ones.
  assert(m.bytes.size() >= kTailBytes);
  const size_t at = m.bytes.size() - kTailBytes;
  m.bytes.resize(at + bytes + kTailBytes);
  char* const p = m.bytes.data() + at;
  const uint32_t header[3] = {uint32_t(m.entries.size()),
                              StretchShape(key.size(), source),
                              uint32_t(text.size())};
  static_assert(sizeof header == kStretchHeaderBytes);
  std::memcpy(p, header, sizeof header);
  std::memcpy(p + kStretchHeaderBytes, key.data(), key.size());
  if (!text.empty())
    std::memcpy(p + kStretchHeaderBytes + key.size(), text.data(),
                text.size());
  assert(std::memcmp(p + bytes, kZeros, kTailBytes) == 0);
  StretchEntry e;
  e.first_part = parts.empty() ? kNoParts : uint32_t(m.parts.size());
  for (const ReadingPart& p : parts) {
    const int32_t* s = symbols + p.first_symbol;
    RememberedPart kept;
    kept.first_symbol = uint32_t(m.symbols.size());
    kept.symbol_count = uint16_t(p.symbol_count);
    kept.flags = uint8_t((p.piece ? kPartPiece : 0) |
                         (p.first_upper ? kPartFirstUpper : 0) |
                         (p.latest_upper ? kPartLatestUpper : 0));
    kept.last = &p == &parts.back();
    m.symbols.insert(m.symbols.end(), s, s + p.symbol_count);
    m.parts.push_back(kept);
  }
  GrowSlots(m);
  StretchSlot slot;
  slot.word = uint64_t(StretchHash(key) | kHashMark) |
              uint64_t(at + kStretchHeaderBytes) << 32;
  PlaceSlot(m, slot);
  m.entries.push_back(e);
}

}  // namespace etiquem
