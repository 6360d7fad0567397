// Round trips through the built programs: a lexicon compiled by etiquem-dic,
// then every surface form given to etiquem on a line of its own, must come
// back as exactly its analyses, in the order of the lexicon.

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "dictionary/encoding.h"
#include "dictionary_helper.h"
#include "process.h"

namespace etiquem::dictionary {
namespace {

using test_support::RunShell;
using test_support::ShellQuote;

const std::string kEtiquem = ETIQUEM_BIN;
const std::string kTool = ETIQUEM_DIC;
const std::string kSample = ETIQUEM_DIC_SAMPLE;
const std::string kShared = ETIQUEM_DIC_SHARED;

struct Analysis {
  std::string lexicon;  // Latin-1, tags as <tag>
  std::string kind;     // "completa", "parcial" or "desconeguda"
};

// Surface forms in order of first appearance, with their analyses.
struct Lexicon {
  std::vector<std::string> forms;
  std::map<std::string, std::vector<Analysis>> analyses;
};

// Reads the entry lines of a lexicon (comments and directives skipped).
Lexicon ReadLexicalForm(const std::string& bytes) {
  std::string text = bytes, problem;
  if (DetectEncoding(bytes) == Encoding::kUtf8) {
    EXPECT_TRUE(ToLatin1(bytes, Encoding::kUtf8, text, problem)) << problem;
  }
  Lexicon lx;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#' || line[0] == '@') continue;
    std::vector<std::string> fields;
    std::istringstream c(line);
    for (std::string field; std::getline(c, field, '\t');)
      fields.push_back(field);
    if (fields.size() == 2 && line.back() == '\t') fields.push_back("");
    if (fields.size() < 2) continue;
    auto& v = lx.analyses[fields[0]];
    if (v.empty()) lx.forms.push_back(fields[0]);
    v.push_back({fields[1], fields.size() > 2 ? fields[2] : "completa"});
  }
  return lx;
}

bool Exempt(int c) {
  return c == '+' || c == '_' || c == '-' || c == 0xB7 || c == '\'';
}

// A complete analysis as etiquem writes it for a word whose first and last
// characters have the case flags a and b.
std::string Complete(const std::string& lexicon, bool a, bool b) {
  std::string s;
  int i = 0;
  for (size_t p = 0; p < lexicon.size(); ++i) {
    if (lexicon[p] == '<') {
      size_t end = lexicon.find('>', p);
      s += "&" + lexicon.substr(p + 1, end - p - 1) + ";";
      p = end + 1;
      continue;
    }
    const int c = static_cast<unsigned char>(lexicon[p++]);
    const bool raise = !test_support::IsUpperForReading(c) && !Exempt(c) &&
                       ((i == 0 && a) || (i > 0 && b));
    s.push_back(
        static_cast<char>(raise ? test_support::UpperCaseForReading(c) : c));
  }
  return s + "/";
}

// What etiquem -m writes for a line holding only `form`.
std::string Expected(const std::string& form, const std::vector<Analysis>& v) {
  const bool a =
      test_support::IsUpperForReading(static_cast<unsigned char>(form.front()));
  const bool b =
      test_support::IsUpperForReading(static_cast<unsigned char>(form.back()));
  std::string text;
  int pieces = 0;
  bool unknown = false;
  for (const Analysis& x : v) {
    if (x.kind == "completa") {
      text += Complete(x.lexicon, a, b);
    } else if (x.kind == "parcial") {
      std::string p = Complete(x.lexicon, false, false);
      p.pop_back();  // pieces have no closing "/"
      ++pieces;
      if (text.empty())
        text = p;
      else if (pieces == 2)
        text = "<e>" + text + "</e><e>" + p + "</e>";
      else
        text += "<e>" + p + "</e>";
    } else {
      unknown = true;
    }
  }
  if (pieces >= 2) text = "<amb>" + text + "</amb>";
  if (text.empty() && unknown) text = "<d>" + form + "</d>";
  return text;
}

// Whether another form of the lexicon also matches `form` when its
// upper-case letters follow lower-case moves too.
bool HasVariants(const Lexicon& lx, const std::string& form) {
  std::vector<size_t> positions;
  for (size_t i = 0; i < form.size(); ++i)
    if (test_support::IsUpperForReading(static_cast<unsigned char>(form[i])))
      positions.push_back(i);
  if (positions.size() > 12) return true;
  for (size_t m = 1; m < (size_t(1) << positions.size()); ++m) {
    std::string f = form;
    for (size_t k = 0; k < positions.size(); ++k)
      if (m & (size_t(1) << k)) f[positions[k]] = char(f[positions[k]] + 32);
    if (lx.analyses.count(f)) return true;
  }
  return false;
}

// Compiles `source` with etiquem-dic, runs etiquem -m over its forms, and
// checks every line. Forms that other forms match through case folding only
// need their own readings, in order, among the line's readings. Under the
// sanitizers, which make a run of the whole Catalan dictionary take three
// minutes, every `kSanitizerStride`-th form of a large lexicon is checked.
void CheckRoundTrip(const std::string& source, const std::string& name) {
  constexpr size_t kSanitizerStride = 8;
  constexpr size_t kLargeLexicon = 100000;  // forms
  const std::string d = test_support::NewDirectory(name);
  auto r = RunShell(kTool + " compile " + ShellQuote(source) + " -o " +
                    ShellQuote(d + "/a.bin"));
  ASSERT_EQ(r.status, 0) << r.errors;
  const Lexicon lx = ReadLexicalForm(test_support::ReadFile(source));
  ASSERT_FALSE(lx.forms.empty());
  std::vector<std::string> forms;
  const size_t stride =
      etiquem::test_support::kWithSanitizer && lx.forms.size() > kLargeLexicon
          ? kSanitizerStride
          : 1;
  for (size_t i = 0; i < lx.forms.size(); i += stride)
    forms.push_back(lx.forms[i]);
  std::string input;
  for (const std::string& f : forms) input += f + "\n";
  r = RunShell(kEtiquem + " -m -b " + ShellQuote(d + "/a.bin"), input);
  ASSERT_EQ(r.status, 0) << r.errors;
  std::istringstream output(r.output);
  size_t errors = 0, with_variants = 0;
  for (const std::string& f : forms) {
    std::string line;
    ASSERT_TRUE(std::getline(output, line)) << "output ends before " << f;
    const std::string expected = Expected(f, lx.analyses.at(f));
    if (HasVariants(lx, f)) {
      ++with_variants;
      // Own readings, in order, as a subsequence of the line's.
      size_t p = 0;
      bool matches = true;
      for (const Analysis& x : lx.analyses.at(f)) {
        const bool a = test_support::IsUpperForReading(
            static_cast<unsigned char>(f.front()));
        const bool b = test_support::IsUpperForReading(
            static_cast<unsigned char>(f.back()));
        std::string reading = Complete(x.lexicon, a, b);
        size_t q = ("/" + line).find("/" + reading, p);
        matches = matches && x.kind == "completa" && q != std::string::npos;
        if (matches) p = q + reading.size();
      }
      if (!matches && ++errors <= 10)
        ADD_FAILURE() << "form " << ToUtf8(f) << ": " << ToUtf8(line);
    } else if (line != expected && ++errors <= 10) {
      ADD_FAILURE() << "form " << ToUtf8(f) << "\n  expected "
                    << ToUtf8(expected) << "\n  got      " << ToUtf8(line);
    }
  }
  EXPECT_EQ(errors, 0u) << "of " << forms.size() << " forms ("
                        << with_variants << " with case variants)";
}

TEST(RoundTrip, SampleDictionary) {
  if (!test_support::Exists(kSample)) GTEST_SKIP() << kSample << " is absent";
  CheckRoundTrip(kSample, "sample");
}

TEST(RoundTrip, SharedCatalanLexicon) {
  const std::string tsv = kShared + "/lexicon/ca.tsv";
  if (!test_support::Exists(tsv)) GTEST_SKIP() << tsv << " is absent";
  CheckRoundTrip(tsv, "ca");
}

TEST(RoundTrip, CatalanDictionary) {
  const std::string lexicon = ETIQUEM_CATALAN_LEXICON;
  if (lexicon.empty() || !test_support::Exists(lexicon))
    GTEST_SKIP() << "no Catalan dictionary (hunspell-ca absent)";
  CheckRoundTrip(lexicon, "catalan");
}

TEST(RoundTrip, SampleSentence) {
  if (!test_support::Exists(kSample)) GTEST_SKIP() << kSample << " is absent";
  const std::string d = test_support::NewDirectory("sentence");
  auto r = RunShell(kTool + " compile " + ShellQuote(kSample) + " -o " +
                    ShellQuote(d + "/a.bin"));
  ASSERT_EQ(r.status, 0) << r.errors;
  r = RunShell(kEtiquem + " -m -b " + ShellQuote(d + "/a.bin"),
               "l'home diu que vindr\xe0 a causa del fred, per\xf2 xyz no.\n");
  EXPECT_EQ(r.output,
            "el&det;&def;&m;&sg;/el&det;&def;&f;&sg;/el&prn;&pro;&p3;&m;&sg;/"
            "el&prn;&pro;&p3;&f;&sg;/home&n;&m;&sg;/ dir&vblex;&pri;&p3;&sg;/ "
            "que&rel;&an;&mf;&sp;/que&cnjsub;/ venir&vblex;&fti;&p3;&sg;/ "
            "a causa de&pr;+el&det;&def;&m;&sg;/ fred&n;&m;&sg;/"
            "fred&adj;&m;&sg;/,&cm;/ per\xf2&cnjcoo;/ <d>xyz</d> no&adv;/."
            "&sent;/\n");
}

}  // namespace
}  // namespace etiquem::dictionary
