// A memory of finished attempts; see memoria.h.

#include "driver/memoria.h"

#include <algorithm>
#include <cstring>

namespace etiquem {

namespace {

constexpr size_t kCubetesInicials = 1 << 12;

uint64_t Entrada(const MemoriaIntents& m, uint32_t n) {
  const NodeMemoria& node = m.nodes[n];
  return ClauMemoria(node.pare, node.c) | n |
         (node.tipus == TANCAT ? kTancat : 0);
}

// The slot of node `n`, or of its key's first empty slot.
size_t Cubeta(const MemoriaIntents& m, uint32_t n) {
  const size_t mascara = m.cubetes.size() - 1;
  const NodeMemoria& node = m.nodes[n];
  const uint64_t clau = ClauMemoria(node.pare, node.c);
  size_t h = CubetaDe(node.pare, node.c, mascara);
  while (m.cubetes[h] != 0 && (m.cubetes[h] & ~uint64_t(0xFFFFFFFFu)) != clau)
    h = (h + 1) & mascara;
  return h;
}

void Indexa(MemoriaIntents& m, uint32_t n) {
  const uint64_t e = Entrada(m, n);
  m.cubetes[Cubeta(m, n)] = e;
  if (m.nodes[n].pare == 0) m.arrel[m.nodes[n].c] = uint32_t(e);
}

// Keeps the table at most half full.
void Creix(MemoriaIntents& m) {
  if ((m.nodes.size() + 1) * 2 <= m.cubetes.size()) return;
  m.cubetes.assign(m.cubetes.size() * 2, 0);
  for (uint32_t n = 1; n < m.nodes.size(); ++n) Indexa(m, n);
}

// Keeps the nodes used since the last pruning, in their order (a parent
// always comes before its children, and closed nodes' texts lie in node
// order, so both can be moved down in place), and clears their marks.
void Poda(MemoriaIntents& m) {
  m.nou_index.assign(m.nodes.size(), 0);
  size_t j = 1;
  size_t text = 0;
  for (size_t i = 1; i < m.nodes.size(); ++i) {
    NodeMemoria node = m.nodes[i];
    if (!m.usats[i] || (node.pare != 0 && m.nou_index[node.pare] == 0))
      continue;
    node.pare = m.nou_index[node.pare];
    if (node.tipus == TANCAT) {
      std::memmove(&m.textos[0] + text, m.textos.data() + node.text,
                   node.mida);
      node.text = uint32_t(text);
      text += node.mida;
    }
    m.nou_index[i] = uint32_t(j);
    m.nodes[j++] = node;
  }
  m.nodes.resize(j);
  m.usats.assign(j, 0);
  m.textos.resize(text);
  std::fill(m.cubetes.begin(), m.cubetes.end(), 0);
  std::fill(std::begin(m.arrel), std::end(m.arrel), 0);
  for (uint32_t n = 1; n < m.nodes.size(); ++n) Indexa(m, n);
}

bool Cap(const MemoriaIntents& m, size_t nodes, size_t text) {
  return m.nodes.size() + nodes <= m.max_nodes &&
         m.textos.size() + text <= m.max_textos;
}

// The child of `pare` on `c`, made when missing: one probe finds either the
// child or the empty slot where it goes.
uint32_t Fill(MemoriaIntents& m, uint32_t pare, uint8_t c) {
  Creix(m);
  const size_t mascara = m.cubetes.size() - 1;
  const uint64_t clau = ClauMemoria(pare, c);
  size_t h = CubetaDe(pare, c, mascara);
  while (m.cubetes[h] != 0) {
    if ((m.cubetes[h] & ~uint64_t(0xFFFFFFFFu)) == clau) {
      const uint32_t n = uint32_t(m.cubetes[h]) & ~kTancat;
      m.usats[n] = 1;
      return n;
    }
    h = (h + 1) & mascara;
  }
  const uint32_t n = uint32_t(m.nodes.size());
  m.nodes.push_back(NodeMemoria{pare, c, VIU, 0, 0, 0, 0, 0});
  m.usats.push_back(0);
  m.cubetes[h] = clau | n;
  if (pare == 0) m.arrel[c] = n;
  return n;
}

}  // namespace

void BuidaMemoria(MemoriaIntents& m) {
  // Parent indices are kept in 24 bits of a slot.
  if (m.max_nodes > (size_t(1) << 24)) m.max_nodes = size_t(1) << 24;
  // Reserved at the bound, so growth never doubles past it; pages not yet
  // written take no memory.
  m.nodes.reserve(m.max_nodes);
  m.usats.reserve(m.max_nodes);
  m.textos.reserve(m.max_textos);
  m.nodes.clear();
  m.nodes.push_back(NodeMemoria{});
  m.usats.assign(1, 0);
  std::fill(std::begin(m.arrel), std::end(m.arrel), 0);
  m.cubetes.assign(kCubetesInicials, 0);
  m.textos.clear();
}

void DesaIntent(MemoriaIntents& m, std::string_view cami, uint32_t llarg,
                std::string_view text, FontText font) {
  if (m.nodes.empty()) BuidaMemoria(m);
  if (!Cap(m, cami.size(), text.size())) {
    Poda(m);
    if (!Cap(m, m.max_nodes / 4 + cami.size(), m.max_textos / 4 + text.size()))
      BuidaMemoria(m);
  }
  if (cami.size() > m.max_nodes || text.size() > m.max_textos) return;
  uint32_t n = 0;
  for (char c : cami) n = Fill(m, n, uint8_t(c));
  NodeMemoria& node = m.nodes[n];
  node.tipus = TANCAT;
  node.font = font;
  node.llarg = llarg;
  node.text = uint32_t(m.textos.size());
  node.mida = font == PROPI ? 0 : uint32_t(text.size());
  m.textos.append(text.data(), node.mida);
  Indexa(m, n);  // the slot now answers "closed"
}

}  // namespace etiquem
