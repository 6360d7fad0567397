// The Catalan dictionary and the tools that make it: the hunspell expander
// on small made-up dictionaries, the @whole-words directive, and the built
// dictionary itself (every form known to the speller, hand-checked
// sentences, unknown words read whole). Tests of the built dictionary skip
// when hunspell-ca was absent at build time.

#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "dictionary/encoding.h"
#include "dictionary/hunspell_expander.h"
#include "dictionary/lexicon.h"
#include "dictionary_helper.h"

namespace etiquem::dictionary {
namespace {

using test_support::RunShell;
using test_support::ShellQuote;

const std::string kEtiquem = ETIQUEM_BIN;
const std::string kCatalanLexicon = ETIQUEM_CATALAN_LEXICON;  // "" if absent
const std::string kDefaultBin = ETIQUEM_DEFAULT_BIN;
const std::string kCatalanDir = ETIQUEM_CATALAN_DIR;
const std::string kHunspellDir = ETIQUEM_HUNSPELL_CA_DIR;
const std::string kSentences = ETIQUEM_CATALAN_SENTENCES;

// ------------------------------------------------------------ expander

// A small affix file in the shape of hunspell-ca's: long flags, a plural, a
// two-gender class, a verb model of 6 lines, clitic and prefix flags.
const char kAff[] =
    "SET UTF-8\r\nFLAG long\r\nFORBIDDENWORD ZZ\r\n"
    "SFX _E Y 2\r\nSFX _E 0 s [^a]\r\nSFX _E a es a\r\n"
    "SFX _F Y 3\r\nSFX _F 0 a .\r\nSFX _F 0 s .\r\nSFX _F 0 es .\r\n"
    "SFX 00 Y 6\r\nSFX 00 r r/_C ar\r\nSFX 00 ar o ar\r\nSFX 00 r 0 ar\r\n"
    "SFX 00 r va ar\r\nSFX 00 r t ar\r\nSFX 00 ar ϕ ar\r\n"
    "SFX _C Y 1\r\nSFX _C 0 -lo .\r\n"
    "PFX _V Y 1\r\nPFX _V 0 l' [aeiou]\r\n";

const char kMap[] =
    "order n np adj vblex adv\n"
    "list feminine a =nit\n"
    "gender f feminine\n"
    "list adjective al\n"
    "stem _E n.$g.sg|adjective?adj.mf.sg\n"
    "rules plural\n  n.$g.pl|adjective?adj.mf.pl*2\nend\n"
    "stem _F adj.m.sg\n"
    "rules gender\n  adj.f.sg adj.m.pl adj.f.pl\nend\n"
    "rules verb vblex\n  inf pri.p1.sg pri.p3.sg pii.p3.sg pp.m.sg -\nend\n"
    "flags plural _E\nflags gender _F\nflags verb 00\n"
    "list adverb ment\n"
    "bare @capital?np|@lower?adverb?adv\n"
    "exclude-chars ' 0123456789\n"
    "infinitive-flags _C\n"
    "paradigm perdre re 0.6\n"
    "  vblex.inf re\n  vblex.pri o s 0 em eu en\nend\n"
    "infer-verbs 0.8 00\n"
    "infer-nouns 1 _F _E\n";

std::string Expand(const std::string& dic, const std::string& lexicon = "",
                   ExpansionStats* stats = nullptr) {
  std::string out, error;
  std::vector<NamedText> lexicons;
  if (!lexicon.empty()) lexicons.push_back({"closed.dic", lexicon});
  EXPECT_TRUE(ExpandHunspell({"x.aff", kAff}, {"x.dic", dic}, {"x.map", kMap},
                             lexicons, out, error, stats))
      << error;
  return out;
}

// The entry lines of an expansion (comments dropped).
std::string Entries(const std::string& lexicon) {
  std::string entries;
  std::istringstream in(lexicon);
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line[0] != '#') entries += line + "\n";
  return entries;
}

TEST(HunspellExpander, RulePositionsCarryTheTags) {
  EXPECT_EQ(Entries(Expand("3\r\ncasa/_E_V\r\nnit/_E\r\nbo/_F\r\n")),
            "bo\tbo<adj><m><sg>\n"
            "boa\tbo<adj><f><sg>\n"
            "boes\tbo<adj><f><pl>\n"
            "bos\tbo<adj><m><pl>\n"
            "casa\tcasa<n><f><sg>\n"
            "cases\tcasa<n><f><pl>\n"
            "nit\tnit<n><f><sg>\n"
            "nits\tnit<n><f><pl>\n");
}

TEST(HunspellExpander, VerbModelsListsAndOrder) {
  // A form made twice keeps one reading per cell; a form of two words
  // lists the noun before the verb (the map's order); conditions pick
  // readings; a cell "-" and characters outside Latin-1 give nothing.
  EXPECT_EQ(Entries(Expand("2\nparlar/00\nparla/_E\nnacional/_E\n")),
            "nacional\tnacional<n><m><sg>\n"
            "nacional\tnacional<adj><mf><sg>\n"
            "nacionals\tnacional<n><m><pl>\n"
            "nacionals\tnacional<adj><mf><pl>\n"
            "parla\tparla<n><f><sg>\n"
            "parla\tparlar<vblex><pri><p3><sg>\n"
            "parlar\tparlar<vblex><inf>\n"
            "parlat\tparlar<vblex><pp><m><sg>\n"
            "parlava\tparlar<vblex><pii><p3><sg>\n"
            "parles\tparla<n><f><pl>\n"
            "parlo\tparlar<vblex><pri><p1><sg>\n");
}

TEST(HunspellExpander, BareWordsForbiddenAndExcluded) {
  ExpansionStats st;
  EXPECT_EQ(Entries(Expand("5\nGirona\nràpidament\nd'en\nMP3\nxyz\n"
                           "malament/ZZ\nmalament\n", "", &st)),
            "Girona\tGirona<np>\n"
            "ràpidament\tràpidament<adv>\n");
  EXPECT_EQ(st.dictionary_words, 7u);
  EXPECT_EQ(st.skipped_words, 3u);  // d'en, MP3, the forbidden malament
  EXPECT_EQ(st.unmapped_words, 1u);  // xyz
}

TEST(HunspellExpander, ParadigmsAndInferenceOnlyMakeKnownForms) {
  // perdre: its paradigm makes perdo, perds, perd, perdem, perdeu, perden;
  // the dictionary knows five of the six (83 % >= 60 %), so those five are
  // written. batre: only two of six known, below the minimum: no reading.
  // cantar, listed form by form: the verb model fits (every form known).
  // home and homes: the plural flag fits, the two-gender one does not.
  const std::string dic =
      "20\nperdre/_C\nperdo\nperds\nperd\nperdem\nperdeu\n"
      "batre/_C\nbato\nbat\n"
      "cantar/_C\ncanto\ncanta\ncantava\ncantat\n"
      "home\nhomes\n";
  EXPECT_EQ(Entries(Expand(dic)),
            "canta\tcantar<vblex><pri><p3><sg>\n"
            "cantar\tcantar<vblex><inf>\n"
            "cantat\tcantar<vblex><pp><m><sg>\n"
            "cantava\tcantar<vblex><pii><p3><sg>\n"
            "canto\tcantar<vblex><pri><p1><sg>\n"
            "home\thome<n><m><sg>\n"
            "homes\thome<n><m><pl>\n"
            "perd\tperdre<vblex><pri><p3><sg>\n"
            "perdem\tperdre<vblex><pri><p1><pl>\n"
            "perdeu\tperdre<vblex><pri><p2><pl>\n"
            "perdo\tperdre<vblex><pri><p1><sg>\n"
            "perdre\tperdre<vblex><inf>\n"
            "perds\tperdre<vblex><pri><p2><sg>\n");
}

TEST(HunspellExpander, HandWrittenFormsTakeOver) {
  const std::string out =
      Expand("2\ncasa/_E\nla/_E\n", "@whole-words\nla\tel<det><def><f><sg>\n");
  EXPECT_EQ(Entries(out),
            "@whole-words\n"
            "la\tel<det><def><f><sg>\n"
            "casa\tcasa<n><f><sg>\n"
            "cases\tcasa<n><f><pl>\n"
            "les\tla<n><f><pl>\n");
  // The result compiles, with the directive.
  Automaton t = test_support::CompileText(out);
  EXPECT_EQ(test_support::CompleteReadings(t, "la"), "el&det;&def;&f;&sg;/");
}

TEST(HunspellExpander, MapErrorsNameTheLine) {
  auto error = [](const std::string& map) {
    std::string out, e;
    EXPECT_FALSE(ExpandHunspell({"x.aff", kAff}, {"x.dic", "1\na\n"},
                                {"x.map", map}, {}, out, e));
    return e;
  };
  EXPECT_EQ(error("order n\nfoo bar\n"),
            "Error: x.map:2: unknown or malformed line 'foo'");
  EXPECT_EQ(error("rules r\n  n.sg*2\nend\nflags r _E\nflags r _F\n"),
            "Error: x.map: flag _F has 3 rule lines but rules r has 2 cells");
  EXPECT_EQ(error("rules r\n  n.s<g\nend\n"), "Error: x.map:2: bad tags 'n.s<g'");
  EXPECT_EQ(error("rules r\n  n\n"), "Error: x.map:2: block without its 'end'");
  EXPECT_EQ(error("flags nope _E\n"), "Error: x.map:1: no rules block nope");
  EXPECT_EQ(error("rules r\nend\nflags r QQ\n"),
            "Error: x.map: flag QQ is not in x.aff");
}

// ------------------------------------------------------------ @whole-words

bool HasSymbol(const Automaton& t, const std::string& name) {
  for (const SymbolName& d : t.symbol_names)
    if (d.name == name) return true;
  return false;
}

TEST(WholeWords, DirectiveAddsASymbolOnNoMove) {
  const std::string lexicon = "casa\tcasa<n><f><sg>\n@desconegudes\n";
  Automaton without = test_support::CompileText(lexicon);
  Automaton with = test_support::CompileText("@whole-words\n" + lexicon);
  EXPECT_FALSE(HasSymbol(without, kWholeWords));
  EXPECT_TRUE(HasSymbol(with, kWholeWords));
  // Same readings and the same states otherwise.
  EXPECT_EQ(test_support::CompleteReadings(with, "casa"), test_support::CompleteReadings(without, "casa"));
  EXPECT_EQ(with.state_count, without.state_count);
  EXPECT_EQ(with.symbol_name_count, without.symbol_name_count + 1);

  Transducer a;
  std::string error;
  EXPECT_FALSE(CompileLexicon("p.dic", "@whole-words x\n", Encoding::kLatin1,
                            a, error));
  EXPECT_EQ(error, "Error: p.dic:1: @whole-words takes no argument");
  EXPECT_FALSE(CompileLexicon("p.dic", "a\ta<@whole-words>\n",
                            Encoding::kLatin1, a, error));
  EXPECT_EQ(error,
            "Error: p.dic:1: the tag name <@whole-words> is reserved for the "
            "@whole-words directive");
}

// ------------------------------------------------------------ the dictionary

bool HaveCatalan() { return !kCatalanLexicon.empty() && test_support::Exists(kCatalanLexicon); }

// Surface forms of the built lexicon, one a line, UTF-8.
std::string Forms() {
  std::set<std::string> forms;
  std::istringstream in(test_support::ReadFile(kCatalanLexicon));
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#' || line[0] == '@') continue;
    forms.insert(line.substr(0, line.find('\t')));
  }
  std::string text;
  for (const std::string& f : forms) text += f + "\n";
  return text;
}

TEST(CatalanDictionary, SpellerAcceptsEveryForm) {
  if (!HaveCatalan()) GTEST_SKIP() << "no Catalan dictionary (hunspell-ca absent)";
  if (RunShell("command -v hunspell").status != 0)
    GTEST_SKIP() << "the hunspell program is absent";
  auto r = RunShell("hunspell -d " + ShellQuote(kHunspellDir + "/ca") + " -i utf-8 -l",
                   Forms());
  ASSERT_EQ(r.status, 0) << r.errors;
  std::set<std::string> rejected, exceptions;
  std::istringstream out(r.output);
  for (std::string w; std::getline(out, w);) rejected.insert(w);
  std::istringstream list(test_support::ReadFile(kCatalanDir + "/speller_exceptions.txt"));
  for (std::string line; std::getline(list, line);)
    if (!line.empty() && line[0] != '#')
      exceptions.insert(line.substr(0, line.find('\t')));
  ASSERT_FALSE(exceptions.empty());
  for (const std::string& w : rejected)
    EXPECT_TRUE(exceptions.count(w)) << "hunspell-ca rejects '" << w << "'";
  for (const std::string& w : exceptions)
    EXPECT_TRUE(rejected.count(w)) << "listed exception '" << w
                                   << "' is accepted now: drop it";
}

// The stretches of one line of `etiquem -s -m` output: each surface form
// (blanks before it dropped) with the text written for it.
std::vector<std::pair<std::string, std::string>> Stretches(const std::string& line) {
  std::vector<std::pair<std::string, std::string>> out;
  std::vector<std::string> seg;
  std::istringstream in(line);
  for (std::string s; std::getline(in, s, '/');) seg.push_back(s);
  for (size_t k = 0; k + 1 < seg.size();) {
    std::string surface = seg[k].substr(seg[k].find_first_not_of(' ') == std::string::npos
                                            ? seg[k].size()
                                            : seg[k].find_first_not_of(' '));
    std::string text;
    ++k;
    if (seg[k].rfind("<d>", 0) == 0 && k + 1 < seg.size()) {
      // "<d>form</d>": the '/' of "</d>" splits it; what follows "d>"
      // starts the next stretch.
      text = seg[k] + "/d>";
      seg[k + 1].erase(0, 2);
      ++k;
    } else {
      while (k < seg.size() && seg[k].find('&') != std::string::npos)
        text += seg[k++] + "/";
    }
    out.push_back({surface, text});
  }
  return out;
}

// A reading as written in the sentence file (lemma<tag>...) as etiquem
// writes it (lemma&tag;.../).
std::string Written(const std::string& reading) {
  std::string s;
  for (char c : reading) s += c == '<' ? std::string("&") : c == '>' ? ";" : std::string(1, c);
  return s + "/";
}

// catalan_sentences.txt (UTF-8): a sentence a line, then its checks, each
// "  SURFACE = READING ; READING" or "  SURFACE = <d>".
struct CheckedSentence {
  std::string text;
  std::vector<std::pair<std::string, std::vector<std::string>>> checks;
};

std::vector<CheckedSentence> ReadSentences(const std::string& file) {
  std::vector<CheckedSentence> sentences;
  std::istringstream in(file);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    if (line[0] != ' ') {
      sentences.push_back({line, {}});
      continue;
    }
    EXPECT_FALSE(sentences.empty()) << line;
    const size_t eq = line.find(" = ");
    EXPECT_NE(eq, std::string::npos) << line;
    if (sentences.empty() || eq == std::string::npos) continue;
    std::string surface = line.substr(line.find_first_not_of(' '));
    surface = surface.substr(0, surface.find(" = "));
    std::vector<std::string> readings;
    std::istringstream r(line.substr(eq + 3));
    for (std::string x; std::getline(r, x, ';');) {
      x = x.substr(x.find_first_not_of(' '));
      x = x.substr(0, x.find_last_not_of(' ') + 1);
      readings.push_back(x);
    }
    sentences.back().checks.push_back({surface, readings});
  }
  return sentences;
}

// Checks `output`, etiquem's UTF-8 `-s -m` output for `sentences` (a line
// each), against their checks: the stretch of each surface listed (the
// next one, left to right) must hold those readings in that order, or be an
// unknown word. Every surface listed must be a stretch of its own, so a
// word cut into pieces fails. Returns the number of failed checks.
size_t FailedChecks(const std::vector<CheckedSentence>& sentences,
                    const std::string& output, const std::string& mode,
                    size_t& checked) {
  std::istringstream out(output);
  size_t failures = 0;
  for (const CheckedSentence& sentence : sentences) {
    std::string line;
    if (!std::getline(out, line)) {
      ADD_FAILURE() << mode << ": no output line for " << sentence.text;
      return failures + 1;
    }
    const auto stretches = Stretches(line);
    size_t from = 0;
    for (const auto& [surface, readings] : sentence.checks) {
      ++checked;
      size_t k = from;
      while (k < stretches.size() && stretches[k].first != surface) ++k;
      std::string why;
      if (k == stretches.size()) {
        why = "no stretch '" + surface + "'";
      } else {
        from = k + 1;
        const std::string& got = stretches[k].second;
        size_t p = 0;
        for (const std::string& x : readings) {
          const std::string w = x == "<d>" ? "<d>" + surface + "</d>" : Written(x);
          size_t q = ("/" + got).find((x == "<d>" ? "" : "/") + w, p);
          if (q == std::string::npos) {
            why = "lacks " + w + " (in order)";
            break;
          }
          p = q + w.size();
        }
      }
      if (!why.empty() && ++failures <= 20)
        ADD_FAILURE() << mode << ": " << sentence.text << "\n  " << surface
                      << ": " << why << "\n  got: " << line;
    }
  }
  return failures;
}

// Every sentence read as UTF-8 (--utf8, where the typographic apostrophe
// works as "'"), and every sentence that Latin-1 can write read as Latin-1:
// the same checks must hold in both.
TEST(CatalanDictionary, HandCheckedSentences) {
  if (!HaveCatalan()) GTEST_SKIP() << "no Catalan dictionary (hunspell-ca absent)";
  const std::vector<CheckedSentence> sentences =
      ReadSentences(test_support::ReadFile(kSentences));
  ASSERT_GE(sentences.size(), 300u);

  std::string utf8_input;
  for (const CheckedSentence& s : sentences) utf8_input += s.text + "\n";
  auto r = RunShell(kEtiquem + " --utf8 -s -m -b " + ShellQuote(kDefaultBin),
                    utf8_input);
  ASSERT_EQ(r.status, 0) << r.errors;
  size_t checked = 0;
  EXPECT_EQ(FailedChecks(sentences, r.output, "--utf8", checked), 0u)
      << "of " << checked << " checks in " << sentences.size() << " sentences";

  std::vector<CheckedSentence> latin1_sentences;
  std::string latin1_input;
  for (const CheckedSentence& s : sentences) {
    std::string latin1, what;
    if (!ToLatin1(s.text, Encoding::kUtf8, latin1, what)) continue;
    latin1_sentences.push_back(s);
    latin1_input += latin1 + "\n";
  }
  ASSERT_GE(latin1_sentences.size(), 250u);
  r = RunShell(kEtiquem + " -s -m -b " + ShellQuote(kDefaultBin), latin1_input);
  ASSERT_EQ(r.status, 0) << r.errors;
  checked = 0;
  EXPECT_EQ(FailedChecks(latin1_sentences, ToUtf8(r.output), "Latin-1", checked), 0u)
      << "of " << checked << " checks in " << latin1_sentences.size()
      << " sentences";
}

// Unknown words are read whole rather than cut into known pieces, while
// elided words and pronouns after a verb still split: the dictionary asks
// with @whole-words for unknown-word readings to compete on length.
TEST(CatalanDictionary, UnknownWordsReadWhole) {
  if (!HaveCatalan()) GTEST_SKIP() << "no Catalan dictionary (hunspell-ca absent)";
  auto r = RunShell(kEtiquem + " -m -b " + ShellQuote(kDefaultBin),
                   "casaxyz Estimad\xedssimxx vellotet l'home donar-li fes-ho 1998\n");
  ASSERT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.output,
            "<d>casaxyz</d> <d>Estimad\xedssimxx</d> <d>vellotet</d> "
            "el&det;&def;&m;&sg;/el&det;&def;&f;&sg;/el&prn;&pro;&p3;&m;&sg;/"
            "el&prn;&pro;&p3;&f;&sg;/home&n;&m;&sg;/ "
            "donar&vblex;&inf;/li&prn;&enc;&p3;&mf;&sg;/ "
            "fe&n;&f;&pl;/fes&n;&m;&sg;/fendre&vblex;&pp;&m;&sg;/"
            "fer&vblex;&pis;&p1;&sg;/fer&vblex;&pis;&p3;&sg;/"
            "fer&vblex;&imp;&p2;&sg;/ho&prn;&enc;&p3;&nt;/ <d>1998</d>\n");
}

}  // namespace
}  // namespace etiquem::dictionary
