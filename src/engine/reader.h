// The character ring and reader: hands the analysis loop one character at a
// time, fresh from the scanner or read again from the ring of the last 256
// characters of input.
//
// The ring holds input and nothing else. Entry i (a RingIndex, 0 to 255;
// after 255 comes 0) keeps what kind of thing it holds apart from its byte,
// so input bytes 0, 1 and 255 are ordinary characters, a superblank is told
// apart by its kind, and reading the end-of-input entry again gives end of
// input again. What an attempt accepted at each of its characters belongs to
// the attempt (engine/acceptance.h), not to the ring. Superblanks wait in
// input order, each with the input number of its marker, until the emission
// writes them right after the stretch that covers their marker.
//
// Entries are small plain records, so the whole ring stays in the first
// level of the cache.
//
// In UTF-8 mode an entry is one character of 1 to 4 input bytes: its
// matching byte, its variant (engine/utf8.h) and its own bytes, which are
// what is written when it is echoed. The attempt's bound counts entries, so
// characters. The loop reads UTF-8 characters through NextCharacterUtf8,
// whose codes tell the variants apart; Latin-1 keeps NextCharacter.

#ifndef ETIQUEM_ENGINE_READER_H_
#define ETIQUEM_ENGINE_READER_H_

#include <cassert>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>

#include "engine/scanner.h"

namespace etiquem {

// Entries in the ring.
constexpr int kRingSize = 256;
// Characters an attempt may step; an attempt still alive after that many
// ends there, so the attempt, the entry before it and the empty entry after
// it always fit in the ring.
constexpr int kMaxAttemptCharacters = 254;
static_assert(kMaxAttemptCharacters + 2 <= kRingSize);
static_assert((kRingSize & (kRingSize - 1)) == 0, "indices wrap by masking");

// The index of an entry of the ring, 0 to kRingSize - 1. Arithmetic on
// indices wraps with RingAdd.
using RingIndex = uint32_t;

inline RingIndex RingAdd(RingIndex i, int delta) {
  return RingIndex(int(i) + delta) & (kRingSize - 1);
}

// What an entry holds.
enum EntryKind : uint8_t {
  kEmpty = 0,      // nothing stored since the write index last reached it
  kCharacter = 1,  // an input byte, in `byte`
  kSuperblankMarker = 2,  // the marker of a superblank
  kEndOfInputMark = 3,    // the end of the input
};

// NextCharacter's code for a superblank marker (input bytes are 0 to 255;
// in UTF-8 mode characters also take kVariantCodeBase + 1 to 3).
constexpr int kSuperblankCode = 256;
static_assert(kSuperblankCode == kVariantCodeBase, "no variant has code 256");
constexpr int kEndOfInput = -1;

struct RingEntry {
  uint8_t byte = 0;  // the input byte (for kCharacter); in UTF-8 mode the
                     // character's matching byte
  uint8_t kind = kEmpty;
  // UTF-8 mode, for kCharacter: its CharacterVariant, and its input bytes
  // (`length`, 1 to 4, of `raw`). Latin-1 mode leaves them 0.
  uint8_t variant = kLatin1Character;
  uint8_t length = 0;
  uint8_t raw[4] = {};
  // Input offset of the entry's first byte plus 1: strictly increasing
  // along the input, and 0 for an entry never written.
  uint64_t input_number = 0;
};
static_assert(sizeof(RingEntry) == 16, "a ring entry is a quarter cache line");

// The code of a character entry: its byte, or in UTF-8 mode the code of its
// variant (engine/utf8.h).
inline int CharacterCode(const RingEntry& entry) {
  return entry.variant == kLatin1Character ? entry.byte
                                           : kVariantCodeBase + entry.variant;
}

// A superblank waiting to be written.
struct PendingSuperblank {
  std::string text;           // its complete text, opener and closer included
  uint64_t input_number = 0;  // `input_number` of its marker
  uint64_t input_end = 0;     // input offset just past its last byte
};

struct Reader {
  RingEntry ring[kRingSize];
  RingIndex write_index = 0;   // where the next fresh character goes
  RingIndex reread_index = 0;  // the next to read again (while !read_fresh)
  bool read_fresh = true;      // next character from the scanner, not the ring
  std::deque<PendingSuperblank> pending_superblanks;  // in input order
  Scanner* scanner = nullptr;
};

// Empties every entry and the superblank queue; reads from `scanner`.
void InitReader(Reader& reader, Scanner* scanner);

// Takes a token from the scanner and stores it at the write index; the slow
// path of NextCharacter, for when the ring holds nothing to read again.
int NextFreshCharacter(Reader& reader, RingIndex& index);

// Stores plain input byte `c`, of input number `input_number`, at the write
// index as a fresh character is stored, but leaves the entry after it as it
// is: for a run of bytes stored one after the other, only the entry after
// the last must be emptied (ClearWriteEntry).
inline RingIndex StoreInRun(Reader& reader, uint8_t c, uint64_t input_number) {
  const RingIndex i = reader.write_index;
  RingEntry& entry = reader.ring[i];
  reader.write_index = RingAdd(i, 1);
  reader.read_fresh = true;
  entry.kind = kCharacter;
  entry.byte = c;
  entry.input_number = input_number;
  return i;
}

// StoreInRun for a UTF-8 character of `length` (1 to 4) bytes `raw` with
// matching byte `c` and variant `variant`.
inline RingIndex StoreCharacterInRun(Reader& reader, uint8_t c,
                                     uint8_t variant, const char* raw,
                                     int length, uint64_t input_number) {
  const RingIndex i = StoreInRun(reader, c, input_number);
  RingEntry& entry = reader.ring[i];
  entry.variant = variant;
  entry.length = uint8_t(length);
  uint8_t bytes[4] = {};
  for (int k = 0; k < length && k < 4; ++k) bytes[k] = uint8_t(raw[k]);
  std::memcpy(entry.raw, bytes, 4);
  return i;
}

// Empties the entry at the write index, which stops a reading again there.
inline void ClearWriteEntry(Reader& reader) {
  RingEntry& after = reader.ring[reader.write_index];
  after.kind = kEmpty;
  after.byte = 0;
}

// The byte of a plain character the scanner holds, if the next token is
// one: the one rule for what may be taken from the scanner's block without
// asking the scanner (a '<' may open a superblank).
inline bool PlainByteAt(const Scanner& scanner, size_t at) {
  return at < scanner.end && scanner.state == kInText &&
         scanner.block[at] != '<';
}

// Next character: 0..255, kSuperblankCode or kEndOfInput; `index` gets its
// entry. Inline, with the two common cases first: a character read again
// from the ring, and a plain byte already in the scanner's block.
inline int NextCharacter(Reader& reader, RingIndex& index) {
  if (!reader.read_fresh) {
    const RingEntry& entry = reader.ring[reader.reread_index];
    if (entry.kind != kEmpty) {
      index = reader.reread_index;
      reader.reread_index = RingAdd(reader.reread_index, 1);
      return entry.kind == kCharacter          ? entry.byte
             : entry.kind == kSuperblankMarker ? kSuperblankCode
                                               : kEndOfInput;
    }
  }
  // A plain byte: what NextToken would deliver, stored as a fresh token is.
  // The scanner's token is left alone: nothing reads it after the reader
  // has taken its byte.
  Scanner& scanner = *reader.scanner;
  const size_t at = scanner.next;
  if (PlainByteAt(scanner, at)) {
    const uint8_t c = uint8_t(scanner.block[at]);
    scanner.next = at + 1;
    index = StoreInRun(reader, c, scanner.block_offset + at + 1);
    ClearWriteEntry(reader);
    return c;
  }
  return NextFreshCharacter(reader, index);
}

// As NextCharacter, with a superblank delivered as a blank (32).
inline int NextCharacterAsBlank(Reader& reader, RingIndex& index) {
  const int c = NextCharacter(reader, index);
  return c == kSuperblankCode ? 32 : c;
}

// NextCharacter for UTF-8 input: a character code (engine/utf8.h),
// kSuperblankCode or kEndOfInput. ASCII bytes already in the scanner's
// block are taken here; anything else goes through the scanner.
inline int NextCharacterUtf8(Reader& reader, RingIndex& index) {
  if (!reader.read_fresh) {
    const RingEntry& entry = reader.ring[reader.reread_index];
    if (entry.kind != kEmpty) {
      index = reader.reread_index;
      reader.reread_index = RingAdd(reader.reread_index, 1);
      return entry.kind == kCharacter          ? CharacterCode(entry)
             : entry.kind == kSuperblankMarker ? kSuperblankCode
                                               : kEndOfInput;
    }
  }
  Scanner& scanner = *reader.scanner;
  const size_t at = scanner.next;
  if (PlainByteAt(scanner, at) && uint8_t(scanner.block[at]) < 0x80) {
    const char* c = scanner.block.data() + at;
    scanner.next = at + 1;
    index = StoreCharacterInRun(reader, uint8_t(*c), kLatin1Character, c, 1,
                                scanner.block_offset + at + 1);
    ClearWriteEntry(reader);
    return uint8_t(*c);
  }
  return NextFreshCharacter(reader, index);
}

// As NextCharacterUtf8, with a superblank delivered as a blank (32).
inline int NextCharacterAsBlankUtf8(Reader& reader, RingIndex& index) {
  const int c = NextCharacterUtf8(reader, index);
  return c == kSuperblankCode ? 32 : c;
}

}  // namespace etiquem

#endif  // ETIQUEM_ENGINE_READER_H_
