// --json: the program's output as JSON Lines, one object per written piece,
// as a sink of the engine's batches in place of the annotated bytes.
//
//   {"kind":"reading","start":0,"end":4,"surface":"casa",
//    "text":"casa&n;&f;&sg;/","readings":[{"lemma":"casa","tags":["n","f","sg"]}]}
//
// `kind` is "reading", "unknown", "plain" (characters written as they came:
// a run of them is one piece) or "superblank"; `start` and `end` are byte
// offsets in the input; `surface` is the input's text of the piece, `text`
// what the plain output writes for it, so the `text` fields of all lines
// make exactly the plain output. Readings come from the dictionary's symbols
// (include/etiquem/structured.h): {"lemma","tags"} for a complete reading,
// {"pieces":[{"lemma","tags"},...]} for a joined one (several lemmas, as
// "a&pr;+el&det;...") and the same with "compound":true for a compound
// one. Strings are UTF-8:
// Latin-1 text is transcoded, and in UTF-8 mode a byte that is not part of
// a valid sequence becomes U+FFFD.
//
// A run of plain characters is cut where the engine hands a batch over, so
// lines keep pace with the input in a pipe. The unknown-words file (-d) is
// written as without --json. doc/json.md has the schema.

#ifndef ETIQUEM_CLI_JSON_WRITER_H_
#define ETIQUEM_CLI_JSON_WRITER_H_

#include <cassert>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cli/output_files.h"
#include "etiquem/etiquem.h"
#include "etiquem/structured.h"

namespace etiquem {

// Fragments of lines kept by key: an open-addressed table over one arena,
// so a lookup costs a hash and, mostly, two cache lines. Emptied when the
// arena reaches `max_bytes` (0: nothing is kept).
struct FragmentCache {
  struct Slot {
    uint64_t hash = 0;       // 0: empty
    uint32_t offset = 0;     // of the key in `arena`; the value follows it
    uint32_t key_size = 0;
    uint32_t value_size = 0;
  };
  std::vector<Slot> slots;  // a power of two, at most half full
  size_t used = 0;
  std::string arena;
  size_t max_bytes = size_t(4) << 20;
};

// The value kept for `key`, or null; `hash` is HashOf(key).
const std::string_view* FindFragment(FragmentCache& cache,
                                     std::string_view key,
                                     std::string_view* value);
const std::string_view* FindFragment(FragmentCache& cache,
                                     std::string_view key, uint64_t hash,
                                     std::string_view* value);

// The hash the cache keys `key` by (never 0).
uint64_t HashOf(std::string_view key);

// Keeps `value` for `key` (not already kept).
void KeepFragment(FragmentCache& cache, std::string_view key,
                  std::string_view value);

// Bytes being written, with room kept ahead: each append checks the room
// with one compare and copies, where std::string's append goes through
// calls that cost more than the copy of a short field. The lines of a batch
// are made of about ten fields each (measured: std::string appends were a
// third of --json's instructions).
class JsonText {
 public:
  // Room for `n` more bytes, which the caller writes and then Commit()s.
  // Put and Room are forced inline: as calls they were a fifth of the
  // writer's instructions, and each copy went through memcpy's entry
  // where a short field of known size is a move or two.
  [[gnu::always_inline]] char* Room(size_t n) {
    if (size_ + n > bytes_.size()) [[unlikely]] Grow(size_ + n);
    return bytes_.data() + size_;
  }
  void Commit(size_t n) {
    assert(size_ + n <= bytes_.size());
    size_ += n;
  }
  [[gnu::always_inline]] void Put(std::string_view s) {
    std::memcpy(Room(s.size()), s.data(), s.size());
    size_ += s.size();
  }
  [[gnu::always_inline]] void Put(char c) {
    *Room(1) = c;
    ++size_;
  }
  std::string_view View() const { return {bytes_.data(), size_}; }
  void Clear() { size_ = 0; }

 private:
  void Grow(size_t needed);
  std::string bytes_;  // [0, size_) written; the rest is room
  size_t size_ = 0;
};

struct JsonWriter {
  const Dictionary* dictionary = nullptr;
  bool utf8 = false;             // the text is UTF-8 (else Latin-1)
  OutputFiles* files = nullptr;  // where the lines go
  JsonText lines;                // this batch's lines
  ReadingsView view;             // scratch for a piece's readings
  // Per tag symbol (from kFirstTagSymbol): its name as a JSON string, made
  // on first use; empty until then.
  std::vector<std::string> tag_strings;
  // Running text repeats its words, and what a stretch writes depends only
  // on its characters (the memory of stretches rests on the same fact): the
  // "surface", "text" and "readings" fields of a reading are kept, keyed by
  // its surface, once made.
  FragmentCache cache;
  // The "surface" and "text" fields of runs of characters written as they
  // came, keyed by their text; those of one byte (about half of all lines,
  // mostly a space) by the byte, made on first use.
  FragmentCache plain_cache;
  std::string one_byte_fields[256];
  JsonText fields;  // scratch
  // Pieces follow one another: a line's "start" is mostly the line
  // before's "end", whose digits (the first `last_end_size` bytes) are kept
  // here.
  uint64_t last_end = UINT64_MAX;
  char last_end_digits[20] = {};
  uint8_t last_end_size = 0;
};

// The sink: `context` is a JsonWriter. Writes the batch's lines to standard
// output, kJsonWriteBytes or so at a time, and its unknown-word lines to
// the -d file, as WriteBatch does.
bool WriteJsonBatch(void* context, const Batch& batch);

// Appends `bytes` to `out` as a JSON string, quotes included: Latin-1
// transcoded to UTF-8, or, with `utf8`, UTF-8 checked (U+FFFD for a byte
// outside a valid sequence).
void AppendJsonString(std::string_view bytes, bool utf8, JsonText& out);
void AppendJsonString(std::string_view bytes, bool utf8, std::string& out);

// Appends to `out` the JSON lines of `batch` from event `first_event` on,
// until `out` holds `max_bytes` or more; returns the event to go on from
// (the number of events when all are written). Lines are whole: a run of
// plain characters is never cut.
size_t AppendJsonLines(JsonWriter& writer, const Batch& batch,
                       size_t first_event, size_t max_bytes, JsonText& out);

// Bytes of lines WriteJsonBatch makes before it writes them. The lines are
// 16 times the annotated text, so a batch of a MB made whole would be
// written from far outside the processor's caches; in slices of this size
// the lines are written while still in them.
constexpr size_t kJsonWriteBytes = size_t(1) << 16;

}  // namespace etiquem

#endif  // ETIQUEM_CLI_JSON_WRITER_H_
