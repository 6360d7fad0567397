// A memory of written stretches: the bytes (and, with events, the reading
// parts) that a stretch's characters were written as, found again with one
// hash of the stretch.
//
// What a stretch writes depends only on its characters and on which of its
// records is written (an analysis, or the unknown-word reading when a letter
// after it dropped a pieces-only analysis): the live states, their outputs,
// the case of the text and the options are all fixed by them. The walk
// (engine/lazy_dfa.h) tells where an attempt ends and which record is
// written; the text of a stretch seen before is then copied from here
// instead of walking the transducer with outputs again. Running text
// repeats itself (a few thousand words make up most of it), so most
// stretches are found here.
//
// Keys are the stretch's character codes: the bytes in Latin-1; in UTF-8
// mode the codes of engine/utf8.h, two bytes each, which tell the
// typographic apostrophes apart (they step like "'" but are echoed as their
// own bytes). A stretch written as its own character is not kept: a blank
// and a superblank's marker step alike but write differently.
//
// Bounded: when `max_entries` stretches, `max_text_bytes` bytes of keys and
// texts (with 4 bytes a stretch for its text's size), `max_parts` parts or
// `max_symbols` symbols are reached, the memory is emptied and fills again
// with what the text uses next.
//
// Finding a stretch reads one slot of its index, which holds the key's
// hash, size and source in one word, and then the key and the text, which
// lie together: most stretches are a common word written again, and this
// is the path they take.

#ifndef ETIQUEM_ENGINE_STRETCH_MEMORY_H_
#define ETIQUEM_ENGINE_STRETCH_MEMORY_H_

#include <array>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "etiquem/etiquem.h"

namespace etiquem {

// What writes a stretch.
enum TextSource : uint8_t {
  kReading = 0,       // an analysis; its bytes are kept
  kUnknownWord = 1,   // an unknown-word reading; its bytes are kept
  kOwnCharacter = 2,  // the first character alone, as itself: never kept
};

constexpr uint32_t kNoParts = 0xFFFFFFFFu;

// A reading part kept with a stretch: as a ReadingPart, with its symbols in
// StretchMemory::symbols.
struct RememberedPart {
  uint32_t first_symbol;
  uint16_t symbol_count;
  uint8_t flags;  // kPartPiece, kPartFirstUpper, kPartLatestUpper
  uint8_t last;   // 1 for the stretch's last part
};
constexpr uint8_t kPartPiece = 1;
constexpr uint8_t kPartFirstUpper = 2;
constexpr uint8_t kPartLatestUpper = 4;

// What a stretch keeps besides its key and text: read only with events.
struct StretchEntry {
  uint32_t first_part;  // its first entry of `parts` (they run to the one
                        // marked last), or kNoParts
};

// A slot of the memory's index: the key's hash, with kHashMark set so that
// a slot in use is never 0 (an empty one), in its low half, and where the
// key lies in `bytes` in its high half. Before the key lie its entry's
// index, its size and source (StretchShape) and its text's size, 4 bytes
// each; its text follows it. So a lookup reads one word of the index, and
// then only bytes that lie together.
struct StretchSlot {
  uint64_t word;
};
static_assert(sizeof(StretchSlot) == 8, "slots are small plain values");
constexpr uint32_t kHashMark = 0x80000000u;

// A key's size and source, as kept before it.
inline uint32_t StretchShape(size_t key_size, TextSource source) {
  return uint32_t(key_size) | uint32_t(source) << 16;
}

struct StretchMemory {
  std::vector<StretchEntry> entries;
  // Open addressing, at most half full; a power of two in size. One empty
  // slot before first use, so that a lookup needs no test for it.
  std::vector<StretchSlot> slots = std::vector<StretchSlot>(1);
  size_t slot_mask = 0;  // slots.size() - 1, kept for the lookup
  // Per stretch its text's size (4 bytes), key and text; then kTailBytes
  // zero bytes. Empty before first use.
  std::string bytes;
  std::vector<RememberedPart> parts;
  std::vector<int32_t> symbols;
  // Measured on all of es.txt (35.6 MB; bench/README.md): with half these
  // bounds it ran 1.18x as long piped and 1.11x from a file; with these,
  // peak RSS grew by 3.4 MB piped and 4.1 MB from a file; twice these
  // bounds ran no faster and took no more memory.
  size_t max_entries = size_t(1) << 17;
  size_t max_text_bytes = size_t(1) << 22;  // `bytes`, keys and texts
  size_t max_parts = size_t(1) << 16;
  size_t max_symbols = size_t(1) << 19;
  uint64_t clears = 0;  // times it was emptied because it was full
  // Changes each time the memory is emptied: an entry's index names the
  // same stretch only within one generation.
  uint32_t generation = 0;
};

// Bytes of `bytes` a stretch takes besides its key and text: its entry's
// index, its shape and its text's size, before its key.
constexpr size_t kStretchHeaderBytes = 12;

// Empties the memory (also on first use).
void ClearMemory(StretchMemory& m);

// Unaligned loads of the bytes of a key.
inline uint64_t LoadKey64(const char* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline uint64_t LoadKey32(const char* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Keys of at most kShortKeyBytes bytes are read as two words from their
// start, past their end: a key given to StretchHash, FindStretch or
// StoreStretch must have that many readable bytes from its start (the
// attempt's arrays, where keys are made, have), and the memory keeps that
// many bytes after every key it holds. Most keys are words of a few
// letters, which are then hashed and compared without a branch on their
// length.
constexpr size_t kShortKeyBytes = 16;

// Zero bytes the memory keeps after its last key and text: a key's two
// words, and a text copied by the chunk of up to kTextChunkBytes that
// holds it (see output.h, AppendChunked), are read past their end.
constexpr size_t kTextChunkBytes = 32;
constexpr size_t kTailBytes = kTextChunkBytes;
static_assert(kTailBytes >= kShortKeyBytes);

// The bytes of a short key's two words that are its own, by its size.
struct ShortKeyMask {
  uint64_t first, second;
};
constexpr uint64_t LowBytes(size_t k) {  // k from 0 to 8
  return k >= 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * k)) - 1;
}
constexpr auto kShortKeyMasks = [] {
  std::array<ShortKeyMask, kShortKeyBytes + 1> masks{};
  for (size_t n = 0; n <= kShortKeyBytes; ++n)
    masks[n] = {LowBytes(n), LowBytes(n > 8 ? n - 8 : 0)};
  return masks;
}();

// The two words of a key of `n` <= kShortKeyBytes bytes at `p`, the bytes
// past its end cleared.
inline void ShortKeyWords(const char* p, size_t n, uint64_t& a, uint64_t& b) {
  const ShortKeyMask& mask = kShortKeyMasks[n];
  a = LoadKey64(p) & mask.first;
  b = LoadKey64(p + 8) & mask.second;
}

// Two words that, with its size, tell a key of at most 16 bytes from every
// other: its first and last 8 bytes, or 4 bytes, or for a key of 1 to 3
// bytes its first, middle and last byte. Every byte read is the key's, so
// keys are read where they lie, a word at a time.
inline void KeyWords(const char* p, size_t n, uint64_t& a, uint64_t& b) {
  if (n >= 8) {
    a = LoadKey64(p);
    b = LoadKey64(p + n - 8);
  } else if (n >= 4) {
    a = LoadKey32(p);
    b = LoadKey32(p + n - 4);
  } else if (n > 0) {
    a = uint64_t(uint8_t(p[0])) << 16 | uint64_t(uint8_t(p[n / 2])) << 8 |
        uint8_t(p[n - 1]);
    b = 0;
  } else {
    a = b = 0;
  }
}

// Two words mixed into one: the exclusive-or of the two halves of their
// 128-bit product, where every bit of each moved every bit of the other.
inline uint64_t MixWords(uint64_t x, uint64_t y) {
  const unsigned __int128 product = static_cast<unsigned __int128>(x) * y;
  return uint64_t(product) ^ uint64_t(product >> 64);
}

// The hash of a short key's two words (ShortKeyWords), one multiplication.
// Its size and source are left out: the slot's tag compares them.
inline uint32_t ShortKeyHash(uint64_t a, uint64_t b) {
  return uint32_t(MixWords(a ^ 0x9E3779B97F4A7C15ull, b ^ 0xC4CEB9FE1A85EC53ull));
}

// The hash of a key: a short key's (ShortKeyHash); a longer one a word at a
// time, each folded in by a multiplication, then with its last two words
// (KeyWords). A key's source does not change it.
inline uint32_t StretchHash(std::string_view key) {
  const char* p = key.data();
  size_t n = key.size();
  uint64_t a, b;
  if (n <= kShortKeyBytes) {
    ShortKeyWords(p, n, a, b);
    return ShortKeyHash(a, b);
  }
  uint64_t h = 0x9E3779B97F4A7C15ull ^ n;
  for (; n > 16; n -= 8, p += 8)
    h = (h ^ LoadKey64(p)) * 0xFF51AFD7ED558CCDull;
  KeyWords(p, n, a, b);
  return uint32_t(MixWords(h ^ a, b ^ 0xC4CEB9FE1A85EC53ull));
}

// Whether the `n` bytes at `x` and at `y` are the same, compared a word at
// a time.
inline bool SameKey(const char* x, const char* y, size_t n) {
  uint64_t xa, xb, ya, yb;
  if (n <= kShortKeyBytes) {
    ShortKeyWords(x, n, xa, xb);
    ShortKeyWords(y, n, ya, yb);
    return ((xa ^ ya) | (xb ^ yb)) == 0;
  }
  for (; n > 16; n -= 8, x += 8, y += 8)
    if (LoadKey64(x) != LoadKey64(y)) return false;
  KeyWords(x, n, xa, xb);
  KeyWords(y, n, ya, yb);
  return ((xa ^ ya) | (xb ^ yb)) == 0;
}

// A key looked up: what its lookup computes once. A short key's two words
// (masked by its size) serve both its hash and the compare with a kept key.
struct StretchQuery {
  const char* key;
  size_t size;
  uint64_t a, b;   // a short key's two words (ShortKeyWords)
  ShortKeyMask mask;
  uint32_t hash;   // StretchHash, with kHashMark
  uint32_t shape;  // StretchShape
};

inline StretchQuery MakeQuery(std::string_view key, TextSource source) {
  StretchQuery q;
  q.key = key.data();
  q.size = key.size();
  if (q.size <= kShortKeyBytes) {
    q.mask = kShortKeyMasks[q.size];
    q.a = LoadKey64(q.key) & q.mask.first;
    q.b = LoadKey64(q.key + 8) & q.mask.second;
    q.hash = ShortKeyHash(q.a, q.b) | kHashMark;
  } else {
    q.hash = StretchHash(key) | kHashMark;
  }
  q.shape = StretchShape(q.size, source);
  return q;
}

// The 4 bytes `k` places of 4 before the key at `key`.
inline uint32_t KeptBefore(const char* key, int k) {
  uint32_t v;
  std::memcpy(&v, key - 4 * k, sizeof v);
  return v;
}

// The key a slot in use points at.
inline const char* SlotKey(const StretchMemory& m, const StretchSlot& slot) {
  return m.bytes.data() + (slot.word >> 32);
}

// The slot of the stretch `q` looks up; null when it is not kept.
inline const StretchSlot* FindStretch(const StretchMemory& m,
                                      const StretchQuery& q) {
  assert(m.slot_mask == m.slots.size() - 1);
  const size_t mask = m.slot_mask;
  for (size_t h = q.hash & mask;; h = (h + 1) & mask) {
    const StretchSlot& slot = m.slots[h];
    if (uint32_t(slot.word) == q.hash) {
      const char* kept = SlotKey(m, slot);
      if (KeptBefore(kept, 2) == q.shape) {
        if (q.size <= kShortKeyBytes) {
          if ((((LoadKey64(kept) ^ q.a) & q.mask.first) |
               ((LoadKey64(kept + 8) ^ q.b) & q.mask.second)) == 0)
            return &slot;
        } else if (SameKey(kept, q.key, q.size)) {
          return &slot;
        }
      }
    } else if (slot.word == 0) {
      return nullptr;
    }
  }
}

// The stretch of characters `key` written from `source` (not kOwnCharacter);
// null when it is not kept.
inline const StretchSlot* FindStretch(const StretchMemory& m,
                                      std::string_view key,
                                      TextSource source) {
  return FindStretch(m, MakeQuery(key, source));
}

// The written bytes of a stretch of `key_size` bytes of key;
// kTextChunkBytes bytes from their start are readable.
inline std::string_view StretchText(const StretchMemory& m,
                                    const StretchSlot& slot, size_t key_size) {
  const char* key = SlotKey(m, slot);
  assert((KeptBefore(key, 2) & 0xFFFF) == key_size);
  const uint32_t size = KeptBefore(key, 1);
  const char* text = key + key_size;
  assert(size_t(text - m.bytes.data()) + size + kTailBytes <= m.bytes.size());
  return std::string_view(text, size);
}
inline std::string_view StretchText(const StretchMemory& m,
                                    const StretchSlot& slot) {
  return StretchText(m, slot, KeptBefore(SlotKey(m, slot), 2) & 0xFFFF);
}

// The index in `entries` of a stretch.
inline uint32_t StretchEntryIndex(const StretchMemory& m,
                                  const StretchSlot& slot) {
  return KeptBefore(SlotKey(m, slot), 3);
}

// Keeps the stretch of characters `key`, written from `source` as `text`
// and described by `parts` (whose first_symbol indexes `symbols`; none
// without events), which the memory does not hold. Empties the memory
// first when it is full; keeps nothing that alone would not fit.
void StoreStretch(StretchMemory& m, std::string_view key, TextSource source,
                  std::string_view text,
                  std::span<const ReadingPart> parts = {},
                  const int32_t* symbols = nullptr);

// The symbols of a part kept in `m`.
inline const int32_t* PartSymbols(const StretchMemory& m,
                                  const RememberedPart& part) {
  return m.symbols.data() + part.first_symbol;
}

}  // namespace etiquem

#endif  // ETIQUEM_ENGINE_STRETCH_MEMORY_H_
