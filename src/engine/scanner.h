// The input scanner: cuts the input into character tokens and whole
// superblank tokens ("<![CDATA[" up to the next "]]>").
//
// A hand-written matcher over a block buffer filled by read(2). Outside a
// superblank every byte is a token of its own, except that "<![CDATA[" opens
// a superblank; an opener begun but not finished falls back to a "<" token
// and the following bytes are scanned afresh. Inside, bytes gather until the
// first "]]>" (or the end of the input, which closes the block). A read
// returns whatever is available, so the scanner never waits for input beyond
// what it needs to decide the current token; just before every read it
// flushes the pending output, so what was written for the input consumed so
// far has left the program before it may block.
//
// In UTF-8 mode (engine/utf8.h) a character token is a whole character, or
// an invalid unit, of 1 to 4 bytes; its bytes are kept with it so that it
// can be written back as it came. Superblanks are found exactly as in
// Latin-1 (their delimiters are ASCII, and no unit holds an ASCII byte other
// than its only one). The invalid units met, in characters and superblanks
// alike, are counted.

#ifndef ETIQUEM_ENGINE_SCANNER_H_
#define ETIQUEM_ENGINE_SCANNER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/output.h"
#include "engine/utf8.h"

namespace etiquem {

// Token kinds returned by NextToken.
constexpr int kTokenCharacter = -11;
constexpr int kTokenSuperblank = -10;
constexpr int kTokenEnd = -1;

// Start conditions.
constexpr int kInText = 0;
constexpr int kInSuperblank = 1;

struct ScannedToken {
  uint8_t byte = 0;       // the byte of a character token (in UTF-8 mode,
                          // its matching byte); 0 otherwise
  uint8_t variant = kLatin1Character;  // a character token's CharacterVariant
  uint8_t length = 0;     // a character token's input bytes, 1 to 4
  uint8_t raw[4] = {};    // those bytes
  std::string text;       // text of a superblank token (NUL bytes kept)
  bool has_text = false;  // whether `text` holds the last token's text
};

struct Scanner {
  int fd = 0;               // input descriptor; -1: the bytes of `memory`
  std::string_view memory;  // input in memory not yet read into `block`
  std::vector<char> block;  // input block; [next, end) not yet scanned
  size_t next = 0;
  size_t end = 0;
  uint64_t block_offset = 0;  // input bytes before block[0]
  int64_t file_offset = -1;   // >= 0: read with pread(2) from this
                              // file offset instead of read(2)
  bool at_end = false;                        // a read returned end of input
  int state = kInText;                        // kInText or kInSuperblank
  std::string superblank_text;                // superblank being gathered
  ScannedToken token;                         // last token delivered
  Output* flush_before_read = nullptr;  // handed over before every read
  uint64_t read_calls = 0;  // read(2) calls made, for measurements
  bool utf8 = false;        // characters are UTF-8 (else Latin-1 bytes)
  uint64_t superblank_offset = 0;  // input offset of the superblank being
                                   // gathered
  InvalidUtf8Count invalid_utf8;   // UTF-8 mode: invalid units met so far
};

// Prepares `e` to read `input` in blocks of `block_size` bytes, reusing its
// block when it has one of that size; `utf8` selects UTF-8 mode.
void InitScanner(Scanner& e, const Input& input,
                 size_t block_size = size_t(1) << 16, bool utf8 = false);

// Input offset of the next byte to scan.
inline uint64_t ScannerOffset(const Scanner& e) {
  return e.block_offset + e.next;
}

void ClearToken(Scanner& e);

// The slow path of NextToken: refills, openers and superblanks.
int NextTokenSlow(Scanner& e);

// Delivers the next token: kTokenCharacter, kTokenSuperblank or kTokenEnd
// (repeated on every call after the end). A read error is an
// AnalysisFailure with status 2.
inline int NextToken(Scanner& e) {
  // Fast path: a plain byte already in the buffer (in UTF-8 mode, ASCII).
  if (e.next < e.end && e.state == kInText) {
    const uint8_t b = uint8_t(e.block[e.next]);
    if (b != '<' && (b < 0x80 || !e.utf8)) {
      if (e.token.has_text) ClearToken(e);
      ++e.next;
      e.token.byte = b;
      e.token.variant = kLatin1Character;
      e.token.length = 1;
      e.token.raw[0] = b;
      return kTokenCharacter;
    }
  }
  return NextTokenSlow(e);
}

}  // namespace etiquem

#endif  // ETIQUEM_ENGINE_SCANNER_H_
