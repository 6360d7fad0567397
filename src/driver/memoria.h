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
// bytes (see FontText).
//
// Memory is bounded: when `max_nodes` nodes or `max_textos` bytes of text
// are reached, only the paths walked again since they were stored or last
// kept are kept (every node a walk passes is marked), so frequent words stay
// while words seen once go; if that does not free a quarter of the room,
// the memory is emptied. Measured on 25.7 MB of Catalan prose with a
// 640,000-entry dictionary (bench/README.md): at these bounds (about 5 MB
// of the process's peak) it answers 97 % of attempts and makes the run
// three times faster. Twice the bounds cost 10 MB more and save only 2 % of
// the instructions on text that does not repeat itself (15 % on a corpus
// made of the same text four times over).

#ifndef ETIQUEM_DRIVER_MEMORIA_H_
#define ETIQUEM_DRIVER_MEMORIA_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace etiquem {

enum TipusMemoria : uint8_t {
  VIU = 1,     // the walk goes on after this prefix
  TANCAT = 2,  // the attempt ends with this character
};

// What writes a stored stretch.
enum FontText : uint8_t {
  LECTURA = 0,      // an analysis; its bytes are stored
  DESCONEGUDA = 1,  // an unknown-word reading; its bytes are stored
  PROPI = 2,        // the first character alone, as itself: its bytes are
                    // not stored, since a blank and a superblank's marker
                    // step alike but write differently
};

struct NodeMemoria {
  uint32_t pare;     // node of the prefix without the last character
  uint8_t c;         // the last character
  uint8_t tipus;     // VIU or TANCAT
  uint8_t font;      // closed: what writes the stretch (FontText)
  uint8_t reservat;
  uint32_t llarg;    // closed: characters in the stretch written (>= 1)
  uint32_t text;     // closed: offset of its bytes in `textos`
  uint32_t mida;     // closed: number of those bytes
};

struct MemoriaIntents {
  std::vector<NodeMemoria> nodes;  // node 0 is the empty prefix
  // Hash slots, 0 when empty, else the key and the answer together, so that
  // a lookup reads one slot: bits 40..63 the parent node, 32..39 the
  // character, 31 set for a closed node, 0..30 the node.
  std::vector<uint64_t> cubetes;
  std::vector<uint8_t> usats;      // per node: a walk passed it since the
                                   // memory was last pruned
  // The answers for the first character of an attempt, as the slots would
  // give them: every attempt starts here, so this lookup stays in the
  // first-level cache instead of a random slot of the table.
  uint32_t arrel[256] = {};
  std::string textos;              // bytes written by closed attempts
  std::vector<uint32_t> nou_index; // scratch for pruning: old node -> new
  size_t max_nodes = size_t(1) << 17;  // at most 2^24
  size_t max_textos = size_t(1) << 21;
};

// Empties the memory (also on first use).
void BuidaMemoria(MemoriaIntents& m);

constexpr uint32_t kTancat = 0x80000000u;  // flag of a closed node

inline uint64_t ClauMemoria(uint32_t pare, uint8_t c) {
  return uint64_t(pare) << 40 | uint64_t(c) << 32;
}

inline size_t CubetaDe(uint32_t pare, uint8_t c, size_t mascara) {
  return (size_t(pare) * 0x9E3779B1u + c * 0x85EBCA77u) & mascara;
}

// The child of `pare` on `c`: 0 when there is none, else its node index,
// with kTancat set when the attempt closes there. A node found is marked as
// used.
inline uint32_t BuscaMemoria(MemoriaIntents& m, uint32_t pare, uint8_t c) {
  if (pare == 0) {
    const uint32_t resposta = m.arrel[c];
    if (resposta != 0) m.usats[resposta & ~kTancat] = 1;
    return resposta;
  }
  if (m.cubetes.empty()) return 0;
  const size_t mascara = m.cubetes.size() - 1;
  const uint64_t clau = ClauMemoria(pare, c);
  for (size_t h = CubetaDe(pare, c, mascara);; h = (h + 1) & mascara) {
    const uint64_t e = m.cubetes[h];
    if (e == 0) return 0;
    if ((e & ~uint64_t(0xFFFFFFFFu)) == clau) {
      const uint32_t resposta = uint32_t(e);
      m.usats[resposta & ~kTancat] = 1;
      return resposta;
    }
  }
}

// Stores the attempt of characters `cami` that wrote `text` from `font` for
// its first `llarg` characters. May empty the memory first when it is full.
void DesaIntent(MemoriaIntents& m, std::string_view cami, uint32_t llarg,
                std::string_view text, FontText font);

}  // namespace etiquem

#endif  // ETIQUEM_DRIVER_MEMORIA_H_
