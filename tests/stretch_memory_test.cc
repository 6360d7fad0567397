// The memory of written stretches against a plain map: random keys (short
// and long, prefixes of one another, the same characters under both
// sources) and texts (empty to longer than a copied chunk), stored under
// budgets from a few stretches to plenty. Whatever the budget, every kept
// stretch is found with its own text and parts, nothing else is found, the
// memory stays within its bounds, and the bytes after its last text and a
// chunk from the start of every text are there to be read.

#include "engine/stretch_memory.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace etiquem {
namespace {

struct Kept {
  std::string text;
  uint32_t symbol;  // the first symbol of its one part, or 0 for none
};

using Model = std::map<std::pair<std::string, int>, Kept>;

// A key with the readable bytes after it that lookups ask for.
struct KeyBuffer {
  char bytes[128] = {};
  size_t size = 0;
  std::string_view view() const { return std::string_view(bytes, size); }
};

KeyBuffer RandomKey(std::mt19937& g, const std::vector<std::string>& seen) {
  KeyBuffer k;
  std::string key;
  if (!seen.empty() && g() % 3 == 0) {
    // Another key, cut or grown by a byte: keys that share their words.
    key = seen[g() % seen.size()];
    if (key.size() > 1 && g() % 2 == 0)
      key.pop_back();
    else if (key.size() < 60)
      key.push_back(char("ab'-\xe0"[g() % 5]));
  } else {
    const size_t n = 1 + g() % (g() % 4 == 0 ? 60 : 12);
    for (size_t i = 0; i < n; ++i) key.push_back(char("ab'-\xe0\0"[g() % 6]));
  }
  std::memcpy(k.bytes, key.data(), key.size());
  k.size = key.size();
  return k;
}

std::string RandomText(std::mt19937& g) {
  const size_t n = g() % 4 == 0 ? g() % 100 : g() % 33;
  std::string text;
  for (size_t i = 0; i < n; ++i) text.push_back(char('A' + g() % 50));
  return text;
}

// Everything the memory promises, checked against `model`.
void ExpectHolds(const StretchMemory& m, const Model& model,
                 const std::vector<std::string>& probes,
                 const std::string& what) {
  ASSERT_GE(m.bytes.size(), kTailBytes) << what;
  EXPECT_LE(m.bytes.size(), m.max_text_bytes) << what;
  EXPECT_LE(m.entries.size(), m.max_entries) << what;
  EXPECT_LE(m.parts.size(), m.max_parts) << what;
  EXPECT_LE(m.symbols.size(), m.max_symbols) << what;
  EXPECT_EQ(m.bytes.substr(m.bytes.size() - kTailBytes),
            std::string(kTailBytes, '\0'))
      << what;
  const size_t slots = m.slots.size();
  EXPECT_EQ(slots & (slots - 1), 0u) << what;
  EXPECT_EQ(m.slot_mask, slots - 1) << what;
  EXPECT_LE(m.entries.size() * 2, slots) << what;
  size_t used = 0;
  for (const StretchSlot& slot : m.slots) {
    if (slot.word == 0) continue;
    ++used;
    const std::string_view text = StretchText(m, slot);
    EXPECT_LE(size_t(text.data() - m.bytes.data()) + text.size() + kTailBytes,
              m.bytes.size())
        << what;
    EXPECT_LE(size_t(text.data() - m.bytes.data()) + kTextChunkBytes,
              m.bytes.size())
        << what;
  }
  EXPECT_EQ(used, m.entries.size()) << what;
  EXPECT_EQ(used, model.size()) << what;
  for (const auto& [key, kept] : model) {
    KeyBuffer k;
    std::memcpy(k.bytes, key.first.data(), key.first.size());
    k.size = key.first.size();
    const StretchSlot* slot =
        FindStretch(m, k.view(), TextSource(key.second));
    ASSERT_NE(slot, nullptr) << what << " " << key.first;
    EXPECT_EQ(StretchText(m, *slot), kept.text) << what;
    const uint32_t first_part =
        m.entries[StretchEntryIndex(m, *slot)].first_part;
    if (kept.symbol == 0) {
      EXPECT_EQ(first_part, kNoParts) << what;
    } else {
      ASSERT_LT(first_part, m.parts.size()) << what;
      EXPECT_EQ(m.parts[first_part].last, 1) << what;
      EXPECT_EQ(*PartSymbols(m, m.parts[first_part]), int32_t(kept.symbol))
          << what;
    }
  }
  for (const std::string& probe : probes) {
    for (int source : {kReading, kUnknownWord}) {
      if (model.count({probe, source}) != 0) continue;
      KeyBuffer k;
      std::memcpy(k.bytes, probe.data(), probe.size());
      k.size = probe.size();
      EXPECT_EQ(FindStretch(m, k.view(), TextSource(source)), nullptr)
          << what << " " << probe;
    }
  }
}

TEST(StretchMemory, FindsWhatItKeepsWithinEveryBudget) {
  std::mt19937 g(20261208);
  struct Budget {
    size_t entries, text_bytes;
  };
  for (const Budget budget : {Budget{3, 200}, Budget{8, 120}, Budget{40, 900},
                              Budget{1000, 4000}, Budget{1 << 16, 1 << 21}}) {
    StretchMemory m;
    m.max_entries = budget.entries;
    m.max_text_bytes = budget.text_bytes;
    m.max_parts = budget.entries;
    m.max_symbols = budget.entries * 2;
    Model model;
    std::vector<std::string> seen;
    for (int round = 0; round < 1500; ++round) {
      const KeyBuffer k = RandomKey(g, seen);
      const TextSource source = g() % 3 == 0 ? kUnknownWord : kReading;
      const std::string key(k.view());
      seen.push_back(key);
      if (FindStretch(m, k.view(), source) != nullptr) {
        ASSERT_EQ(model.count({key, source}), 1u);
        continue;
      }
      ASSERT_EQ(model.count({key, source}), 0u);
      const std::string text = RandomText(g);
      const int32_t symbols[1] = {int32_t(1 + g() % 1000)};
      ReadingPart part;
      part.first_symbol = 0;
      part.symbol_count = 1;
      const bool with_part = g() % 2 == 0;
      const uint64_t clears = m.clears;
      StoreStretch(m, k.view(), source, text,
                   with_part ? std::span<const ReadingPart>(&part, 1)
                             : std::span<const ReadingPart>(),
                   symbols);
      if (m.clears != clears) model.clear();
      if (FindStretch(m, k.view(), source) != nullptr)
        model[{key, int(source)}] = {text, with_part ? uint32_t(symbols[0]) : 0};
      else  // only what alone does not fit is not kept
        EXPECT_GT(kStretchHeaderBytes + key.size() + text.size() + kTailBytes,
                  m.max_text_bytes);
      if (round % 50 == 0 || round == 1499) {
        std::vector<std::string> probes(seen.end() - std::min<size_t>(
                                                          seen.size(), 40),
                                        seen.end());
        ExpectHolds(m, model, probes,
                    "budget " + std::to_string(budget.entries) + " round " +
                        std::to_string(round));
      }
    }
    if (budget.entries < 100) {
      EXPECT_GT(m.clears, 0u) << budget.entries;
    }
  }
}

}  // namespace
}  // namespace etiquem
