// Helpers for the dictionary tool tests.

#include "dictionary_helper.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "dictionary/lexicon.h"
#include "scratch_directory.h"

namespace etiquem::dictionary::test_support {
namespace {

// A live path: the state it stands in and what it has written.
struct LivePath {
  int32_t status;
  std::vector<int32_t> output;
};

void Follow(const Automaton& t, const LivePath& v, int32_t c,
            std::vector<LivePath>& next) {
  const State& n = t.states[size_t(v.status)];
  int g = FindGroup(n.groups, c, n.group_count);
  if (g < 0) return;
  for (int32_t k = 0; k < n.groups[g].move_count; ++k) {
    const Move& m = n.groups[g].moves[k];
    LivePath successor{m.target, v.output};
    if (m.output_symbol != 0) successor.output.push_back(m.output_symbol);
    next.push_back(std::move(successor));
  }
}

}  // namespace

std::vector<Reading> Readings(const Automaton& t, const std::string& form,
                              size_t* max_live) {
  std::vector<LivePath> list{{0, {}}};
  if (max_live) *max_live = 0;
  for (char ch : form) {
    const int32_t c = static_cast<unsigned char>(ch);
    std::vector<LivePath> next;
    for (const LivePath& v : list) {
      Follow(t, v, c, next);
      if (IsFoldedUpper(c)) Follow(t, v, c + 32, next);
    }
    // Closure: new paths join the tail of the list being walked.
    for (size_t i = 0; i < next.size(); ++i) {
      const State& n = t.states[size_t(next[i].status)];
      if (n.epsilon_group_count <= 0) continue;
      for (int32_t k = 0; k < n.epsilon_groups[0].move_count; ++k) {
        const Move& m = n.epsilon_groups[0].moves[k];
        LivePath successor{m.target, next[i].output};
        if (m.output_symbol != 0 && m.output_symbol != '0')
          successor.output.push_back(m.output_symbol);
        next.push_back(std::move(successor));
      }
    }
    list = std::move(next);
    if (max_live && list.size() > *max_live) *max_live = list.size();
  }
  std::vector<Reading> read_calls;
  if (form.empty()) return read_calls;
  for (const LivePath& v : list) {
    const State& n = t.states[size_t(v.status)];
    for (int32_t g = 0; g < n.group_count; ++g) {
      const int input_symbol = n.groups[g].input_symbol;
      if (input_symbol == kEndOfAnalysis || input_symbol == kEndOfPiece ||
          input_symbol == kEndOfUnknown)
        read_calls.push_back({input_symbol, v.output});
    }
  }
  return read_calls;
}

std::string Text(const Automaton& t, const std::vector<int32_t>& output) {
  std::string s;
  for (int32_t x : output) {
    if (x >= kFirstNamedSymbol) {
      const std::string* name = NameOfSymbol(t, x);
      s += "&" + (name ? *name : std::string("?")) + ";";
    } else {
      s.push_back(static_cast<char>(x));
    }
  }
  return s;
}

std::string CompleteReadings(const Automaton& t, const std::string& form) {
  std::string s;
  for (const Reading& l : Readings(t, form))
    if (l.marker == kEndOfAnalysis) s += Text(t, l.output) + "/";
  return s;
}

Automaton Load(const std::string& bytes) {
  Automaton t;
  std::string error;
  EXPECT_TRUE(LoadAutomatonFromBytes(
      t, "test.bin", reinterpret_cast<const uint8_t*>(bytes.data()),
      bytes.size(), error))
      << error;
  return t;
}

Automaton CompileText(const std::string& lexicon) {
  Transducer a;
  std::string error;
  EXPECT_TRUE(CompileLexicon("test.dic", lexicon, Encoding::kDetect, a, error))
      << error;
  return Load(Serialise(a));
}

std::string ReadFile(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

void WriteFile(const std::string& name, const std::string& bytes) {
  std::ofstream f(name, std::ios::binary | std::ios::trunc);
  f << bytes;
}

bool Exists(const std::string& name) {
  struct stat st;
  return stat(name.c_str(), &st) == 0;
}

std::string NewDirectory(const std::string& name) {
  return etiquem::test_support::NewScratchSubdirectory(name);
}

std::string ShellQuote(const std::string& s) {
  std::string r = "'";
  for (char c : s) r += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return r + "'";
}

Result RunShell(const std::string& command, const std::string& input) {
  const std::string d = etiquem::test_support::ScratchPath("shell");
  WriteFile(d + ".in", input);
  const int s =
      std::system((command + " < " + ShellQuote(d + ".in") + " > " +
                   ShellQuote(d + ".out") + " 2> " + ShellQuote(d + ".err"))
                      .c_str());
  Result r;
  r.status = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
  r.output = ReadFile(d + ".out");
  r.errors = ReadFile(d + ".err");
  std::remove((d + ".in").c_str());
  std::remove((d + ".out").c_str());
  std::remove((d + ".err").c_str());
  return r;
}

bool IsUpperForReading(int c) { return IsFoldedUpper(c); }

int UpperCaseForReading(int c) {
  if ((c >= 'a' && c <= 'z') || (c >= 224 && c <= 254 && c != 247))
    return c - 32;
  return c;
}

}  // namespace etiquem::dictionary::test_support
