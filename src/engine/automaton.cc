// Loading the automaton file and the lookups on the loaded model.
//
// The layout is described field by field in doc/automaton-format.md.
//
// The file is parsed in one pass while it is read, in chunks of kChunkBytes,
// and every field is checked as it arrives, so a broken file is refused at
// the first byte that condemns it and a file that never ends (a device, a
// pipe) costs no more than what has arrived. The model grows record by
// record as its bytes come in, never ahead of them: a hostile count makes
// nothing large by itself. When the size is known, room for the records the
// remaining bytes could hold is reserved at once (address space, not
// memory), so that the vectors are not copied and their pages not touched
// twice as they grow: on a dictionary of a few megabytes the page faults
// cost more than the parsing. Pointers into the model's flat vectors are set
// once the last record is in, when the vectors no longer move.
//
// Counts are also checked against the size of the file when it is known
// before reading (a regular file, bytes in memory): a count that needs more
// bytes than remain ends the load at once, as a file ending early, reported
// at the file's end. When the size is not known, counts are taken at their
// word until the stream ends; a fault found before then is reported at once,
// where a file long enough for those counts would have it reported. A file
// that ends early or holds impossible values is refused with one line naming
// the file, what is wrong and where.

#include "engine/automaton.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <new>

#include "engine/messages.h"

namespace etiquem {

void* AllocateRecords(size_t bytes) {
  if (bytes < kHugeRecordBytes) return ::operator new(bytes);
  const size_t rounded = (bytes + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
  void* records = ::operator new(rounded, std::align_val_t(kHugePageBytes));
#ifdef MADV_HUGEPAGE
  madvise(records, rounded, MADV_HUGEPAGE);
#endif
  return records;
}

void FreeRecords(void* records, size_t bytes) {
  if (bytes < kHugeRecordBytes) {
    ::operator delete(records);
    return;
  }
  ::operator delete(records, std::align_val_t(kHugePageBytes));
}

namespace {

// Bytes read from a descriptor at a time.
constexpr size_t kChunkBytes = size_t(1) << 16;

// `ParseState::known_size` when the size is not known before reading.
constexpr uint64_t kUnknownSize = UINT64_MAX;

// The most records of each kind reserved ahead (see ReserveRoom): 128 MiB of
// address space for the groups of a file of 50 MB or more.
constexpr uint64_t kMaxReservedRecords = uint64_t(1) << 23;

// The bytes of the file as they arrive: a window onto the file, refilled
// from a descriptor, or all the bytes at once when they are in memory.
// Invariant: window_offset <= ParseState::pos <= window_offset + window_size.
struct ByteSource {
  int fd = -1;                      // read on demand; -1: all in `window`
  std::vector<uint8_t> chunk;       // storage of `window` when reading `fd`
  const uint8_t* window = nullptr;  // the bytes from `window_offset` on
  size_t window_size = 0;           // bytes in `window`
  uint64_t window_offset = 0;       // file offset of window[0]
  bool at_end = false;              // nothing follows the window
  int read_errno = 0;               // errno of a failed read, or 0
};

// Where a parse stands; `error` is set at the first fault.
struct ParseState {
  ByteSource source;
  uint64_t pos = 0;                  // file offset of the next field
  uint64_t known_size = kUnknownSize;  // the file's size, when known ahead
  uint64_t claimed_end = 0;  // the furthest offset the counts read so far
                             // need the file to reach
  bool ended_early = false;  // a field read found the end of the file
  uint32_t state_count = 0;  // the file's count of states, once read
  bool target_out_of_range = false;  // a move read so far leads to no state
  const char* name = "";     // the file's name in messages
  std::string error;
  // Message for an allocation that fails now, named after the part of the
  // model being grown.
  const char* memory_message = nullptr;
};

using messages::kNoMemoryForGroups;
using messages::kNoMemoryForMoves;
using messages::kNoMemoryForStates;
using messages::kNoMemoryForSymbolNames;

// Sizes `v` to `n` entries at once; on failure sets `error` to `message`.
template <typename T>
bool Allocate(std::vector<T>& v, uint64_t n, const char* message,
              std::string& error) {
  try {
    v.assign(size_t(n), T{});
  } catch (const std::bad_alloc&) {
    error = message;
    return false;
  }
  return true;
}

void FailAt(ParseState& a, const std::string& problem, uint64_t offset) {
  if (!a.error.empty()) return;
  a.error = messages::AutomatonInvalid(a.name, problem, offset);
}

void Fail(ParseState& a, const std::string& problem) {
  FailAt(a, problem, a.pos);
}

// The offset just past the last byte of the file; only once it has ended.
uint64_t FileEnd(const ParseState& a) {
  assert(a.source.at_end);
  return a.source.window_offset + a.source.window_size;
}

// Bytes of the window at and after `pos`.
size_t Buffered(const ParseState& a) {
  return size_t(a.source.window_offset + a.source.window_size - a.pos);
}

const uint8_t* Here(const ParseState& a) {
  return a.source.window + (a.pos - a.source.window_offset);
}

// Refills the window until at least `n` (at most kChunkBytes) bytes from
// `pos` on are readable at Here(); false when the file ends (or a read
// fails) before. Kept out of line: most fields are in the window already.
[[gnu::noinline]] bool Refill(ParseState& a, size_t n) {
  ByteSource& s = a.source;
  while (Buffered(a) < n) {
    if (s.at_end) return false;
    // Keep the unread bytes at the front and fill the rest of the chunk.
    const size_t kept = Buffered(a);
    std::memmove(s.chunk.data(), Here(a), kept);
    s.window = s.chunk.data();
    s.window_offset = a.pos;
    s.window_size = kept;
    const ssize_t r = read(s.fd, s.chunk.data() + kept, s.chunk.size() - kept);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      if (r < 0) s.read_errno = errno;
      s.at_end = true;
      return false;
    }
    s.window_size += size_t(r);
  }
  return true;
}

// Makes at least `n` (at most kChunkBytes) bytes from `pos` on readable at
// Here(); false when the file ends (or a read fails) before.
inline bool Have(ParseState& a, size_t n) {
  return Buffered(a) >= n || Refill(a, n);
}

// A claim beyond the known size: the load ends at the file's end.
[[gnu::noinline]] bool ClaimBeyondTheEnd(ParseState& a) {
  FailAt(a, "termina antes de tiempo", a.known_size);
  return false;
}

// The counts read so far need `n` more bytes after `pos`. With a known size,
// a claim beyond it ends the load at once at the file's end; otherwise the
// claim is remembered, to be judged if the stream ends. (kUnknownSize is
// the largest offset, so no claim goes beyond it.)
inline bool Claim(ParseState& a, uint64_t n) {
  const uint64_t end = a.pos + n;
  a.claimed_end = std::max(a.claimed_end, end);
  return end <= a.known_size || ClaimBeyondTheEnd(a);
}

// The file ended inside a run of bytes that a count announced.
bool EndedInRun(ParseState& a) {
  FailAt(a, "termina antes de tiempo", FileEnd(a));
  return false;
}

// After a field read found the end: refuses the file, at the file's end if
// an earlier count already needed more than it holds, else at the field.
bool EndedEarly(ParseState& a) {
  if (a.claimed_end > FileEnd(a))
    FailAt(a, "termina antes de tiempo", FileEnd(a));
  else
    Fail(a, "termina antes de tiempo");
  return false;
}

// The little-endian integers at `p`.
inline int32_t LittleEndian32(const uint8_t* p) {
  return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                 uint32_t(p[3]) << 24);
}

inline int16_t LittleEndian16(const uint8_t* p) {
  return int16_t(uint16_t(p[0] | p[1] << 8));
}

// Field reads: a field the file does not hold whole sets `ended_early` and
// reads as 0 without moving `pos`, so that a later, shorter field may still
// be read (the message then points after it).
inline int32_t Int32(ParseState& a) {
  if (!Have(a, 4)) {
    a.ended_early = true;
    return 0;
  }
  const uint8_t* p = Here(a);
  a.pos += 4;
  return LittleEndian32(p);
}

inline int16_t Int16(ParseState& a) {
  if (!Have(a, 2)) {
    a.ended_early = true;
    return 0;
  }
  const uint8_t* p = Here(a);
  a.pos += 2;
  return LittleEndian16(p);
}

// Reads a run of `n` bytes announced by a count, passing each stretch of it
// to `take` as it arrives.
template <typename Take>
bool ReadRun(ParseState& a, uint64_t n, const Take& take) {
  if (!Claim(a, n)) return false;
  while (n > 0) {
    if (!Have(a, 1)) return EndedInRun(a);
    const size_t stretch = size_t(std::min<uint64_t>(n, Buffered(a)));
    take(Here(a), stretch);
    a.pos += stretch;
    n -= stretch;
  }
  return true;
}

bool IsMarker(int input_symbol) {
  return input_symbol == kEndOfAnalysis || input_symbol == kEndOfPiece ||
         input_symbol == kEndOfUnknown;
}

// The alphabet and the defines.
bool ReadSymbols(ParseState& a, Automaton& t) {
  const int32_t alphabet_length = Int32(a);
  if (a.ended_early) return EndedEarly(a);
  if (alphabet_length < 0) {
    Fail(a, "longitud de alfabeto negativa");
    return false;
  }
  t.alphabet_length = alphabet_length;
  a.memory_message = kNoMemoryForStates;
  if (!ReadRun(a, uint64_t(alphabet_length),
               [&t](const uint8_t* p, size_t n) {
                 t.alphabet.append(reinterpret_cast<const char*>(p), n);
               }))
    return false;

  const int32_t symbol_name_count = Int32(a);
  if (a.ended_early) return EndedEarly(a);
  if (symbol_name_count < 0) {
    Fail(a, "n\xfamero de s\xedmbolos negativo");
    return false;
  }
  // Each define takes at least 8 bytes.
  if (!Claim(a, uint64_t(symbol_name_count) * 8)) return false;
  t.symbol_name_count = symbol_name_count;
  a.memory_message = kNoMemoryForSymbolNames;
  for (int32_t i = 0; i < symbol_name_count; ++i) {
    const int32_t name_length = Int32(a);
    if (a.ended_early) return EndedEarly(a);
    if (name_length < 0) {
      Fail(a, "longitud de nombre negativa");
      return false;
    }
    // Names are kept up to their first zero byte.
    SymbolName& s = t.symbol_names.emplace_back();
    bool zero_seen = false;
    if (!ReadRun(a, uint64_t(name_length),
                 [&s, &zero_seen](const uint8_t* p, size_t n) {
                   if (zero_seen) return;
                   const size_t kept = strnlen(reinterpret_cast<const char*>(p), n);
                   s.name.append(reinterpret_cast<const char*>(p), kept);
                   zero_seen = kept < n;
                 }))
      return false;
    s.code = Int32(a);
    if (a.ended_early) return EndedEarly(a);
  }
  t.symbol_name_index.assign(32768, -1);
  for (int32_t i = symbol_name_count - 1; i >= 0; --i) {
    const int32_t code = t.symbol_names[size_t(i)].code;
    if (code >= 0 && code < 32768) t.symbol_name_index[size_t(code)] = i;
  }
  return true;
}

// Whether output symbol `output_symbol` can be written: characters always,
// symbols of 258 and above only when a define has that code.
bool SymbolKnown(const Automaton& t, int16_t output_symbol) {
  return output_symbol < kFirstNamedSymbol ||
         t.symbol_name_index[size_t(output_symbol)] >= 0;
}

// The moves of one group, `move_count` of them, appended to `t.moves` as
// they arrive, a window's worth at a time. Only a group that a live state
// can follow (`followable`) needs every written symbol to be known; a fault
// is reported at the end of the group.
bool ReadMoves(ParseState& a, Automaton& t, int32_t state, int32_t move_count,
               bool followable) {
  const uint64_t group_end = a.pos + uint64_t(move_count) * 6;
  if (!Claim(a, uint64_t(move_count) * 6)) return false;
  a.memory_message = kNoMemoryForMoves;
  for (int32_t left = move_count; left > 0;) {
    if (!Have(a, 6)) return EndedInRun(a);
    const size_t batch = std::min<size_t>(size_t(left), Buffered(a) / 6);
    assert(batch > 0);
    const uint8_t* p = Here(a);
    const size_t first = t.moves.size();
    t.moves.resize(first + batch);
    Move* out = t.moves.data() + first;
    for (size_t i = 0; i < batch; ++i, p += 6) {
      out[i].output_symbol = LittleEndian16(p);
      out[i].target = LittleEndian32(p + 2);
      a.target_out_of_range |= uint32_t(out[i].target) >= a.state_count;
    }
    if (followable) {
      for (size_t i = 0; i < batch; ++i) {
        if (SymbolKnown(t, out[i].output_symbol)) continue;
        FailAt(a,
               "el s\xedmbolo " + std::to_string(out[i].output_symbol) +
                   " no est\xe1 definido (estado " + std::to_string(state) +
                   ")",
               group_end);
        return false;
      }
    }
    a.pos += uint64_t(batch) * 6;
    left -= int32_t(batch);
  }
  return true;
}

// Whether group `g` of a list can be followed by a live state: only those
// need every symbol they write to be known.
bool Followable(bool epsilon, int32_t g, int16_t input_symbol) {
  return epsilon ? g == 0 : (input_symbol >= 0 && input_symbol <= 255);
}

// Appends group `g` of a list and its moves to the model in one go when its
// header and all its moves are in the window and it holds no fault: the path
// of nearly every group. Otherwise changes nothing and returns false, and
// the group is read field by field, which finds and reports its fault.
bool ReadWholeGroup(ParseState& a, Automaton& t, bool epsilon, int32_t g) {
  const size_t buffered = Buffered(a);
  if (buffered < 6) return false;
  const uint8_t* p = Here(a);
  const int16_t input_symbol = LittleEndian16(p);
  const int32_t move_count = LittleEndian32(p + 2);
  if (move_count < 0 || uint64_t(move_count) * 6 > buffered - 6) return false;
  const uint64_t end = a.pos + 6 + uint64_t(move_count) * 6;
  if (end > a.known_size) return false;
  const uint8_t* moves = p + 6;
  if (Followable(epsilon, g, input_symbol))
    for (int32_t i = 0; i < move_count; ++i)
      if (!SymbolKnown(t, LittleEndian16(moves + 6 * i))) return false;
  a.memory_message = kNoMemoryForGroups;
  t.groups.push_back(MoveGroup{
      .moves = nullptr, .move_count = move_count, .input_symbol = input_symbol});
  t.group_keys.push_back(input_symbol);
  if (!epsilon && IsMarker(input_symbol)) t.markers.push_back(input_symbol);
  a.memory_message = kNoMemoryForMoves;
  for (int32_t i = 0; i < move_count; ++i, moves += 6) {
    const int32_t target = LittleEndian32(moves + 2);
    a.target_out_of_range |= uint32_t(target) >= a.state_count;
    t.moves.push_back(Move{.output_symbol = LittleEndian16(moves), .target = target});
  }
  a.claimed_end = std::max(a.claimed_end, end);
  a.pos = end;
  return true;
}

// One list of state `state`: its groups are appended to `t.groups` (their
// keys to `t.group_keys`, the markers of a transition list to `t.markers`),
// and their number is stored in `group_count`.
bool ReadList(ParseState& a, Automaton& t, bool epsilon, int32_t state,
              int32_t& group_count) {
  const int32_t n = Int32(a);
  if (a.ended_early) return EndedEarly(a);
  group_count = n > 0 ? n : 0;
  // Each group takes at least 6 bytes.
  if (!Claim(a, uint64_t(group_count) * 6)) return false;
  for (int32_t g = 0; g < group_count; ++g) {
    if (ReadWholeGroup(a, t, epsilon, g)) continue;
    const int16_t input_symbol = Int16(a);
    const int32_t m = Int32(a);
    if (a.ended_early) return EndedEarly(a);
    if (m < 0) {
      Fail(a, "n\xfamero de transiciones negativo en el estado " +
                  std::to_string(state));
      return false;
    }
    a.memory_message = kNoMemoryForGroups;
    t.groups.push_back(
        MoveGroup{.moves = nullptr, .move_count = m, .input_symbol = input_symbol});
    t.group_keys.push_back(input_symbol);
    if (!epsilon && IsMarker(input_symbol)) t.markers.push_back(input_symbol);
    if (!ReadMoves(a, t, state, m, Followable(epsilon, g, input_symbol)))
      return false;
  }
  return true;
}

// With the size known ahead, room is reserved at once for as many records
// as the bytes after `pos` could hold (a state takes at least 10 bytes, a
// group and a move 6), so that the vectors are never copied as they grow.
// A reservation takes address space only: the memory is used as records are
// written, so a hostile count still makes nothing large by itself. It is
// capped at kMaxReservedRecords, beyond which the vectors grow as records
// come, and one that fails is no error: the vectors then grow as well.
void ReserveRoom(const ParseState& a, Automaton& t, int32_t state_count) {
  if (a.known_size == kUnknownSize) return;
  assert(a.pos + uint64_t(state_count) * 10 <= a.known_size);
  const uint64_t rest = a.known_size - a.pos - uint64_t(state_count) * 10;
  const size_t states = size_t(std::min<uint64_t>(uint64_t(state_count), kMaxReservedRecords));
  const size_t groups = size_t(std::min<uint64_t>(rest / 6, kMaxReservedRecords));
  try {
    t.states.reserve(states);
    t.groups.reserve(groups);
    t.group_keys.reserve(groups + kMaxScannedGroups);
    t.moves.reserve(groups);
  } catch (const std::bad_alloc&) {
  }
}

// The state records.
bool ReadStates(ParseState& a, Automaton& t) {
  const int32_t n = Int32(a);
  if (a.ended_early) return EndedEarly(a);
  if (n < 0) {
    Fail(a, "n\xfamero de estados negativo");
    return false;
  }
  if (n == 0) {
    Fail(a, "no tiene ning\xfan estado");
    return false;
  }
  // Each state takes at least 10 bytes.
  if (!Claim(a, uint64_t(n) * 10)) return false;
  ReserveRoom(a, t, n);
  a.state_count = uint32_t(n);
  for (int32_t k = 0; k < n; ++k) {
    State node{};
    node.file_number = Int32(a);
    const int16_t flag = Int16(a);
    if (a.ended_early) return EndedEarly(a);
    if (flag == 1 &&
        !ReadList(a, t, true, k, node.epsilon_group_count))
      return false;
    const size_t first_marker = t.markers.size();
    if (!ReadList(a, t, false, k, node.group_count)) return false;
    node.first_marker = uint32_t(first_marker);
    node.marker_count = int32_t(t.markers.size() - first_marker);
    a.memory_message = kNoMemoryForStates;
    t.states.push_back(node);
  }
  t.state_count = n;
  return true;
}

// Points every state at its groups and every group at its moves, now that
// the vectors are complete; groups and moves lie in file order.
void LinkRecords(Automaton& t) {
  size_t group = 0;
  for (State& node : t.states) {
    if (node.epsilon_group_count > 0) node.epsilon_groups = &t.groups[group];
    group += size_t(node.epsilon_group_count);
    if (node.group_count > 0) {
      node.groups = &t.groups[group];
      node.keys = &t.group_keys[group];
    }
    group += size_t(node.group_count);
  }
  assert(group == t.groups.size());
  size_t move = 0;
  for (MoveGroup& g : t.groups) {
    g.moves = t.moves.data() + move;
    move += size_t(g.move_count);
  }
  assert(move == t.moves.size());
}

// Refuses a file in which epsilon moves that the matcher follows (those of a
// state's first epsilon group) form a cycle: closing such a state would never
// end. Iterative depth-first search, so deep chains do not exhaust the stack.
bool NoEpsilonCycles(const Automaton& t, const char* name, std::string& error) {
  const size_t n = t.states.size();
  std::vector<uint8_t> color(n, 0);  // 0 unseen, 1 on the path, 2 done
  std::vector<std::pair<int32_t, int32_t>> stack;  // (state, next move)
  for (size_t root = 0; root < n; ++root) {
    if (color[root] != 0 || t.states[root].epsilon_group_count == 0) continue;
    stack.push_back({int32_t(root), 0});
    color[root] = 1;
    while (!stack.empty()) {
      auto& [state, next] = stack.back();
      const State& node = t.states[size_t(state)];
      const int32_t moves =
          node.epsilon_group_count > 0 ? node.epsilon_groups[0].move_count : 0;
      if (next == moves) {
        color[size_t(state)] = 2;
        stack.pop_back();
        continue;
      }
      int32_t target = node.epsilon_groups[0].moves[next++].target;
      if (target < 0 || size_t(target) >= n)
        continue;  // reported when followed
      if (color[size_t(target)] == 1) {
        error = messages::AutomatonEpsilonCycle(name, target);
        return false;
      }
      if (color[size_t(target)] == 0) {
        color[size_t(target)] = 1;
        stack.push_back({target, 0});
      }
    }
  }
  return true;
}

// Membership by the same halving search a sorted alphabet needs, tabulated
// once per byte, so that an unsorted alphabet answers as it always would.
void TabulateAlphabet(Automaton& t) {
  const std::string& a = t.alphabet;
  for (int c = 0; c < 256; ++c)
    t.is_letter[c] =
        HalvingSearch(
            [&a](int32_t i) { return int32_t(uint8_t(a[size_t(i)])); }, c,
            t.alphabet_length) >= 0;
}

// Direct tables for the states with many groups, filled by the search
// itself so that an unsorted list answers exactly as it would be searched.
bool TabulateGroups(Automaton& t, std::string& error) {
  size_t n = 0;
  for (State& node : t.states) {
    if (node.group_count >= kMinGroupsForTable) ++n;
    node.keys_scannable =
        node.group_count > 0 && node.group_count <= kMaxScannedGroups;
    for (int32_t i = 1; node.keys_scannable && i < node.group_count; ++i)
      node.keys_scannable = node.keys[i - 1] < node.keys[i];
  }
  if (!Allocate(t.group_tables, uint64_t(n) * 256, kNoMemoryForGroups, error))
    return false;
  size_t i = 0;
  for (State& node : t.states) {
    if (node.group_count < kMinGroupsForTable) continue;
    int32_t* table = &t.group_tables[i];
    for (int c = 0; c < 256; ++c)
      table[c] = FindKey(node.keys, c, node.group_count);
    node.table = table;
    i += 256;
  }
  return true;
}

// Byte classes: a byte that is no state's key, nor (for a capital the
// matcher folds) is its small letter, steps like every other such byte of
// the same letter status; each byte that is a key somewhere is a class of
// its own. Also the largest marker count of a state.
void TabulateByteClasses(Automaton& t) {
  bool keyed[256] = {};
  for (const int16_t key : t.group_keys)
    if (key >= 0 && key < 256) keyed[key] = true;
  int32_t shared_class[2] = {-1, -1};  // by letter status
  int32_t count = 0;
  for (int c = 0; c < 256; ++c) {
    const bool own = keyed[c] || (IsFoldedUpper(c) && keyed[c + 32]);
    if (own) {
      t.byte_class[c] = uint8_t(count++);
      continue;
    }
    int32_t& shared = shared_class[t.is_letter[c]];
    if (shared < 0) shared = count++;
    t.byte_class[c] = uint8_t(shared);
  }
  t.byte_class_count = count;
  for (const State& node : t.states)
    t.max_marker_count = std::max(t.max_marker_count, node.marker_count);
}

// Parses the whole file from `a` into `t`, then derives the tables; on
// failure `t` is reset and `error` holds the message.
bool Load(ParseState& a, Automaton& t, std::string& error) {
  ResetAutomaton(t);
  bool parsed = false;
  try {
    parsed = ReadSymbols(a, t) && ReadStates(a, t);
    if (parsed) {
      a.memory_message = kNoMemoryForGroups;
      t.group_keys.resize(t.group_keys.size() + kMaxScannedGroups, 0);
    }
  } catch (const std::bad_alloc&) {
    a.error = a.memory_message;
    parsed = false;
  }
  if (!parsed) {
    if (a.source.read_errno != 0)
      error = messages::AutomatonNotRead(a.name, a.source.read_errno);
    else
      error = a.error;
    ResetAutomaton(t);
    return false;
  }
  LinkRecords(t);
  TabulateAlphabet(t);
  for (const SymbolName& symbol : t.symbol_names)
    if (symbol.name == kWholeWordsSymbol) t.whole_words = true;
  t.targets_valid = !a.target_out_of_range;
  if (!TabulateGroups(t, error) || !NoEpsilonCycles(t, a.name, error)) {
    ResetAutomaton(t);
    return false;
  }
  TabulateByteClasses(t);
  return true;
}

}  // namespace

void ResetAutomaton(Automaton& t) { t = Automaton{}; }

bool LoadAutomatonFromBytes(Automaton& t, const char* name, const uint8_t* data,
                            size_t size, std::string& error) {
  ParseState a;
  a.name = name;
  a.source.window = data;
  a.source.window_size = size;
  a.source.at_end = true;
  a.known_size = size;
  return Load(a, t, error);
}

bool LoadAutomatonFile(Automaton& t, const char* path, std::string& error,
                       int& exit_status) {
  exit_status = 255;
  ParseState a;
  a.name = path;
  a.source.fd = open(path, O_RDONLY | O_CLOEXEC);
  if (a.source.fd < 0) {
    error = messages::AutomatonNotOpened(path);
    return false;
  }
  // The size of a regular file is known ahead (a file in /proc shows 0 and
  // is read like a stream).
  struct stat st;
  if (fstat(a.source.fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
    a.known_size = uint64_t(st.st_size);
  bool loaded = false;
  try {
    a.source.chunk.resize(kChunkBytes);
    a.source.window = a.source.chunk.data();
    loaded = Load(a, t, error);
  } catch (const std::bad_alloc&) {
    error = kNoMemoryForStates;
  }
  close(a.source.fd);
  return loaded;
}

const std::string* NameOfSymbol(const Automaton& t, int32_t code) {
  if (code >= 0 && code < int32_t(t.symbol_name_index.size())) {
    int32_t i = t.symbol_name_index[size_t(code)];
    return i < 0 ? nullptr : &t.symbol_names[size_t(i)].name;
  }
  for (const SymbolName& d : t.symbol_names)
    if (d.code == code) return &d.name;
  return nullptr;
}

int UpperForSymbolName(int32_t c) {
  const int b = c & 0xFF;
  if (b >= 97 && b <= 122) return b - 32;
  switch (b) {
    case 0xE0:
    case 0xE1:
    case 0xE8:
    case 0xE9:
    case 0xEC:
    case 0xED:
    case 0xEF:
    case 0xF1:
    case 0xF2:
    case 0xF3:
    case 0xF9:
    case 0xFA:
    case 0xFC:
      return b - 32;
    default:
      return b;
  }
}

}  // namespace etiquem
