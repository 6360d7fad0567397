// Loading the automaton file and the lookups on the loaded model.
//
// The file is read whole with a few read(2) calls and parsed from memory.
// Parsing runs twice over the bytes: the first pass checks every count and
// length against the bytes that remain (so a hostile count never makes us
// allocate more than the file could describe) and counts groups and moves;
// the second fills vectors of exactly that size. A file that ends early or
// holds impossible values is refused with one line naming the file, what is
// wrong and where.

#include "engine/automaton.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

namespace etiquem {

namespace {

// A read position in the file's bytes. Reads past the end set `ended_early`.
struct Cursor {
  const uint8_t* data;
  size_t size;
  size_t pos = 0;
  bool ended_early = false;  // the file ended before a field

  bool Remains(size_t n) const { return size - pos >= n; }

  int32_t Int32() {
    if (!Remains(4)) {
      ended_early = true;
      return 0;
    }
    uint32_t v = uint32_t(data[pos]) | uint32_t(data[pos + 1]) << 8 |
                 uint32_t(data[pos + 2]) << 16 | uint32_t(data[pos + 3]) << 24;
    pos += 4;
    return int32_t(v);
  }

  int16_t Int16() {
    if (!Remains(2)) {
      ended_early = true;
      return 0;
    }
    uint16_t v = uint16_t(data[pos] | data[pos + 1] << 8);
    pos += 2;
    return int16_t(v);
  }
};

// Where a parse stands; `error` is set at the first fault.
struct ParseState {
  Cursor cursor;
  const char* name;
  std::string error;
  uint64_t group_count = 0;   // groups counted in the first pass
  uint64_t move_count = 0;    // moves counted in the first pass
  uint64_t marker_count = 0;  // marker groups counted in the first pass
};

void Fail(ParseState& a, const std::string& problem) {
  if (!a.error.empty()) return;
  a.error = "Error: El fichero binario " + std::string(a.name) +
            " no es v\xe1lido: " + problem + " (byte " +
            std::to_string(a.cursor.pos) + ")\n";
}

bool EndedEarly(ParseState& a) {
  if (a.cursor.ended_early) Fail(a, "termina antes de tiempo");
  return !a.error.empty();
}

bool IsMarker(int input_symbol) {
  return input_symbol == kEndOfAnalysis || input_symbol == kEndOfPiece ||
         input_symbol == kEndOfUnknown;
}

// Alloc helpers in the shape of the model's allocation functions: each ends
// the load with its own message when memory runs out.
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

bool CreateStates(Automaton& t, uint64_t n, std::string& error) {
  return Allocate(t.states, n, "Error: Memoria insuficient en CrearNodo\n",
                  error);
}
bool CreateGroups(Automaton& t, uint64_t n, std::string& error) {
  return Allocate(t.groups, n, "Error: Memoria insuficient en CrearTrans\n",
                  error);
}
bool CreateMoves(Automaton& t, uint64_t n, std::string& error) {
  return Allocate(t.moves, n, "Error: Memoria insuficient en CrearStrans\n",
                  error);
}
bool CreateSymbolNames(Automaton& t, int32_t n, std::string& error) {
  return Allocate(t.symbol_names, uint64_t(n),
                  "Error: Mem\xf2ria insuficient en Creardefs\n", error);
}

// Alphabet and defines; both passes need them, so they are read once.
bool ReadSymbols(ParseState& a, Automaton& t) {
  int32_t alphabet_length = a.cursor.Int32();
  if (a.cursor.ended_early) return !EndedEarly(a);
  if (alphabet_length < 0) {
    Fail(a, "longitud de alfabeto negativa");
    return false;
  }
  if (!a.cursor.Remains(size_t(alphabet_length))) {
    a.cursor.pos = a.cursor.size;
    Fail(a, "termina antes de tiempo");
    return false;
  }
  t.alphabet_length = alphabet_length;
  t.alphabet.assign(reinterpret_cast<const char*>(a.cursor.data + a.cursor.pos),
                    size_t(alphabet_length));
  a.cursor.pos += size_t(alphabet_length);

  int32_t symbol_name_count = a.cursor.Int32();
  if (a.cursor.ended_early) return !EndedEarly(a);
  if (symbol_name_count < 0) {
    Fail(a, "n\xfamero de s\xedmbolos negativo");
    return false;
  }
  // Each define takes at least 8 bytes.
  if (uint64_t(symbol_name_count) * 8 > a.cursor.size - a.cursor.pos) {
    a.cursor.pos = a.cursor.size;
    Fail(a, "termina antes de tiempo");
    return false;
  }
  if (!CreateSymbolNames(t, symbol_name_count, a.error)) return false;
  t.symbol_name_count = symbol_name_count;
  for (int32_t i = 0; i < symbol_name_count; ++i) {
    int32_t length = a.cursor.Int32();
    if (a.cursor.ended_early) return !EndedEarly(a);
    if (length < 0) {
      Fail(a, "longitud de nombre negativa");
      return false;
    }
    if (!a.cursor.Remains(size_t(length))) {
      a.cursor.pos = a.cursor.size;
      Fail(a, "termina antes de tiempo");
      return false;
    }
    // Names are shown up to their first zero byte.
    const char* name =
        reinterpret_cast<const char*>(a.cursor.data + a.cursor.pos);
    t.symbol_names[size_t(i)].name.assign(name, strnlen(name, size_t(length)));
    a.cursor.pos += size_t(length);
    t.symbol_names[size_t(i)].code = a.cursor.Int32();
    if (a.cursor.ended_early) return !EndedEarly(a);
  }
  t.symbol_name_index.assign(32768, -1);
  for (int32_t i = symbol_name_count - 1; i >= 0; --i) {
    int32_t code = t.symbol_names[size_t(i)].code;
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

// Reads one list. First pass (`fill_in` false): checks and counts. Second
// pass: fills `groups` and `moves` from the given indices on.
bool ReadList(ParseState& a, Automaton& t, bool fill_in, bool epsilon,
              int32_t state, int32_t& group_count, size_t& next_group,
              size_t& next_move, size_t& next_marker) {
  int32_t n = a.cursor.Int32();
  if (a.cursor.ended_early) return !EndedEarly(a);
  group_count = n > 0 ? n : 0;
  // Each group takes at least 6 bytes.
  if (!fill_in && uint64_t(group_count) * 6 > a.cursor.size - a.cursor.pos) {
    a.cursor.pos = a.cursor.size;
    Fail(a, "termina antes de tiempo");
    return false;
  }
  for (int32_t g = 0; g < group_count; ++g) {
    int16_t input_symbol = a.cursor.Int16();
    int32_t m = a.cursor.Int32();
    if (a.cursor.ended_early) return !EndedEarly(a);
    if (m < 0) {
      Fail(a, "n\xfamero de transiciones negativo en el estado " +
                  std::to_string(state));
      return false;
    }
    if (!a.cursor.Remains(size_t(m) * 6)) {
      a.cursor.pos = a.cursor.size;
      Fail(a, "termina antes de tiempo");
      return false;
    }
    // Only groups that a live state can follow need writable symbols.
    bool followable =
        epsilon ? g == 0 : (input_symbol >= 0 && input_symbol <= 255);
    if (fill_in) {
      MoveGroup& group = t.groups[next_group++];
      group.input_symbol = input_symbol;
      group.move_count = m;
      group.moves = t.moves.data() + next_move;
      t.group_keys[next_group - 1] = input_symbol;
      if (!epsilon && IsMarker(input_symbol))
        t.markers[next_marker++] = input_symbol;
    } else {
      a.group_count += 1;
      a.move_count += uint64_t(m);
      if (!epsilon && IsMarker(input_symbol)) a.marker_count += 1;
    }
    // The moves are known to be there: read them without per-field checks.
    const uint8_t* p = a.cursor.data + a.cursor.pos;
    a.cursor.pos += size_t(m) * 6;
    if (fill_in) {
      Move* moves_out = t.moves.data() + next_move;
      next_move += size_t(m);
      for (int32_t i = 0; i < m; ++i, p += 6) {
        moves_out[i].output_symbol = int16_t(uint16_t(p[0] | p[1] << 8));
        moves_out[i].target =
            int32_t(uint32_t(p[2]) | uint32_t(p[3]) << 8 |
                    uint32_t(p[4]) << 16 | uint32_t(p[5]) << 24);
      }
    } else if (followable) {
      for (int32_t i = 0; i < m; ++i, p += 6) {
        const int16_t output_symbol = int16_t(uint16_t(p[0] | p[1] << 8));
        if (!SymbolKnown(t, output_symbol)) {
          Fail(a, "el s\xedmbolo " + std::to_string(output_symbol) +
                      " no est\xe1 definido (estado " + std::to_string(state) +
                      ")");
          return false;
        }
      }
    }
  }
  return true;
}

// One pass over the state records.
bool ReadStates(ParseState& a, Automaton& t, bool fill_in) {
  int32_t n = a.cursor.Int32();
  if (a.cursor.ended_early) return !EndedEarly(a);
  if (n < 0) {
    Fail(a, "n\xfamero de estados negativo");
    return false;
  }
  if (n == 0) {
    Fail(a, "no tiene ning\xfan estado");
    return false;
  }
  // Each state takes at least 10 bytes.
  if (uint64_t(n) * 10 > a.cursor.size - a.cursor.pos) {
    a.cursor.pos = a.cursor.size;
    Fail(a, "termina antes de tiempo");
    return false;
  }
  size_t next_group = 0, next_move = 0, next_marker = 0;
  for (int32_t k = 0; k < n; ++k) {
    State node{};
    node.file_number = a.cursor.Int32();
    int16_t flag = a.cursor.Int16();
    if (a.cursor.ended_early) return !EndedEarly(a);
    if (flag == 1) {
      size_t first = next_group;
      if (!ReadList(a, t, fill_in, true, k, node.epsilon_group_count,
                    next_group, next_move, next_marker))
        return false;
      if (fill_in && node.epsilon_group_count > 0)
        node.epsilon_groups = &t.groups[first];
    }
    size_t first = next_group;
    size_t first_marker_index = next_marker;
    if (!ReadList(a, t, fill_in, false, k, node.group_count, next_group,
                  next_move, next_marker))
      return false;
    if (fill_in) {
      if (node.group_count > 0) {
        node.groups = &t.groups[first];
        node.keys = &t.group_keys[first];
      }
      node.first_marker = uint32_t(first_marker_index);
      node.marker_count = int32_t(next_marker - first_marker_index);
      t.states[size_t(k)] = node;
    }
  }
  t.state_count = n;
  return true;
}

// Refuses a file in which epsilon moves that the matcher follows (those of a
// state's first epsilon group) form a cycle: closing such a state would never
// end. Iterative depth-first search, so deep chains do not exhaust the stack.
bool NoEpsilonCycles(const Automaton& t, const char* name, std::string& error) {
  const size_t n = t.states.size();
  std::vector<uint8_t> color(n, 0);  // 0 unseen, 1 on the path, 2 done
  std::vector<std::pair<int32_t, int32_t>> stack;  // (state, next move)
  for (size_t root = 0; root < n; ++root) {
    if (color[root] != 0) continue;
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
        error = "Error: El fichero binario " + std::string(name) +
                " no es v\xe1lido: ciclo de transiciones vac\xed"
                "as en el "
                "estado " +
                std::to_string(target) + "\n";
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
  if (!Allocate(t.group_tables, uint64_t(n) * 256,
                "Error: Memoria insuficient en CrearTrans\n", error))
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

}  // namespace

void ResetAutomaton(Automaton& t) { t = Automaton{}; }

bool LoadAutomatonFromBytes(Automaton& t, const char* name, const uint8_t* data,
                            size_t size, std::string& error) {
  ResetAutomaton(t);
  ParseState a{Cursor{data, size}, name, {}};
  if (!ReadSymbols(a, t)) {
    error = a.error;
    ResetAutomaton(t);
    return false;
  }
  const size_t states_offset = a.cursor.pos;
  if (!ReadStates(a, t, false)) {
    error = a.error;
    ResetAutomaton(t);
    return false;
  }
  if (!CreateStates(t, uint64_t(t.state_count), error) ||
      !CreateGroups(t, a.group_count, error) ||
      !CreateMoves(t, a.move_count, error) ||
      !Allocate(t.markers, a.marker_count,
                "Error: Memoria insuficient en CrearTrans\n", error) ||
      !Allocate(t.group_keys, a.group_count + kMaxScannedGroups,
                "Error: Memoria insuficient en CrearTrans\n", error)) {
    ResetAutomaton(t);
    return false;
  }
  a.cursor.pos = states_offset;
  ReadStates(a, t, true);
  TabulateAlphabet(t);
  for (const SymbolName& symbol : t.symbol_names)
    if (symbol.name == kWholeWordsSymbol) t.whole_words = true;
  t.targets_valid = true;
  for (const Move& m : t.moves)
    if (m.target < 0 || m.target >= t.state_count) t.targets_valid = false;
  if (!TabulateGroups(t, error)) {
    ResetAutomaton(t);
    return false;
  }
  if (!NoEpsilonCycles(t, name, error)) {
    ResetAutomaton(t);
    return false;
  }
  return true;
}

bool LoadAutomatonFile(Automaton& t, const char* path, std::string& error,
                       int& exit_status) {
  exit_status = 255;
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = "Error: El fichero binario " + std::string(path) +
            " no existe o no se puedo abrir\n";
    return false;
  }
  struct stat st;
  size_t expected_size = (fstat(fd, &st) == 0 && st.st_size > 0)
                             ? size_t(st.st_size)
                             : size_t(1) << 16;
  std::vector<uint8_t> data;
  size_t size = 0;
  try {
    data.resize(expected_size + 1);
    for (;;) {
      if (size == data.size()) data.resize(data.size() * 2);
      ssize_t r = read(fd, data.data() + size, data.size() - size);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) {
        error = "Error: No se pudo leer el fichero binario " +
                std::string(path) + ": " + strerror(errno) + "\n";
        close(fd);
        return false;
      }
      if (r == 0) break;
      size += size_t(r);
    }
  } catch (const std::bad_alloc&) {
    error = "Error: Memoria insuficient en CrearNodo\n";
    close(fd);
    return false;
  }
  close(fd);
  return LoadAutomatonFromBytes(t, path, data.data(), size, error);
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
