// Tests of acceptance recording: which record and status a position gets for
// each combination of accepting live states, met in list order, and the text
// that record is written as.
//
// The automata are built so that one step on "x" gives live states in a
// chosen order, each with a one-letter output and one marker. A complete
// analysis then renders as "a/", a piece as "a", so the tables read plainly.

#include "engine/acceptance.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "analysis_helper.h"
#include "automaton_builder.h"
#include "engine/automaton.h"
#include "engine/live_states.h"
#include "engine/reader.h"

namespace etiquem {
namespace {

// One accepting path: its output text (one token per symbol of the
// description, or "-" for none) and its marker ("fi", "parcial", "descon",
// or several separated by blanks, in list order).
struct Path {
  std::string output;
  std::string markers;
};

struct Fixture {
  std::unique_ptr<Automaton> t = std::make_unique<Automaton>();
  LiveStates live_states;
  Acceptances acceptances;
  StepRecord e;
  std::string form;  // the surface of the latest call
};

// The text the position's analysis record is written as.
std::string AnalysisText(Fixture& p) {
  std::string text;
  RenderAnalysis(p.acceptances, p.live_states, p.e.analysis, p.form.data(),
                 text);
  return text;
}
std::string FormOf(const Fixture& p, const ReadingRecord& r) {
  return p.form.substr(0, r.form_length);
}
std::string UnknownText(const Fixture& p) {
  std::string text;
  RenderUnknown(p.e.unknown,
                std::string_view(p.form.data(), p.e.unknown.form_length),
                text);
  return text;
}

// Loads description `d` and steps its live set over one 'x'.
void Walk(Fixture& p, const std::string& d) {
  ResetAutomaton(*p.t);
  test_support::LoadOrFail(*p.t, test_support::Bytes(d));
  InitLiveStates(p.live_states, p.t.get());
  StartAtInitialState(p.live_states);
  ClearAcceptances(p.acceptances);
  StepLiveStates(p.live_states, 'x');
  CloseOverEpsilons(p.live_states);
}

void Prepare(Fixture& p, const std::vector<Path>& paths) {
  std::string d = "alfabet x\nestat 0\n";
  for (size_t i = 0; i < paths.size(); ++i)
    d += "  x " + paths[i].output + " " + std::to_string(i + 1) + "\n";
  for (size_t i = 0; i < paths.size(); ++i) {
    d += "estat " + std::to_string(i + 1) + "\n";
    std::string m = paths[i].markers;
    size_t pos = 0;
    while (pos < m.size()) {
      size_t end = m.find(' ', pos);
      if (end == std::string::npos) end = m.size();
      if (end > pos) d += "  " + m.substr(pos, end - pos) + "\n";
      pos = end + 1;
    }
  }
  Walk(p, d);
}

void Record(Fixture& p, std::string_view form, int a = 0, int b = 0,
            int apostrophe_blank = 0, int mark_unknown = 0) {
  p.form = std::string(form);
  RecordAcceptances(p.acceptances, p.live_states, p.form, a, b, p.e,
                    apostrophe_blank, mark_unknown);
}

struct Row {
  std::vector<Path> paths;
  const char* analysis;  // null: no record
  int acceptance;
};

TEST(RecordAcceptances, TableOfCombinations) {
  const Path A1{"a", "fi"}, A2{"b", "fi"};
  const Path P1{"a", "parcial"}, P2{"b", "parcial"}, P3{"c", "parcial"};
  const Path Ab{"b", "fi"}, Pb{"b", "parcial"}, Pc{"c", "parcial"};
  const Path U{"-", "descon"}, Pempty{"-", "parcial"};
  const std::vector<Row> rows = {
      {{}, nullptr, 0},
      {{{"a", ""}}, nullptr, 0},
      {{U}, nullptr, 2},
      {{A1}, "a/", 1},
      {{A1, A2}, "a/b/", 1},
      {{P1}, "a", 2},
      {{P1, P2}, "<amb><e>a</e><e>b</e></amb>", 2},
      {{P1, P2, P3}, "<amb><e>a</e><e>b</e><e>c</e></amb>", 2},
      {{A1, Pb}, "a/<e>b</e>", 1},
      {{A1, Pb, Pc}, "<amb><e>a/<e>b</e></e><e>c</e></amb>", 1},
      {{P1, Ab}, "ab/", 1},
      // An unknown-word marker after the last complete analysis: the last
      // kind decides.
      {{A1, U}, "a/", 1},
      {{U, A1}, "a/", 1},
      {{P1, U}, "a", 2},
      {{A1, U, Pempty}, "a/", 2},
      // An empty piece adds nothing, but counts as the last kind.
      {{Pempty}, nullptr, 0},
      {{A1, Pempty}, "a/", 1},
      {{P1, Pempty, P2}, "<amb><e>a</e><e>b</e></amb>", 2},
  };
  for (size_t i = 0; i < rows.size(); ++i) {
    Fixture p;
    Prepare(p, rows[i].paths);
    Record(p, "x");
    SCOPED_TRACE("row " + std::to_string(i));
    if (rows[i].analysis == nullptr) {
      EXPECT_FALSE(p.e.analysis.present) << AnalysisText(p);
    } else {
      ASSERT_TRUE(p.e.analysis.present);
      EXPECT_EQ(AnalysisText(p), rows[i].analysis);
      EXPECT_EQ(FormOf(p, p.e.analysis), "x");
    }
    EXPECT_EQ(p.e.acceptance, rows[i].acceptance);
  }
}

TEST(RecordAcceptances, MarkersOfAStateInListOrder) {
  // One state with three marker groups (sorted: unknown, piece, complete).
  Fixture p;
  Prepare(p, {{"a", "descon parcial fi"}, {"b", "fi"}});
  Record(p, "xyz", 0, 0, 0, 1);
  EXPECT_EQ(AnalysisText(p), "aa/b/");
  EXPECT_EQ(p.e.acceptance, 1);
  ASSERT_TRUE(p.e.unknown.present);
  EXPECT_EQ(UnknownText(p), "<d>xyz</d>");
  EXPECT_EQ(FormOf(p, p.e.unknown), "xyz");
}

TEST(RecordAcceptances, CapitalsPerPieceAndPerLiveState) {
  // The one-shot capital is given again to every live state and after
  // every piece.
  Fixture p;
  Prepare(p, {{"a", "parcial parcial"}, {"b", "parcial fi"}});
  Record(p, "Xx", 1, 0);
  EXPECT_EQ(AnalysisText(p), "<amb><e>A</e><e>A</e><e>B</e>B/</amb>");
  EXPECT_EQ(p.e.acceptance, 1);
}

TEST(RecordAcceptances, UnknownWord) {
  Fixture p;
  Prepare(p, {{"-", "descon"}});
  Record(p, "xyz");
  ASSERT_TRUE(p.e.unknown.present);
  EXPECT_EQ(UnknownText(p), "xyz");
  EXPECT_EQ(FormOf(p, p.e.unknown), "xyz");
  Record(p, "xyw", 0, 0, 0, 1);
  EXPECT_EQ(UnknownText(p), "<d>xyw</d>");
  EXPECT_EQ(FormOf(p, p.e.unknown), "xyw");
  EXPECT_EQ(p.e.acceptance, 2);
  EXPECT_FALSE(p.e.analysis.present);
}

TEST(RecordAcceptances, BlankAfterAnApostrophedForm) {
  {
    Fixture p;
    Prepare(p, {{"a", "fi"}});
    Record(p, "l'aigua", 0, 0, 1);
    EXPECT_EQ(AnalysisText(p), "a/ ");
    Record(p, "l'aigua", 0, 0, 0);  // without -a
    EXPECT_EQ(AnalysisText(p), "a/");
    Record(p, "aigua", 0, 0, 1);  // no apostrophe
    EXPECT_EQ(AnalysisText(p), "a/");
  }
  {
    Fixture p;
    Prepare(p, {{"a", "fi"}, {"b", "parcial"}, {"c", "parcial"}});
    Record(p, "d'x", 0, 0, 1);
    EXPECT_EQ(AnalysisText(p), "<amb><e>a/<e>b</e></e><e>c</e></amb> ");
  }
  {
    // Only pieces: no blank.
    Fixture p;
    Prepare(p, {{"b", "parcial"}, {"c", "parcial"}});
    Record(p, "d'x", 0, 0, 1);
    EXPECT_EQ(AnalysisText(p), "<amb><e>b</e><e>c</e></amb>");
    Fixture q;
    Prepare(q, {{"b", "parcial"}});
    Record(q, "d'x", 0, 0, 1);
    EXPECT_EQ(AnalysisText(q), "b");
  }
}

// A second call at the same position, later in the same attempt.
TEST(RecordAcceptances, EarlierRecords) {
  const std::string d = R"(
alfabet wxyz
estat 0
  x a 1
estat 1
  descon
  fi
  w b 4
  y - 2
  z - 3
estat 2
estat 3
  descon
estat 4
  fi
)";
  for (char second : {'y', 'z', 'w'}) {
    SCOPED_TRACE(second);
    Fixture p;
    Walk(p, d);
    Record(p, "x", 0, 0, 0, 1);
    EXPECT_EQ(AnalysisText(p), "a/");
    EXPECT_EQ(UnknownText(p), "<d>x</d>");
    EXPECT_EQ(p.e.acceptance, 1);
    StepLiveStates(p.live_states, second);
    CloseOverEpsilons(p.live_states);
    Record(p, std::string("x") + second, 0, 0, 0, 1);
    if (second == 'y') {
      // No marker: both records stay, the status is 0.
      EXPECT_EQ(AnalysisText(p), "a/");
      EXPECT_EQ(FormOf(p, p.e.analysis), "x");
      EXPECT_EQ(UnknownText(p), "<d>x</d>");
      EXPECT_EQ(p.e.acceptance, 0);
    } else if (second == 'z') {
      // Only the unknown-word marker: old analysis, new unknown word.
      EXPECT_EQ(AnalysisText(p), "a/");
      EXPECT_EQ(FormOf(p, p.e.analysis), "x");
      EXPECT_EQ(UnknownText(p), "<d>xz</d>");
      EXPECT_EQ(FormOf(p, p.e.unknown), "xz");
      EXPECT_EQ(p.e.acceptance, 2);
    } else {
      // A complete analysis replaces the analysis, keeps the unknown word.
      EXPECT_EQ(AnalysisText(p), "ab/");
      EXPECT_EQ(FormOf(p, p.e.analysis), "xw");
      EXPECT_EQ(UnknownText(p), "<d>x</d>");
      EXPECT_EQ(p.e.acceptance, 1);
    }
  }
}

TEST(RecordAcceptances, FormWithAnyBytes) {
  Fixture p;
  Prepare(p, {{"a", "descon fi"}});
  const std::string form("a\0\x01\xff", 4);
  Record(p, form, 0, 0, 0, 1);
  EXPECT_EQ(FormOf(p, p.e.analysis), form);
  EXPECT_EQ(FormOf(p, p.e.unknown), form);
  EXPECT_EQ(UnknownText(p), "<d>" + form + "</d>");
}

}  // namespace
}  // namespace etiquem
