// A memory of finished attempts.
//
// What an attempt writes depends only on the characters it stepped: the
// live-state walk, the readings recorded, the choice of the longest stretch
// and the case of the texts are all functions of those characters (records
// of earlier attempts are never consulted, and options are fixed for the
// run). Running text repeats itself (a few thousand words make up most of
// it), so the outcome of each attempt is kept in a trie keyed by its
// characters: an attempt whose characters follow a stored path is answered
// with one hash lookup per character instead of a walk of the transducer.
// A trie node is either "alive" (the walk goes on after this prefix) or
// "closed" (the attempt ends at this character; the node holds the length
// of the stretch written and its exact bytes). One thing the characters do
// not tell apart: a blank and a superblank's marker step alike but write
// differently, so a stretch written as its own character is not stored as
// bytes (see TextSource).
//
// Characters are keyed by their code: the byte in Latin-1, and in UTF-8 mode
// the character code of engine/utf8.h (up to kMaxCharacterCode), which
// tells the typographic apostrophes apart from "'" and from each other: they
// step alike but are echoed as their own bytes, in surface forms and unknown
// words. Characters outside every alphabet share one code: they end every
// path, so they are never part of a stored stretch's bytes (a stretch ends
// before them, or is that character alone, which is not stored as bytes).
//
// When the analysis describes what it writes (Options::events), a closed
// node also keeps the reading parts and symbols of its stretch, so that
// remembered attempts are described without a walk: the parts, like the
// bytes, depend only on the characters.
//
// Memory is bounded: when `max_nodes` nodes, `max_text_bytes` bytes of text,
// `max_parts` parts or `max_symbols` symbols are reached, only the paths
// walked again since they were stored or last
// kept are kept (every node a walk passes is marked), so frequent words stay
// while words seen once go; if that does not free a quarter of the room,
// the memory is emptied. Measured on 25.7 MB of Catalan prose with a
// 640,000-entry dictionary (bench/README.md): at these bounds (about 5 MB
// of the process's peak) it answers 97 % of attempts and makes the run
// three times faster. Twice the bounds cost 10 MB more and save only 2 % of
// the instructions on text that does not repeat itself (15 % on a corpus
// made of the same text four times over).

#ifndef ETIQUEM_ENGINE_ATTEMPT_MEMORY_H_
#define ETIQUEM_ENGINE_ATTEMPT_MEMORY_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/utf8.h"
#include "etiquem/etiquem.h"

namespace etiquem {

// Character codes the memory keys by: 0 to kMemoryCodes - 1.
constexpr int kMemoryCodes = kMaxCharacterCode + 1;

enum MemoryNodeKind : uint8_t {
  kOpen = 1,    // the walk goes on after this prefix
  kClosed = 2,  // the attempt ends with this character
};

// What writes a stored stretch.
enum TextSource : uint8_t {
  kReading = 0,       // an analysis; its bytes are stored
  kUnknownWord = 1,   // an unknown-word reading; its bytes are stored
  kOwnCharacter = 2,  // the first character alone, as itself: its bytes are
                      // not stored, since a blank and a superblank's marker
                      // step alike but write differently
};

struct MemoryNode {
  uint32_t parent;     // node of the prefix without the last character
  uint16_t character;  // the last character's code
  uint8_t kind;        // kOpen or kClosed
  uint8_t source;      // closed: what writes the stretch (TextSource)
  uint32_t text_offset;  // closed: offset of its bytes in `texts`
  uint32_t text_size : 24;  // closed: number of those bytes (a stretch's
                            // text is stored only below kMaxStoredText)
  uint32_t length : 8;      // closed: characters in the stretch written (1
                            // to kMaxAttemptCharacters)
  uint32_t first_part;   // closed: its first entry of `parts` (its parts run
                         // to the one marked last), or kNoParts
};
static_assert(sizeof(MemoryNode) == 20, "nodes are reserved at the bound");
constexpr size_t kMaxStoredText = size_t(1) << 24;

constexpr uint32_t kNoParts = 0xFFFFFFFFu;

// A reading part kept with a closed node: as a ReadingPart, with its symbols
// in AttemptMemory::symbols.
struct RememberedPart {
  uint32_t first_symbol;
  uint16_t symbol_count;
  uint8_t flags;  // kPartPiece, kPartFirstUpper, kPartLatestUpper
  uint8_t last;   // 1 for the node's last part
};
constexpr uint8_t kPartPiece = 1;
constexpr uint8_t kPartFirstUpper = 2;
constexpr uint8_t kPartLatestUpper = 4;

struct AttemptMemory {
  std::vector<MemoryNode> nodes;  // node 0 is the empty prefix
  // Hash slots, 0 when empty, else the key and the answer together, so that
  // a lookup reads one slot: bits 41..63 the parent node, 32..40 the
  // character's code, 31 set for a closed node, 0..30 the node.
  std::vector<uint64_t> slots;
  std::vector<uint8_t> used;  // per node: a walk passed it since the
                              // memory was last pruned
  // The answers for the first character of an attempt, as the slots would
  // give them: every attempt starts here, so this lookup stays in the
  // first-level cache instead of a random slot of the table.
  uint32_t first_answers[kMemoryCodes] = {};
  std::string texts;                   // bytes written by closed attempts
  // Reading parts of closed attempts, in node order; each part's
  // first_symbol indexes `symbols`, which lie in part order.
  std::vector<RememberedPart> parts;
  std::vector<int32_t> symbols;
  std::vector<uint32_t> new_index;     // scratch for pruning: old node -> new
  size_t max_nodes = size_t(1) << 17;  // at most 2^23
  size_t max_text_bytes = size_t(1) << 21;
  size_t max_parts = size_t(1) << 17;
  size_t max_symbols = size_t(1) << 20;
};

// Empties the memory (also on first use).
void ClearMemory(AttemptMemory& m);

constexpr uint32_t kClosedFlag = 0x80000000u;  // flag of a closed node

inline uint64_t MemoryKey(uint32_t parent, uint32_t c) {
  return uint64_t(parent) << 41 | uint64_t(c) << 32;
}

inline size_t SlotFor(uint32_t parent, uint32_t c, size_t mask) {
  return (size_t(parent) * 0x9E3779B1u + c * 0x85EBCA77u) & mask;
}

// The child of `parent` on code `c` (below kMemoryCodes): 0 when there is
// none, else its node index, with kClosedFlag set when the attempt closes
// there. A node found is marked as used.
inline uint32_t LookupMemory(AttemptMemory& m, uint32_t parent, uint32_t c) {
  if (parent == 0) {
    const uint32_t answer = m.first_answers[c];
    if (answer != 0) m.used[answer & ~kClosedFlag] = 1;
    return answer;
  }
  if (m.slots.empty()) return 0;
  const size_t mask = m.slots.size() - 1;
  const uint64_t key = MemoryKey(parent, c);
  for (size_t h = SlotFor(parent, c, mask);; h = (h + 1) & mask) {
    const uint64_t e = m.slots[h];
    if (e == 0) return 0;
    if ((e & ~uint64_t(0xFFFFFFFFu)) == key) {
      const uint32_t answer = uint32_t(e);
      m.used[answer & ~kClosedFlag] = 1;
      return answer;
    }
  }
}

// Stores the attempt of characters `path` that wrote `text` from `source` for
// its first `length` characters, described by reading parts `parts` (whose
// first_symbol indexes `symbols`; none without events). May empty the
// memory first when it is full.
void StoreAttempt(AttemptMemory& m, std::string_view path, uint32_t length,
                  std::string_view text, TextSource source,
                  std::span<const ReadingPart> parts = {},
                  const int32_t* symbols = nullptr);
// The same for a path of character codes (UTF-8 mode).
void StoreAttempt(AttemptMemory& m, std::span<const uint16_t> path,
                  uint32_t length, std::string_view text, TextSource source,
                  std::span<const ReadingPart> parts = {},
                  const int32_t* symbols = nullptr);

// The symbols of a part kept in `m`.
inline const int32_t* PartSymbols(const AttemptMemory& m,
                                  const RememberedPart& part) {
  return m.symbols.data() + part.first_symbol;
}

}  // namespace etiquem

#endif  // ETIQUEM_ENGINE_ATTEMPT_MEMORY_H_
