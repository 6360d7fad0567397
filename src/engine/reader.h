// The character ring and reader: hands the analysis loop one character at a
// time, fresh from the scanner or re-read from the ring of the last 256
// input positions.
//
// Positions are numbered 1 to 256 (position p is entry p-1; after 256 comes
// 1), and every character is reported with its entry index, 0 to 255. Each
// position keeps what kind of thing it holds apart from its byte, so input
// bytes 0, 1 and 255 are ordinary characters, a superblank is told apart by
// its kind, and re-reading the end-of-input position gives end of input
// again. Superblanks wait in input order, each with its marker position,
// until the emission writes them right after the stretch that covers their
// marker.
//
// Positions are small plain records, so the whole ring stays in the first
// level of the cache.

#ifndef ETIQUEM_ENGINE_READER_H_
#define ETIQUEM_ENGINE_READER_H_

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "engine/output_buffer.h"
#include "engine/scanner.h"

namespace etiquem {

// What a ring position holds.
enum EntryKind : uint8_t {
  kEmpty = 0,      // nothing stored since the write position last reached it
  kCharacter = 1,  // an input byte, in `byte`
  kSuperblankMarker = 2,  // the marker of a superblank
  kEndOfInputMark = 3,    // the end of the input
};

// NextCharacter's code for a superblank marker (input bytes are 0 to 255).
constexpr int kSuperblankCode = 256;
constexpr int kEndOfInput = -1;

// What the live states accepted at a position.
enum Acceptance : int32_t {
  kNoAcceptance = 0,      // nothing
  kCompleteAnalysis = 1,  // a complete analysis
  kPiecesOrUnknown = 2,   // pieces of a compound reading or an unknown word
};

// A reading recorded at a position. It names what was accepted rather than
// holding the text: the accepting outputs are entries [first_accepted,
// first_accepted + accepted_count) of the attempt's acceptance list (see
// engine/acceptance.h), and the surface form is the first `form_length`
// characters of the attempt. Texts are rendered only for the record that is
// written, and records are plain values, so recording allocates nothing.
struct ReadingRecord {
  bool present = false;         // whether the record is present
  uint8_t first_upper = 0;      // case flag of the attempt's first character
  uint8_t latest_upper = 0;     // case flag of the latest character
  uint8_t option = 0;           // -a for an analysis, -m for an unknown word
  uint16_t form_length = 0;     // bytes of the surface form
  uint32_t first_accepted = 0;  // first acceptance entry of the reading
  uint32_t accepted_count = 0;  // acceptance entries of the reading
};

struct RingEntry {
  uint8_t byte = 0;  // the input byte (for kCharacter)
  uint8_t kind = kEmpty;
  Acceptance acceptance = kNoAcceptance;
  uint64_t input_number =
      0;                   // number in the input of the position's first byte,
                           // from 1 (strictly increasing along the input)
  ReadingRecord analysis;  // the analysis recorded here
  ReadingRecord unknown;   // the unknown-word reading recorded here
};

// A superblank waiting to be written.
struct PendingSuperblank {
  std::string text;           // its complete text, opener and closer included
  uint64_t input_number = 0;  // `input_number` of its marker
};

struct Reader {
  RingEntry ring[256];
  int write_position =
      1;  // write position: where the next fresh character goes
  int reread_position = 1;  // re-read position (meaningful while !read_fresh)
  bool read_fresh = true;   // next character from the scanner, not the ring
  std::deque<PendingSuperblank> pending_superblanks;  // waiting, in input order
  Scanner* scanner = nullptr;
};

inline int NextPosition(int p) { return (p & 255) + 1; }  // p in 1..256

// Empties every position and the superblank queue; reads from `e`.
void InitReader(Reader& l, Scanner* e);

// Takes a token from the scanner and stores it at the write position; the
// slow path of NextCharacter, for when the ring holds nothing to re-read.
int NextFreshCharacter(Reader& l, int& k);

// Stores plain input byte `c`, number `input_number` of the input, at the write
// position as a fresh character is stored, but leaves the position after it
// as it is: for a run of bytes stored one after the other, only the position
// after the last must be emptied (ClearWritePosition). Everything is loaded
// before the first store, since byte stores may alias any field and would
// force reloads.
inline int StoreInRun(Reader& l, uint8_t c, uint64_t input_number) {
  const int i = l.write_position;
  RingEntry& p = l.ring[i - 1];
  l.write_position = NextPosition(i);
  l.read_fresh = true;
  p.kind = kCharacter;
  p.byte = c;
  p.acceptance = kNoAcceptance;
  p.analysis.present = false;
  p.unknown.present = false;
  p.input_number = input_number;
  return i - 1;
}

// Empties the write position, which stops a re-read there.
inline void ClearWritePosition(Reader& l) {
  RingEntry& after = l.ring[l.write_position - 1];
  after.kind = kEmpty;
  after.byte = 0;
  after.acceptance = kNoAcceptance;
  after.analysis.present = false;
  after.unknown.present = false;
}

// Stores plain input byte `c`, number `input_number` of the input, just taken
// from the scanner's buffer, at the write position, as a fresh character is
// stored, and returns its entry index.
inline int StoreFresh(Reader& l, uint8_t c, uint64_t input_number) {
  const int k = StoreInRun(l, c, input_number);
  ClearWritePosition(l);
  return k;
}

// Next character: 0..255, kSuperblankCode or kEndOfInput; `k` gets its entry
// index. Inline, with the two common cases first: a character re-read from
// the ring, and a plain byte already in the scanner's buffer.
inline int NextCharacter(Reader& l, int& k) {
  if (!l.read_fresh) {
    const RingEntry& p = l.ring[l.reread_position - 1];
    if (p.kind != kEmpty) {
      k = l.reread_position - 1;
      l.reread_position = NextPosition(l.reread_position);
      return p.kind == kCharacter          ? p.byte
             : p.kind == kSuperblankMarker ? kSuperblankCode
                                           : kEndOfInput;
    }
  }
  // A plain byte: what NextToken would deliver, stored as TakeFresh would store
  // it. The scanner's token is left alone: nothing reads it after the reader
  // has taken its byte.
  Scanner& e = *l.scanner;
  const size_t pos = e.next;
  if (pos < e.end && e.state == kInText) {
    const uint8_t c = uint8_t(e.block[pos]);
    if (c != '<') {
      e.next = pos + 1;
      k = StoreFresh(l, c, e.block_offset + pos + 1);
      return c;
    }
  }
  return NextFreshCharacter(l, k);
}

// As NextCharacter, with a superblank delivered as a blank (32).
inline int NextCharacterAsBlank(Reader& l, int& k) {
  int c = NextCharacter(l, k);
  return c == kSuperblankCode ? 32 : c;
}

// Writes the oldest waiting superblank unchanged and drops it; flushes at
// once when its text holds "<![CDATA[.]]>".
void WriteOldestSuperblank(Reader& l, OutputBuffer& s);

}  // namespace etiquem

#endif  // ETIQUEM_ENGINE_READER_H_
