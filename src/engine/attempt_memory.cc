// A memory of finished attempts; see attempt_memory.h.

#include "engine/attempt_memory.h"


#include <algorithm>
#include <cassert>
#include <cstring>

#include "engine/reader.h"

namespace etiquem {

namespace {

constexpr size_t kInitialSlots = 1 << 12;

uint64_t SlotEntry(const AttemptMemory& m, uint32_t n) {
  const MemoryNode& node = m.nodes[n];
  return MemoryKey(node.parent, node.character) | n |
         (node.kind == kClosed ? kClosedFlag : 0);
}

// The slot of node `n`, or of its key's first empty slot.
size_t SlotOf(const AttemptMemory& m, uint32_t n) {
  const size_t mask = m.slots.size() - 1;
  const MemoryNode& node = m.nodes[n];
  const uint64_t key = MemoryKey(node.parent, node.character);
  size_t h = SlotFor(node.parent, node.character, mask);
  while (m.slots[h] != 0 && (m.slots[h] & ~uint64_t(0xFFFFFFFFu)) != key)
    h = (h + 1) & mask;
  return h;
}

void IndexNode(AttemptMemory& m, uint32_t n) {
  const uint64_t e = SlotEntry(m, n);
  m.slots[SlotOf(m, n)] = e;
  if (m.nodes[n].parent == 0)
    m.first_answers[m.nodes[n].character] = uint32_t(e);
}

// Keeps the table at most half full.
void Grow(AttemptMemory& m) {
  if ((m.nodes.size() + 1) * 2 <= m.slots.size()) return;
  m.slots.assign(m.slots.size() * 2, 0);
  for (uint32_t n = 1; n < m.nodes.size(); ++n) IndexNode(m, n);
}

// Keeps the nodes used since the last pruning, in their order (a parent
// always comes before its children, and closed nodes' texts lie in node
// order, so both can be moved down in place), and clears their marks.
void Prune(AttemptMemory& m) {
  m.new_index.assign(m.nodes.size(), 0);
  size_t j = 1;
  size_t text = 0;
  size_t part = 0;
  size_t symbol = 0;
  for (size_t i = 1; i < m.nodes.size(); ++i) {
    MemoryNode node = m.nodes[i];
    if (!m.used[i] || (node.parent != 0 && m.new_index[node.parent] == 0))
      continue;
    node.parent = m.new_index[node.parent];
    if (node.kind == kClosed) {
      std::memmove(&m.texts[0] + text, m.texts.data() + node.text_offset,
                   node.text_size);
      node.text_offset = uint32_t(text);
      text += node.text_size;
      if (node.first_part != kNoParts) {
        const size_t first = part;
        for (size_t k = node.first_part;; ++k) {
          RememberedPart p = m.parts[k];
          // Moved down in place: std::copy goes from the first element on.
          std::copy(PartSymbols(m, p), PartSymbols(m, p) + p.symbol_count,
                    m.symbols.begin() + std::ptrdiff_t(symbol));
          p.first_symbol = uint32_t(symbol);
          symbol += p.symbol_count;
          m.parts[part++] = p;
          if (p.last) break;
        }
        node.first_part = uint32_t(first);
      }
    }
    m.new_index[i] = uint32_t(j);
    m.nodes[j++] = node;
  }
  m.nodes.resize(j);
  m.used.assign(j, 0);
  m.texts.resize(text);
  m.parts.resize(part);
  m.symbols.resize(symbol);
  std::fill(m.slots.begin(), m.slots.end(), 0);
  std::fill(std::begin(m.first_answers), std::end(m.first_answers), 0);
  for (uint32_t n = 1; n < m.nodes.size(); ++n) IndexNode(m, n);
}

// What one attempt adds to the memory, or what must be free.
struct Room {
  size_t nodes = 0;
  size_t text = 0;
  size_t parts = 0;
  size_t symbols = 0;
};

bool Fits(const AttemptMemory& m, const Room& room) {
  return m.nodes.size() + room.nodes <= m.max_nodes &&
         m.texts.size() + room.text <= m.max_text_bytes &&
         m.parts.size() + room.parts <= m.max_parts &&
         m.symbols.size() + room.symbols <= m.max_symbols;
}

// The child of `parent` on `c`, made when missing: one probe finds either the
// child or the empty slot where it goes.
uint32_t ChildOf(AttemptMemory& m, uint32_t parent, uint32_t c) {
  Grow(m);
  const size_t mask = m.slots.size() - 1;
  const uint64_t key = MemoryKey(parent, c);
  size_t h = SlotFor(parent, c, mask);
  while (m.slots[h] != 0) {
    if ((m.slots[h] & ~uint64_t(0xFFFFFFFFu)) == key) {
      const uint32_t n = uint32_t(m.slots[h]) & ~kClosedFlag;
      m.used[n] = 1;
      return n;
    }
    h = (h + 1) & mask;
  }
  const uint32_t n = uint32_t(m.nodes.size());
  m.nodes.push_back(MemoryNode{parent, uint16_t(c), kOpen, 0, 0, 0, 0, kNoParts});
  m.used.push_back(0);
  m.slots[h] = key | n;
  if (parent == 0) m.first_answers[c] = n;
  return n;
}

}  // namespace

void ClearMemory(AttemptMemory& m) {
  // Parent indices are kept in 23 bits of a slot.
  if (m.max_nodes > (size_t(1) << 23)) m.max_nodes = size_t(1) << 23;
  // Reserved at the bound, so growth never doubles past it; pages not yet
  // written take no memory.
  m.nodes.reserve(m.max_nodes);
  m.used.reserve(m.max_nodes);
  m.texts.reserve(m.max_text_bytes);
  m.nodes.clear();
  m.nodes.push_back(MemoryNode{});
  m.used.assign(1, 0);
  std::fill(std::begin(m.first_answers), std::end(m.first_answers), 0);
  m.slots.assign(kInitialSlots, 0);
  m.texts.clear();
  m.parts.clear();
  m.symbols.clear();
}

static_assert(kMaxAttemptCharacters <= 255, "a node keeps a length in 8 bits");

namespace {

// Character codes of a path: bytes, or UTF-8 character codes.
inline uint32_t CodeOf(char c) { return uint8_t(c); }
inline uint32_t CodeOf(uint16_t c) { return c; }

template <typename Path>
void Store(AttemptMemory& m, Path path, uint32_t length, std::string_view text,
           TextSource source, std::span<const ReadingPart> parts,
           const int32_t* symbols) {
  if (m.nodes.empty()) ClearMemory(m);
  if (source == kOwnCharacter) text = {};
  Room room{path.size(), text.size(), parts.size(), 0};
  for (const ReadingPart& p : parts) room.symbols += p.symbol_count;
  if (!Fits(m, room)) {
    Prune(m);
    const Room quarter{m.max_nodes / 4 + room.nodes,
                       m.max_text_bytes / 4 + room.text,
                       m.max_parts / 4 + room.parts,
                       m.max_symbols / 4 + room.symbols};
    if (!Fits(m, quarter)) ClearMemory(m);
  }
  if (room.nodes > m.max_nodes || room.text > m.max_text_bytes ||
      room.text >= kMaxStoredText ||
      room.parts > m.max_parts || room.symbols > m.max_symbols)
    return;
  uint32_t n = 0;
  for (auto c : path) n = ChildOf(m, n, CodeOf(c));
  MemoryNode& node = m.nodes[n];
  node.kind = kClosed;
  node.source = source;
  assert(length >= 1 && length <= uint32_t(kMaxAttemptCharacters));
  node.length = uint8_t(length);
  node.text_offset = uint32_t(m.texts.size());
  node.text_size = uint32_t(text.size());
  m.texts.append(text.data(), text.size());
  node.first_part = parts.empty() ? kNoParts : uint32_t(m.parts.size());
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
  IndexNode(m, n);  // the slot now answers "closed"
}

}  // namespace

void StoreAttempt(AttemptMemory& m, std::string_view path, uint32_t length,
                  std::string_view text, TextSource source,
                  std::span<const ReadingPart> parts, const int32_t* symbols) {
  Store(m, path, length, text, source, parts, symbols);
}

void StoreAttempt(AttemptMemory& m, std::span<const uint16_t> path,
                  uint32_t length, std::string_view text, TextSource source,
                  std::span<const ReadingPart> parts, const int32_t* symbols) {
  Store(m, path, length, text, source, parts, symbols);
}

}  // namespace etiquem
