// --json; see json_writer.h.

#include "cli/json_writer.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace etiquem {

namespace {

using std::string_view_literals::operator""sv;

// What a byte needs inside a JSON string: nothing (0), an escape (1), or,
// from 0x80 on, transcoding or checking (2).
constexpr std::array<uint8_t, 256> MakeByteClasses() {
  std::array<uint8_t, 256> classes{};
  for (int c = 0; c < 256; ++c)
    classes[size_t(c)] = c < 0x20 || c == '"' || c == '\\' ? 1
                         : c >= 0x80                       ? 2
                                                           : 0;
  return classes;
}
constexpr std::array<uint8_t, 256> kByteClasses = MakeByteClasses();

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

void AppendEscape(uint8_t c, JsonText& out) {
  switch (c) {
    case '"':
      out.Put("\\\""sv);
      return;
    case '\\':
      out.Put("\\\\"sv);
      return;
    case '\n':
      out.Put("\\n"sv);
      return;
    case '\t':
      out.Put("\\t"sv);
      return;
    case '\r':
      out.Put("\\r"sv);
      return;
    default: {
      static constexpr char kHex[] = "0123456789abcdef";
      const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
      out.Put(std::string_view(escape, sizeof escape));
    }
  }
}

// The length of the valid UTF-8 sequence at `s[i]` (a byte >= 0x80), or 0.
size_t ValidSequence(std::string_view s, size_t i) {
  const uint8_t c = uint8_t(s[i]);
  size_t n;
  uint8_t low = 0x80, high = 0xBF;  // bounds of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) low = 0xA0;   // no overlong forms
    if (c == 0xED) high = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;  // nothing past U+10FFFF
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  const uint8_t second = uint8_t(s[i + 1]);
  if (second < low || second > high) return 0;
  for (size_t k = 2; k < n; ++k)
    if ((uint8_t(s[i + k]) & 0xC0) != 0x80) return 0;
  return n;
}

// Decimal digits of `n`, written from the last, two at a time, ending at
// `end`; returns where they start. Offsets are most of a line's numbers
// (std::to_chars took about 120 instructions each here, this about 30).
char* WriteDigits(uint64_t n, char* end) {
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536"
      "37383940414243444546474849505152535455565758596061626364656667686970717273"
      "74757677787980818283848586878889909192939495969798999";
  char* first = end;
  while (n >= 100) {
    const size_t pair = size_t(n % 100) * 2;
    n /= 100;
    *--first = kPairs[pair + 1];
    *--first = kPairs[pair];
  }
  if (n >= 10) {
    *--first = kPairs[n * 2 + 1];
    *--first = kPairs[n * 2];
  } else {
    *--first = char('0' + n);
  }
  return first;
}

// Enough for 2^64 - 1.
constexpr size_t kMaxDigits = 20;
static_assert(sizeof(JsonWriter::last_end_digits) == kMaxDigits);


const std::string& TagString(JsonWriter& w, int32_t symbol) {
  const size_t i = size_t(symbol - kFirstTagSymbol);
  if (i >= w.tag_strings.size()) w.tag_strings.resize(i + 1);
  std::string& s = w.tag_strings[i];
  if (s.empty()) {
    const std::string* name = w.dictionary->TagName(symbol);
    // Names are the dictionary's bytes, Latin-1.
    AppendJsonString(name != nullptr ? *name : std::string(), false, s);
  }
  return s;
}

void AppendGroup(JsonWriter& w, const LemmaTags& group, JsonText& out) {
  const ReadingsView& v = w.view;
  out.Put("{\"lemma\":"sv);
  AppendJsonString(std::string_view(v.lemmas).substr(
                       group.lemma_begin, group.lemma_end - group.lemma_begin),
                   false, out);
  out.Put(",\"tags\":["sv);
  for (uint32_t t = 0; t < group.tag_count; ++t) {
    if (t > 0) out.Put(',');
    out.Put(TagString(w, v.tags[group.first_tag + t]));
  }
  out.Put("]}"sv);
}

void AppendReadingsField(JsonWriter& w, const Batch& batch, const Event& event,
                         JsonText& out) {
  ReadingsView& v = w.view;
  v.Clear();
  AppendReadings(batch, event, &v);
  out.Put(",\"readings\":["sv);
  for (size_t r = 0; r < v.readings.size(); ++r) {
    const StructuredReading& reading = v.readings[r];
    if (r > 0) out.Put(',');
    if (!reading.compound && reading.group_count == 1) {
      AppendGroup(w, v.groups[reading.first_group], out);
      continue;
    }
    out.Put("{\"pieces\":["sv);
    for (uint32_t g = 0; g < reading.group_count; ++g) {
      if (g > 0) out.Put(',');
      AppendGroup(w, v.groups[reading.first_group + g], out);
    }
    out.Put(reading.compound ? "],\"compound\":true}"sv : "]}"sv);
  }
  out.Put(']');
}

// The "surface" and "text" fields, made in `w.fields`: those of unknown
// words and superblanks. The view lasts until the next call.
std::string_view TextFields(JsonWriter& w, std::string_view surface,
                            std::string_view text) {
  JsonText& fields = w.fields;
  fields.Clear();
  fields.Put(",\"surface\":"sv);
  AppendJsonString(surface, w.utf8, fields);
  fields.Put(",\"text\":"sv);
  AppendJsonString(text, w.utf8, fields);
  return fields.View();
}

// The "surface", "text" and "readings" fields of reading `e`, from the
// cache or made and cached. The view lasts until the next call.
std::string_view ReadingFields(JsonWriter& w, const Batch& batch,
                               const Event& e, std::string_view surface,
                               uint64_t surface_hash, std::string_view text) {
  std::string_view kept;
  if (FindFragment(w.cache, surface, surface_hash, &kept) != nullptr)
    return kept;
  TextFields(w, surface, text);
  AppendReadingsField(w, batch, e, w.fields);
  KeepFragment(w.cache, surface, w.fields.View());
  return w.fields.View();
}

// The "surface" and "text" fields of a piece written as it came: the same
// bytes twice, made once. Runs of blanks and punctuation repeat as words
// do, so they are kept by their text too. The view lasts until the next
// call.
std::string_view PlainFields(JsonWriter& w, std::string_view text) {
  std::string* one_byte = nullptr;
  if (text.size() == 1) {
    one_byte = &w.one_byte_fields[uint8_t(text[0])];
    if (!one_byte->empty()) return *one_byte;
  }
  std::string_view kept;
  if (one_byte == nullptr &&
      FindFragment(w.plain_cache, text, &kept) != nullptr)
    return kept;
  JsonText& fields = w.fields;
  fields.Clear();
  fields.Put(",\"surface\":"sv);
  const size_t begin = fields.View().size();
  AppendJsonString(text, w.utf8, fields);
  const size_t size = fields.View().size() - begin;
  fields.Put(",\"text\":"sv);
  char* copy = fields.Room(size);  // may move the bytes: View() after it
  std::memcpy(copy, fields.View().data() + begin, size);
  fields.Commit(size);
  if (one_byte != nullptr) {
    one_byte->assign(fields.View());
    return *one_byte;
  }
  KeepFragment(w.plain_cache, text, fields.View());
  return fields.View();
}

}  // namespace

uint64_t HashOf(std::string_view key) {
  // Eight bytes at a time: keys are words and runs of blanks, a few bytes
  // each, and a byte at a time cost half of a lookup.
  uint64_t h = 0x9e3779b97f4a7c15u ^ key.size();
  size_t i = 0;
  for (; i + 8 <= key.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, key.data() + i, 8);
    h = (h ^ word) * 0xff51afd7ed558ccdu;
    h ^= h >> 29;
  }
  uint64_t tail = 0;
  for (size_t k = 0; i + k < key.size(); ++k)
    tail |= uint64_t(uint8_t(key[i + k])) << (8 * k);
  h = (h ^ tail) * 0xc4ceb9fe1a85ec53u;
  h ^= h >> 32;
  return h | 1;  // 0 marks an empty slot
}

namespace {

// Whether the `n` bytes at `a` and `b` are the same: keys are short, and a
// loop costs less than a call to memcmp.
bool SameBytes(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return false;
  return true;
}

// What a line starts with, up to the digits of "start", padded to a fixed
// size so that it is copied as one block of known size.
constexpr size_t kLinePrefixBytes = 32;
struct LinePrefix {
  char bytes[kLinePrefixBytes];
  size_t size;
};

constexpr LinePrefix MakeLinePrefix(std::string_view kind) {
  constexpr std::string_view kHead = "{\"kind\":\""sv;
  constexpr std::string_view kTail = "\",\"start\":"sv;
  LinePrefix prefix{};
  size_t n = 0;
  for (char c : kHead) prefix.bytes[n++] = c;
  for (char c : kind) prefix.bytes[n++] = c;
  for (char c : kTail) prefix.bytes[n++] = c;
  prefix.size = n;
  return prefix;
}

constexpr LinePrefix kReadingPrefix = MakeLinePrefix("reading");
constexpr LinePrefix kUnknownPrefix = MakeLinePrefix("unknown");
constexpr LinePrefix kPlainPrefix = MakeLinePrefix("plain");
constexpr LinePrefix kSuperblankPrefix = MakeLinePrefix("superblank");
static_assert(kSuperblankPrefix.size <= kLinePrefixBytes);

const LinePrefix& LinePrefixOf(PieceKind kind) {
  switch (kind) {
    case PieceKind::kReading:
      return kReadingPrefix;
    case PieceKind::kUnknownWord:
      return kUnknownPrefix;
    case PieceKind::kCharacter:
      return kPlainPrefix;
    case PieceKind::kSuperblank:
      return kSuperblankPrefix;
  }
  return kPlainPrefix;
}

// Writes `s` at `p` and returns where it ends.
char* Copy(char* p, std::string_view s) {
  std::memcpy(p, s.data(), s.size());
  return p + s.size();
}

// Makes the kept digits of the last end (see JsonWriter) those of
// last_end + delta: mostly the last digit alone changes.
void AdvanceLastEnd(JsonWriter& w, uint64_t delta) {
  char* const digits = w.last_end_digits;
  w.last_end += delta;
  int i = int(w.last_end_size) - 1;
  if (delta >= 10) {
    char scratch[kMaxDigits];
    const char* d = WriteDigits(w.last_end, scratch + kMaxDigits);
    w.last_end_size = uint8_t(scratch + kMaxDigits - d);
    std::memcpy(digits, d, w.last_end_size);
    return;
  }
  const int last = digits[i] - '0' + int(delta);
  if (last < 10) {
    digits[i] = char('0' + last);
    return;
  }
  digits[i--] = char('0' + last - 10);
  while (i >= 0 && digits[i] == '9') digits[i--] = '0';
  if (i >= 0) {
    ++digits[i];
    return;
  }
  // 9...9 + delta: one digit more.
  assert(w.last_end_size < kMaxDigits);
  std::memmove(digits + 1, digits, w.last_end_size);
  digits[0] = '1';
  ++w.last_end_size;
}

// One line: the kind and offsets every piece has, then `fields`. Room for
// the whole line is taken once; the prefix and the offsets' digits are
// copied at a fixed size (a move or two), then the end advances by their
// count.
void AppendLine(JsonWriter& w, PieceKind kind, uint64_t start, uint64_t end,
                std::string_view fields, JsonText& out) {
  constexpr std::string_view kEnd = ",\"end\":"sv;
  constexpr std::string_view kClose = "}\n"sv;
  assert(start <= end);
  const LinePrefix& prefix = LinePrefixOf(kind);
  char* const first = out.Room(kLinePrefixBytes + 2 * kMaxDigits +
                               kEnd.size() + fields.size() + kClose.size());
  std::memcpy(first, prefix.bytes, kLinePrefixBytes);
  char* p = first + prefix.size;
  if (start != w.last_end) {
    char scratch[kMaxDigits];
    const char* d = WriteDigits(start, scratch + kMaxDigits);
    w.last_end = start;
    w.last_end_size = uint8_t(scratch + kMaxDigits - d);
    std::memcpy(w.last_end_digits, d, w.last_end_size);
  }
  std::memcpy(p, w.last_end_digits, kMaxDigits);
  p += w.last_end_size;
  p = Copy(p, kEnd);
  AdvanceLastEnd(w, end - start);
  std::memcpy(p, w.last_end_digits, kMaxDigits);
  p += w.last_end_size;
  p = Copy(p, fields);
  p = Copy(p, kClose);
  out.Commit(size_t(p - first));
}

std::string_view Written(const Batch& batch, const Event& e) {
  return batch.output.substr(e.output_begin, e.output_end - e.output_begin);
}

}  // namespace

const std::string_view* FindFragment(FragmentCache& cache,
                                     std::string_view key,
                                     std::string_view* value) {
  return FindFragment(cache, key, HashOf(key), value);
}

const std::string_view* FindFragment(FragmentCache& cache,
                                     std::string_view key, uint64_t h,
                                     std::string_view* value) {
  if (cache.slots.empty()) return nullptr;
  assert(h == HashOf(key));
  const size_t mask = cache.slots.size() - 1;
  for (size_t i = h & mask;; i = (i + 1) & mask) {
    const FragmentCache::Slot& slot = cache.slots[i];
    if (slot.hash == 0) return nullptr;
    if (slot.hash == h && slot.key_size == key.size() &&
        SameBytes(cache.arena.data() + slot.offset, key.data(), key.size())) {
      *value = std::string_view(cache.arena)
                   .substr(slot.offset + slot.key_size, slot.value_size);
      return value;
    }
  }
}

void KeepFragment(FragmentCache& cache, std::string_view key,
                  std::string_view value) {
  const size_t size = key.size() + value.size();
  if (size > cache.max_bytes / 4) return;  // 0 bytes: nothing is kept
  if (cache.arena.size() + size > cache.max_bytes || cache.slots.empty()) {
    cache.arena.clear();
    cache.slots.assign(size_t(1) << 16, FragmentCache::Slot{});
    cache.used = 0;
  }
  if ((cache.used + 1) * 2 > cache.slots.size()) {
    std::vector<FragmentCache::Slot> old(cache.slots.size() * 2);
    old.swap(cache.slots);
    const size_t mask = cache.slots.size() - 1;
    for (const FragmentCache::Slot& slot : old) {
      if (slot.hash == 0) continue;
      size_t i = slot.hash & mask;
      while (cache.slots[i].hash != 0) i = (i + 1) & mask;
      cache.slots[i] = slot;
    }
  }
  const uint64_t h = HashOf(key);
  const size_t mask = cache.slots.size() - 1;
  size_t i = h & mask;
  while (cache.slots[i].hash != 0) i = (i + 1) & mask;
  cache.slots[i] = FragmentCache::Slot{h, uint32_t(cache.arena.size()),
                                       uint32_t(key.size()),
                                       uint32_t(value.size())};
  ++cache.used;
  cache.arena.append(key);
  cache.arena.append(value);
}

void JsonText::Grow(size_t needed) {
  bytes_.resize(std::max(needed, 2 * bytes_.size()));
}

void AppendJsonString(std::string_view bytes, bool utf8, JsonText& out) {
  out.Put('"');
  size_t i = 0;
  while (i < bytes.size()) {
    // The bytes that need nothing, in one append.
    size_t j = i;
    while (j < bytes.size() && kByteClasses[uint8_t(bytes[j])] == 0) ++j;
    out.Put(bytes.substr(i, j - i));
    if (j == bytes.size()) break;
    const uint8_t c = uint8_t(bytes[j]);
    i = j + 1;
    if (kByteClasses[c] == 1) {
      AppendEscape(c, out);
    } else if (!utf8) {
      const char pair[] = {char(0xC0 | (c >> 6)), char(0x80 | (c & 0x3F))};
      out.Put(std::string_view(pair, 2));
    } else if (const size_t n = ValidSequence(bytes, j); n > 0) {
      out.Put(bytes.substr(j, n));
      i = j + n;
    } else {
      out.Put(kReplacement);
    }
  }
  out.Put('"');
}

void AppendJsonString(std::string_view bytes, bool utf8, std::string& out) {
  JsonText text;
  AppendJsonString(bytes, utf8, text);
  out += text.View();
}

namespace {

// A reading's line is mostly its cached fields, and finding them waited
// mostly on memory: the vocabulary of running text spreads the cache over
// megabytes (a lookup was a third of the line writer's time in a profile,
// for a twelfth of its instructions). So the cache slot of the reading
// kSlotsAhead events on, and then the fragment of the one kFragmentsAhead
// on, are asked for early; each surface is hashed once.
struct CacheLookahead {
  static constexpr size_t kSlotsAhead = 8;      // events
  static constexpr size_t kFragmentsAhead = 4;  // events
  static constexpr size_t kRing = 16;
  static_assert(kSlotsAhead < kRing && kFragmentsAhead < kSlotsAhead);
  uint64_t hashes[kRing] = {};  // event i's surface hash at i % kRing
  size_t hashed = 0;   // events below this are hashed, their slots asked for
  size_t fetched = 0;  // events below this have their fragments asked for

  std::string_view SurfaceOf(const Batch& batch, size_t i) const {
    const Event& e = batch.events[i];
    return batch.surfaces.substr(e.surface_begin,
                                 e.surface_end - e.surface_begin);
  }

  // Readies event `i` and asks for what the ones ahead need.
  void Advance(const FragmentCache& cache, const Batch& batch, size_t i) {
    const size_t n = batch.events.size();
    const size_t mask = cache.slots.size() - 1;
    for (; hashed < std::min(n, i + kSlotsAhead + 1); ++hashed) {
      if (batch.events[hashed].kind != PieceKind::kReading) continue;
      const uint64_t h = HashOf(SurfaceOf(batch, hashed));
      hashes[hashed % kRing] = h;
      if (!cache.slots.empty()) __builtin_prefetch(&cache.slots[h & mask]);
    }
    for (; fetched < std::min(n, i + kFragmentsAhead + 1); ++fetched) {
      if (batch.events[fetched].kind != PieceKind::kReading ||
          cache.slots.empty())
        continue;
      const uint64_t h = hashes[fetched % kRing];
      const FragmentCache::Slot& slot = cache.slots[h & mask];
      if (slot.hash == h) __builtin_prefetch(cache.arena.data() + slot.offset);
    }
  }
};

}  // namespace

size_t AppendJsonLines(JsonWriter& w, const Batch& batch, size_t first_event,
                       size_t max_bytes, JsonText& out) {
  const std::span<const Event> events = batch.events;
  CacheLookahead ahead;
  ahead.hashed = ahead.fetched = first_event;
  for (size_t i = first_event; i < events.size();) {
    if (out.View().size() >= max_bytes) return i;
    ahead.Advance(w.cache, batch, i);
    const Event& e = events[i];
    switch (e.kind) {
      case PieceKind::kCharacter: {
        // A run of characters written as they came, one after the other.
        size_t j = i + 1;
        while (j < events.size() && events[j].kind == PieceKind::kCharacter &&
               events[j].input_begin == events[j - 1].input_end &&
               events[j].output_begin == events[j - 1].output_end)
          ++j;
        const std::string_view text = batch.output.substr(
            e.output_begin, events[j - 1].output_end - e.output_begin);
        AppendLine(w, e.kind, e.input_begin, events[j - 1].input_end,
                   PlainFields(w, text), out);
        i = j;
        continue;
      }
      case PieceKind::kSuperblank: {
        // As it came, with the closer that the end of the input may lack.
        const std::string_view text = Written(batch, e);
        AppendLine(w, e.kind, e.input_begin, e.input_end,
                   TextFields(w, text.substr(0, e.input_end - e.input_begin),
                               text),
                   out);
        break;
      }
      case PieceKind::kUnknownWord:
      case PieceKind::kReading: {
        const std::string_view surface = batch.surfaces.substr(
            e.surface_begin, e.surface_end - e.surface_begin);
        AppendLine(w, e.kind, e.input_begin, e.input_end,
                   e.kind == PieceKind::kReading
                       ? ReadingFields(w, batch, e, surface,
                                       ahead.hashes[i % CacheLookahead::kRing],
                                       Written(batch, e))
                       : TextFields(w, surface, Written(batch, e)),
                   out);
        break;
      }
    }
    ++i;
  }
  return events.size();
}

bool WriteJsonBatch(void* context, const Batch& batch) {
  JsonWriter& w = *static_cast<JsonWriter*>(context);
  Batch lines;
  lines.unknown_words = batch.unknown_words;
  size_t next = 0;
  do {
    w.lines.Clear();
    next = AppendJsonLines(w, batch, next, kJsonWriteBytes, w.lines);
    lines.output = w.lines.View();
    if (!WriteBatch(w.files, lines)) return false;
    lines.unknown_words = {};
  } while (next < batch.events.size());
  return true;
}

}  // namespace etiquem
