// A memory of written stretches; see stretch_memory.h.

#include "engine/stretch_memory.h"

#include <cassert>
#include <cstring>

namespace etiquem {

namespace {

constexpr size_t kInitialSlots = size_t(1) << 12;

[[maybe_unused]] constexpr char kZeros[kTailBytes] = {};

// Keeps the index at most half full.
void GrowSlots(StretchMemory& m) {
  if ((m.entries.size() + 1) * 2 <= m.slots.size()) return;
  m.slots.assign(m.slots.size() * 2, 0);
  const size_t mask = m.slots.size() - 1;
  for (size_t i = 0; i < m.entries.size(); ++i) {
    size_t h = m.entries[i].hash & mask;
    while (m.slots[h] != 0) h = (h + 1) & mask;
    m.slots[h] = uint32_t(i + 1);
  }
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
  m.slots.assign(kInitialSlots, 0);
  ++m.generation;
}

void StoreStretch(StretchMemory& m, std::string_view key, TextSource source,
                  uint32_t hash, std::string_view text,
                  std::span<const ReadingPart> parts, const int32_t* symbols) {
  assert(source != kOwnCharacter && !key.empty());
  assert(hash == StretchHash(key, source));
  if (m.slots.empty()) ClearMemory(m);
  size_t symbol_count = 0;
  for (const ReadingPart& p : parts) symbol_count += p.symbol_count;
  const size_t bytes = key.size() + text.size();
  if (!Fits(m, bytes, parts.size(), symbol_count)) {
    ClearMemory(m);
    ++m.clears;
    if (!Fits(m, bytes, parts.size(), symbol_count) ||
        text.size() > UINT32_MAX / 2)
      return;
  }
  StretchEntry e;
  e.hash = hash;
  e.source = source;
  e.key_size = uint16_t(key.size());
  // The key and the text go where the zero bytes after the last key
  // were: one resize (within the room reserved at the bound, which Fits
  // keeps to), whose new bytes are zeros, and two copies. What follows
  // the text is those zeros or the old ones.
  assert(m.bytes.size() >= kTailBytes);
  const size_t at = m.bytes.size() - kTailBytes;
  m.bytes.resize(at + bytes + kTailBytes);
  char* const p = m.bytes.data() + at;
  std::memcpy(p, key.data(), key.size());
  if (!text.empty()) std::memcpy(p + key.size(), text.data(), text.size());
  assert(std::memcmp(p + bytes, kZeros, kTailBytes) == 0);
  e.key_offset = uint32_t(at);
  e.text_offset = uint32_t(at + key.size());
  e.text_size = uint32_t(text.size());
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
  const size_t mask = m.slots.size() - 1;
  size_t h = hash & mask;
  while (m.slots[h] != 0) h = (h + 1) & mask;
  m.entries.push_back(e);
  m.slots[h] = uint32_t(m.entries.size());
}

}  // namespace etiquem
