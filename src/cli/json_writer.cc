// --json; see json_writer.h.

#include "cli/json_writer.h"

#include <array>
#include <charconv>
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

void AppendEscape(uint8_t c, std::string& out) {
  switch (c) {
    case '"':
      out += "\\\"";
      return;
    case '\\':
      out += "\\\\";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\t':
      out += "\\t";
      return;
    case '\r':
      out += "\\r";
      return;
    default: {
      static constexpr char kHex[] = "0123456789abcdef";
      const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
      out.append(escape, sizeof escape);
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

void AppendNumber(uint64_t n, std::string& out) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, n);
  out.append(digits, result.ptr);
}

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

void AppendGroup(JsonWriter& w, const LemmaTags& group, std::string& out) {
  const ReadingsView& v = w.view;
  out += "{\"lemma\":";
  AppendJsonString(std::string_view(v.lemmas).substr(
                       group.lemma_begin, group.lemma_end - group.lemma_begin),
                   false, out);
  out += ",\"tags\":[";
  for (uint32_t t = 0; t < group.tag_count; ++t) {
    if (t > 0) out.push_back(',');
    out += TagString(w, v.tags[group.first_tag + t]);
  }
  out += "]}";
}

void AppendReadingsField(JsonWriter& w, const Batch& batch, const Event& event,
                         std::string& out) {
  ReadingsView& v = w.view;
  v.Clear();
  AppendReadings(batch, event, &v);
  out += ",\"readings\":[";
  for (size_t r = 0; r < v.readings.size(); ++r) {
    const StructuredReading& reading = v.readings[r];
    if (r > 0) out.push_back(',');
    if (!reading.compound && reading.group_count == 1) {
      AppendGroup(w, v.groups[reading.first_group], out);
      continue;
    }
    out += "{\"pieces\":[";
    for (uint32_t g = 0; g < reading.group_count; ++g) {
      if (g > 0) out.push_back(',');
      AppendGroup(w, v.groups[reading.first_group + g], out);
    }
    out += reading.compound ? "],\"compound\":true}"sv : "]}"sv;
  }
  out.push_back(']');
}

// The "surface", "text" and "readings" fields of reading `e`, from the
// cache or made and cached.
void AppendReadingFields(JsonWriter& w, const Batch& batch, const Event& e,
                         std::string_view surface, std::string_view text,
                         std::string& out) {
  std::string_view kept;
  if (FindFragment(w.cache, surface, &kept) != nullptr) {
    out += kept;
    return;
  }
  std::string& fields = w.fields;
  fields = ",\"surface\":";
  AppendJsonString(surface, w.utf8, fields);
  fields += ",\"text\":"sv;
  AppendJsonString(text, w.utf8, fields);
  AppendReadingsField(w, batch, e, fields);
  out += fields;
  KeepFragment(w.cache, surface, fields);
}

uint64_t HashOf(std::string_view key) {
  uint64_t h = 0xcbf29ce484222325u;  // FNV-1a, never 0 after the mix below
  for (char c : key) h = (h ^ uint8_t(c)) * 0x100000001b3u;
  return h | 1;
}

// One line: the fields every piece has, then its readings.
void AppendLine(JsonWriter& w, const Batch& batch, PieceKind kind,
                uint64_t start, uint64_t end, std::string_view surface,
                std::string_view text, const Event* reading,
                std::string& out) {
  out += "{\"kind\":\""sv;
  out += KindName(kind);
  out += "\",\"start\":"sv;
  AppendNumber(start, out);
  out += ",\"end\":"sv;
  AppendNumber(end, out);
  if (reading != nullptr) {
    AppendReadingFields(w, batch, *reading, surface, text, out);
  } else {
    out += ",\"surface\":"sv;
    AppendJsonString(surface, w.utf8, out);
    out += ",\"text\":"sv;
    AppendJsonString(text, w.utf8, out);
  }
  out += "}\n"sv;
}

std::string_view Written(const Batch& batch, const Event& e) {
  return batch.output.substr(e.output_begin, e.output_end - e.output_begin);
}

}  // namespace

const std::string_view* FindFragment(FragmentCache& cache,
                                     std::string_view key,
                                     std::string_view* value) {
  if (cache.slots.empty()) return nullptr;
  const uint64_t h = HashOf(key);
  const size_t mask = cache.slots.size() - 1;
  for (size_t i = h & mask;; i = (i + 1) & mask) {
    const FragmentCache::Slot& slot = cache.slots[i];
    if (slot.hash == 0) return nullptr;
    if (slot.hash == h && slot.key_size == key.size() &&
        cache.arena.compare(slot.offset, key.size(), key) == 0) {
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

void AppendJsonString(std::string_view bytes, bool utf8, std::string& out) {
  out.push_back('"');
  size_t i = 0;
  while (i < bytes.size()) {
    // The bytes that need nothing, in one append.
    size_t j = i;
    while (j < bytes.size() && kByteClasses[uint8_t(bytes[j])] == 0) ++j;
    out.append(bytes.data() + i, j - i);
    if (j == bytes.size()) break;
    const uint8_t c = uint8_t(bytes[j]);
    i = j + 1;
    if (kByteClasses[c] == 1) {
      AppendEscape(c, out);
    } else if (!utf8) {
      out.push_back(char(0xC0 | (c >> 6)));
      out.push_back(char(0x80 | (c & 0x3F)));
    } else if (const size_t n = ValidSequence(bytes, j); n > 0) {
      out.append(bytes.data() + j, n);
      i = j + n;
    } else {
      out += kReplacement;
    }
  }
  out.push_back('"');
}

void AppendJsonLines(JsonWriter& w, const Batch& batch, std::string& out) {
  const std::span<const Event> events = batch.events;
  for (size_t i = 0; i < events.size();) {
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
        AppendLine(w, batch, e.kind, e.input_begin, events[j - 1].input_end,
                   text, text, nullptr, out);
        i = j;
        continue;
      }
      case PieceKind::kSuperblank: {
        // As it came, with the closer that the end of the input may lack.
        const std::string_view text = Written(batch, e);
        AppendLine(w, batch, e.kind, e.input_begin, e.input_end,
                   text.substr(0, e.input_end - e.input_begin), text, nullptr,
                   out);
        break;
      }
      case PieceKind::kUnknownWord:
      case PieceKind::kReading:
        AppendLine(w, batch, e.kind, e.input_begin, e.input_end,
                   batch.surfaces.substr(e.surface_begin,
                                         e.surface_end - e.surface_begin),
                   Written(batch, e),
                   e.kind == PieceKind::kReading ? &e : nullptr, out);
        break;
    }
    ++i;
  }
}

bool WriteJsonBatch(void* context, const Batch& batch) {
  JsonWriter& w = *static_cast<JsonWriter*>(context);
  w.lines.clear();
  AppendJsonLines(w, batch, w.lines);
  Batch lines;
  lines.output = w.lines;
  lines.unknown_words = batch.unknown_words;
  return WriteBatch(w.files, lines);
}

}  // namespace etiquem
