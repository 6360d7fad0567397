// The bundled lexicons checked entry by entry: the sample (data/mostra.dic),
// the hand-written part of the Catalan dictionary (data/catalan/closed.dic)
// and, when this build generated it from hunspell-ca, the whole Catalan
// lexicon.
//
// A surface form made only of punctuation must be meant as punctuation: its
// lexical form is the mark itself followed by one punctuation tag. Anything
// else there is a slip that users meet on every such mark in their texts
// (an entry "-<TAB>haver<vbhaver><pp><f><sg>", a placeholder for a missing
// form, gave every dash the readings of a participle). A lexicon is read
// with the rules of tools/README.md: comments, directives, escapes, and
// UTF-8 or Latin-1 text. Then the same as users meet it: every punctuation
// character of Latin-1 through etiquem with the compiled sample and default
// dictionaries.

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "process.h"

namespace etiquem {
namespace {

// The tags of punctuation marks (doc/tags.md).
const std::set<std::string> kPunctuationTags = {
    "sent", "cm", "lpar", "rpar", "lquot", "rquot", "quot", "guio"};

struct LexiconEntry {
  int line = 0;          // 1-based line number in the file
  std::string surface;   // Latin-1 bytes, escapes resolved
  std::string lexical;   // Latin-1 bytes, escapes resolved
  std::string kind;      // empty for the default, `completa`
};

// The text as Latin-1 bytes: UTF-8 when it is valid UTF-8 (characters past
// Latin-1 are an error), otherwise taken as Latin-1 already.
bool ToLatin1(const std::string& text, std::string& latin1) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = text[i];
    if (c < 0x80) {
      out += char(c);
      ++i;
    } else if ((c & 0xE0) == 0xC0 && i + 1 < text.size() &&
               (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80) {
      const unsigned code = ((c & 0x1F) << 6) | (text[i + 1] & 0x3F);
      if (code < 0x80 || code > 0xFF) return false;
      out += char(code);
      i += 2;
    } else {
      latin1 = text;  // not UTF-8 (or past Latin-1): the bytes as they are
      return true;
    }
  }
  latin1 = out;
  return true;
}

// Splits one entry line at its unescaped tabs, resolving escapes.
std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields(1);
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\\' && i + 1 < line.size()) {
      ++i;
      fields.back() += line[i] == 't' ? '\t' : line[i];
    } else if (line[i] == '\t') {
      fields.emplace_back();
    } else {
      fields.back() += line[i];
    }
  }
  return fields;
}

std::vector<LexiconEntry> ReadLexicon(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream bytes;
  bytes << file.rdbuf();
  std::string text;
  EXPECT_TRUE(ToLatin1(bytes.str(), text)) << path;
  std::vector<LexiconEntry> entries;
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#' || line[0] == '@')
      continue;
    const std::vector<std::string> f = Fields(line);
    EXPECT_GE(f.size(), 2u) << path << ":" << number << ": " << line;
    if (f.size() < 2) continue;
    entries.push_back({number, f[0], f[1], f.size() > 2 ? f[2] : ""});
  }
  return entries;
}

// A letter or digit of Latin-1; everything else (marks, symbols, blanks)
// is punctuation here.
bool IsWordCharacter(unsigned char c) {
  if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
      (c >= 'a' && c <= 'z'))
    return true;
  if (c >= 0xC0) return c != 0xD7 && c != 0xF7;  // letters, but not × and ÷
  // feminine and masculine ordinals, micro, superscript digits, fractions
  for (unsigned char w : {0xAA, 0xBA, 0xB5, 0xB2, 0xB3, 0xB9, 0xBC, 0xBD, 0xBE})
    if (c == w) return true;
  return false;
}

bool OnlyPunctuation(const std::string& surface) {
  for (unsigned char c : surface)
    if (IsWordCharacter(c)) return false;
  return true;
}

// The surface form itself, then one punctuation tag; a complete analysis.
bool MeantAsPunctuation(const LexiconEntry& e) {
  if (!e.kind.empty() && e.kind != "completa") return false;
  const std::string& l = e.lexical;
  if (l.size() < e.surface.size() + 2 || l.compare(0, e.surface.size(), e.surface) != 0 ||
      l[e.surface.size()] != '<' || l.back() != '>')
    return false;
  return kPunctuationTags.count(
             l.substr(e.surface.size() + 1, l.size() - e.surface.size() - 2)) > 0;
}

// The directory of the built programs, where share/ and data/ are.
std::string BuildDirectory() {
  const std::string program = ETIQUEM_BIN;
  return program.substr(0, program.rfind('/'));
}

// Checks every entry of the lexicon at `path`; at least `min_entries` must
// be read and `min_marks` of them be punctuation, so that a lexicon that was
// not read, or read wrongly, does not pass unseen.
void CheckLexicon(const std::string& path, size_t min_entries, int min_marks) {
  SCOPED_TRACE(path);
  const std::vector<LexiconEntry> entries = ReadLexicon(path);
  ASSERT_GE(entries.size(), min_entries) << "the lexicon was not read";
  int marks = 0;
  for (const LexiconEntry& e : entries) {
    if (!OnlyPunctuation(e.surface)) continue;
    ++marks;
    EXPECT_TRUE(MeantAsPunctuation(e))
        << path << ":" << e.line << ": surface '" << e.surface
        << "' is only punctuation, but reads '" << e.lexical << "'"
        << (e.kind.empty() ? "" : " (" + e.kind + ")");
  }
  EXPECT_GE(marks, min_marks) << "the punctuation entries were not found";
}

TEST(BundledLexicons, PunctuationSurfacesAreMeantAsPunctuation) {
  // . ... ? ! , ; : ( ) « » " - and, in the Catalan one, [ ]
  CheckLexicon(std::string(ETIQUEM_SRC) + "/data/mostra.dic", 1000, 13);
  CheckLexicon(std::string(ETIQUEM_SRC) + "/data/catalan/closed.dic", 300, 15);
}

TEST(BundledLexicons, GeneratedCatalanLexicon) {
  const std::string path = BuildDirectory() + "/data/catalan.dic";
  if (access(path.c_str(), R_OK) != 0)
    GTEST_SKIP() << "no " << path << " (hunspell-ca is not installed)";
  CheckLexicon(path, 500000, 15);
}

// The check itself: it refuses what it is meant to refuse.
TEST(BundledLexicons, CheckRefusesNonPunctuationReadings) {
  EXPECT_TRUE(OnlyPunctuation("-"));
  EXPECT_TRUE(OnlyPunctuation("\xab"));  // «
  EXPECT_FALSE(OnlyPunctuation("l'"));
  EXPECT_FALSE(OnlyPunctuation("\xe0"));  // à
  EXPECT_TRUE(MeantAsPunctuation({1, "-", "-<guio>", ""}));
  EXPECT_TRUE(MeantAsPunctuation({1, "...", "...<sent>", "completa"}));
  EXPECT_FALSE(MeantAsPunctuation({1, "-", "haver<vbhaver><pp><f><sg>", ""}));
  EXPECT_FALSE(MeantAsPunctuation({1, "-", "-<guio><sg>", ""}));
  EXPECT_FALSE(MeantAsPunctuation({1, "-", "-<n>", ""}));
  EXPECT_FALSE(MeantAsPunctuation({1, "-", "-<guio>", "parcial"}));
  EXPECT_FALSE(MeantAsPunctuation({1, ",", ".<sent>", ""}));
  const std::vector<std::string> f = Fields("\\#a\\tb\tx\\<y\\>\tparcial");
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(f[0], "#a\tb");
  EXPECT_EQ(f[1], "x<y>");
  EXPECT_EQ(f[2], "parcial");
  std::string latin1;
  ASSERT_TRUE(ToLatin1("\xc2\xab" "a\xc3\xa0", latin1));
  EXPECT_EQ(latin1, "\xab" "a\xe0");
}

TEST(BundledLexicons, ADashReadsAsADash) {
  test_support::Result r = test_support::RunCommand(
      {ETIQUEM_BIN, "-s", "-b", BuildDirectory() + "/share/etiquem/sample.bin"},
      "casa - i\n");
  EXPECT_EQ(r.output,
            "casa/casa&n;&f;&sg;/casar&vblex;&pri;&p3;&sg;/ -/-&guio;/ "
            "i/i&cnjcoo;/\n");
  EXPECT_EQ(r.errors, "");
  EXPECT_EQ(r.status, 0);
}

// Each punctuation character alone on a line, through etiquem -s -m: it is
// echoed or read as an unknown word (no reading), or every one of its
// readings is the character with one punctuation tag.
void CheckPunctuationReadings(const std::string& dictionary) {
  std::vector<std::string> marks;
  for (int c = 0x21; c <= 0xFF; ++c) {
    if (c >= 0x7F && c <= 0xA0) continue;  // DEL, C1 controls, no-break space
    if (IsWordCharacter(static_cast<unsigned char>(c))) continue;
    marks.push_back(std::string(1, static_cast<char>(c)));
  }
  marks.push_back("...");
  int read = 0;
  for (const std::string& mark : marks) {
    test_support::Result r = test_support::RunCommand(
        {ETIQUEM_BIN, "-s", "-m", "-b", dictionary}, mark + "\n");
    ASSERT_EQ(r.status, 0) << r.errors;
    const std::string out = r.output;
    if (out == mark + "\n" || out == mark + "/<d>" + mark + "</d>\n")
      continue;  // no reading
    ASSERT_EQ(out.rfind(mark + "/", 0), 0u) << out;
    ASSERT_EQ(out.substr(out.size() - 2), "/\n") << out;
    ++read;
    // the readings, each ending with '/'
    const std::string readings =
        out.substr(mark.size() + 1, out.size() - mark.size() - 2);
    size_t start = 0;
    for (size_t end; (end = readings.find('/', start)) != std::string::npos;
         start = end + 1) {
      const std::string reading = readings.substr(start, end - start);
      const bool punctuation =
          reading.size() > mark.size() + 2 &&
          reading.compare(0, mark.size(), mark) == 0 &&
          reading[mark.size()] == '&' && reading.back() == ';' &&
          kPunctuationTags.count(reading.substr(
              mark.size() + 1, reading.size() - mark.size() - 2)) > 0;
      EXPECT_TRUE(punctuation)
          << "'" << mark << "' reads '" << reading << "' in: " << out;
    }
  }
  EXPECT_GE(read, 13) << "the punctuation of the dictionary";
}

TEST(BundledLexicons, EveryPunctuationCharacterReadsOnlyAsPunctuation) {
  for (const char* name : {"sample.bin", "default.bin"}) {
    SCOPED_TRACE(name);
    CheckPunctuationReadings(BuildDirectory() + "/share/etiquem/" + name);
  }
}

}  // namespace
}  // namespace etiquem
