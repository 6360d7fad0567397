// A memory of finished attempts; see attempt_memory.h.

#include "engine/attempt_memory.h"

#include <algorithm>
#include <cstring>

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
    }
    m.new_index[i] = uint32_t(j);
    m.nodes[j++] = node;
  }
  m.nodes.resize(j);
  m.used.assign(j, 0);
  m.texts.resize(text);
  std::fill(m.slots.begin(), m.slots.end(), 0);
  std::fill(std::begin(m.first_answers), std::end(m.first_answers), 0);
  for (uint32_t n = 1; n < m.nodes.size(); ++n) IndexNode(m, n);
}

bool Fits(const AttemptMemory& m, size_t nodes, size_t text) {
  return m.nodes.size() + nodes <= m.max_nodes &&
         m.texts.size() + text <= m.max_text_bytes;
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
  m.nodes.push_back(MemoryNode{parent, uint16_t(c), kOpen, 0, 0, 0, 0});
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
}

namespace {

// Character codes of a path: bytes, or UTF-8 character codes.
inline uint32_t CodeOf(char c) { return uint8_t(c); }
inline uint32_t CodeOf(uint16_t c) { return c; }

template <typename Path>
void Store(AttemptMemory& m, Path path, uint32_t length, std::string_view text,
           TextSource source) {
  if (m.nodes.empty()) ClearMemory(m);
  if (!Fits(m, path.size(), text.size())) {
    Prune(m);
    if (!Fits(m, m.max_nodes / 4 + path.size(),
              m.max_text_bytes / 4 + text.size()))
      ClearMemory(m);
  }
  if (path.size() > m.max_nodes || text.size() > m.max_text_bytes) return;
  uint32_t n = 0;
  for (auto c : path) n = ChildOf(m, n, CodeOf(c));
  MemoryNode& node = m.nodes[n];
  node.kind = kClosed;
  node.source = source;
  node.length = length;
  node.text_offset = uint32_t(m.texts.size());
  node.text_size = source == kOwnCharacter ? 0 : uint32_t(text.size());
  m.texts.append(text.data(), node.text_size);
  IndexNode(m, n);  // the slot now answers "closed"
}

}  // namespace

void StoreAttempt(AttemptMemory& m, std::string_view path, uint32_t length,
                  std::string_view text, TextSource source) {
  Store(m, path, length, text, source);
}

void StoreAttempt(AttemptMemory& m, std::span<const uint16_t> path,
                  uint32_t length, std::string_view text, TextSource source) {
  Store(m, path, length, text, source);
}

}  // namespace etiquem
