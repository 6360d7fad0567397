// Tests of longest-match selection and emission on records set by hand:
// which stretch an attempt writes, what a stretch writes, and how the
// waiting superblanks follow it.

#include "engine/emission.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "automaton_builder.h"
#include "engine/acceptance.h"
#include "engine/automaton.h"
#include "engine/live_states.h"
#include "engine/output.h"
#include "engine/reader.h"

namespace etiquem {
namespace {

bool Discard(void*, const Batch&) { return true; }

class Emission : public testing::Test {
 protected:
  void SetUp() override {
    reader_ = std::make_unique<Reader>();
    InitReader(*reader_, nullptr);
    // Nothing is handed over: the tests read what gathered in the buffers.
    output_.threshold = size_t(1) << 30;
    output_.sink = Discard;
    ResetAutomaton(automaton_);
    const std::string bytes = test_support::Bytes("alfabet a\nestat 0\n");
    std::string error;
    ASSERT_TRUE(LoadAutomatonFromBytes(
        automaton_, "test", reinterpret_cast<const uint8_t*>(bytes.data()),
        bytes.size(), error));
    InitLiveStates(live_, &automaton_);
    StartAtInitialState(live_);
    ClearAcceptances(acceptances_);
  }

  // A record of the complete analysis `output` (one symbol per byte) over
  // the first `length` characters of the attempt's surface.
  ReadingRecord Reading(const std::string& output, int length) {
    uint32_t node = 0;
    for (char c : output) {
      Append(live_.nodes,
             OutputNode{node, uint8_t(c), live_.nodes[node].length + 1});
      node = uint32_t(live_.nodes.size() - 1);
    }
    ReadingRecord r;
    r.present = true;
    r.form_length = uint16_t(length);
    r.first_accepted = uint32_t(acceptances_.accepted.size());
    r.accepted_count = 1;
    acceptances_.accepted.push_back(AcceptedOutput{node, kEndOfAnalysis});
    return r;
  }
  ReadingRecord UnknownReading(int length, int mark_unknown) {
    ReadingRecord r;
    r.present = true;
    r.option = uint8_t(mark_unknown);
    r.form_length = uint16_t(length);
    return r;
  }
  // What a stretch ending at `last`, with record `record`, writes.
  std::string Render(const RingEntry& last, const StepRecord& record,
                     bool surface_forms, PieceKind* kind = nullptr) {
    const RecordSources sources{&live_, &acceptances_, surface_.data()};
    std::string text;
    const PieceKind k = RenderStretch(last, record, sources, surface_forms, text);
    if (kind != nullptr) *kind = k;
    return text;
  }
  // Marks the attempt's (j+1)-th character as holding a record.
  void MarkAnalysis(int j) { records_.steps[j].analysis.present = true; }
  void MarkUnknown(int j) { records_.steps[j].unknown.present = true; }

  static RingEntry Character(char c, uint64_t input_number = 0) {
    RingEntry entry;
    entry.kind = kCharacter;
    entry.byte = uint8_t(c);
    entry.input_number = input_number;
    return entry;
  }

  std::unique_ptr<Reader> reader_;
  Output output_;
  Automaton automaton_;
  LiveStates live_;
  Acceptances acceptances_;
  AttemptRecords records_;
  std::string surface_;
};

TEST_F(Emission, TheFirstCharacterIsTheLastResort) {
  EXPECT_EQ(LongestStretch(records_, 5, false), 1);
  MarkAnalysis(0);  // a record of the first character is never searched
  EXPECT_EQ(LongestStretch(records_, 3, false), 1);
  EXPECT_EQ(LongestStretch(records_, 1, false), 1);
}

TEST_F(Emission, UnknownAfterTheFirstBeatsAnalysisAtTheFirst) {
  MarkAnalysis(0);
  MarkUnknown(2);
  EXPECT_EQ(LongestStretch(records_, 4, false), 3);
}

TEST_F(Emission, AnalysisBeforeFartherUnknown) {
  MarkAnalysis(1);
  MarkUnknown(4);
  EXPECT_EQ(LongestStretch(records_, 11, false), 2);
  MarkAnalysis(8);
  EXPECT_EQ(LongestStretch(records_, 11, false), 9);
  MarkUnknown(10);
  MarkAnalysis(10);
  EXPECT_EQ(LongestStretch(records_, 11, false), 11);
}

TEST_F(Emission, OnlySteppedCharactersCount) {
  MarkAnalysis(3);
  MarkUnknown(4);
  EXPECT_EQ(LongestStretch(records_, 3, false), 1);
  MarkUnknown(1);
  EXPECT_EQ(LongestStretch(records_, 3, false), 2);
}

TEST_F(Emission, AttemptOf254Characters) {
  MarkUnknown(253);
  MarkAnalysis(2);
  EXPECT_EQ(LongestStretch(records_, 254, false), 3);
  EXPECT_EQ(LongestStretch(records_, 254, true), 254);
}

TEST_F(Emission, WholeWordsLetUnknownReadingsCompeteOnLength) {
  // "vellet": an analysis of "vell", an unknown-word reading of the whole.
  MarkAnalysis(3);
  for (int j = 0; j < 6; ++j) MarkUnknown(j);
  EXPECT_EQ(LongestStretch(records_, 6, false), 4);
  EXPECT_EQ(LongestStretch(records_, 6, true), 6);
  // At the same character the analysis is written (see RenderStretch).
  MarkAnalysis(5);
  EXPECT_EQ(LongestStretch(records_, 6, true), 6);
  // A longer analysis still wins.
  records_ = AttemptRecords{};
  MarkUnknown(2);
  MarkAnalysis(7);
  EXPECT_EQ(LongestStretch(records_, 9, true), 8);
}

TEST_F(Emission, WhatAStretchWrites) {
  surface_ = "casaxyz";
  StepRecord record;
  record.analysis = Reading("casa&", 4);
  record.unknown = UnknownReading(4, 1);
  PieceKind kind;
  EXPECT_EQ(Render(Character('x'), record, false, &kind), "casa&/");
  EXPECT_EQ(kind, PieceKind::kReading);
  EXPECT_EQ(Render(Character('x'), record, true), "casa/casa&/");

  surface_ = "xyzw";
  record = StepRecord{};
  record.unknown = UnknownReading(3, 1);
  EXPECT_EQ(Render(Character('y'), record, false, &kind), "<d>xyz</d>");
  EXPECT_EQ(kind, PieceKind::kUnknownWord);
  EXPECT_EQ(Render(Character('y'), record, true), "xyz/<d>xyz</d>");
  record.unknown.option = 0;
  EXPECT_EQ(Render(Character('y'), record, true), "xyz/xyz");

  record = StepRecord{};
  for (int c : {int('z'), 0, 1, 255}) {
    EXPECT_EQ(Render(Character(char(c)), record, true, &kind),
              std::string(1, char(c)));
    EXPECT_EQ(kind, PieceKind::kCharacter);
  }
  RingEntry marker;
  marker.kind = kSuperblankMarker;
  EXPECT_EQ(Render(marker, record, true, &kind), "");
  EXPECT_EQ(kind, PieceKind::kSuperblank);
}

TEST_F(Emission, SuperblanksUpToTheStretchInOrder) {
  reader_->pending_superblanks.push_back({"<![CDATA[1]]>", 298, 310});
  reader_->pending_superblanks.push_back({"<![CDATA[2]]>", 299, 312});
  reader_->pending_superblanks.push_back({"<![CDATA[3]]>", 301, 314});
  WriteSuperblanksUpTo(*reader_, output_, 297, true);
  EXPECT_EQ(output_.text, "");
  WriteSuperblanksUpTo(*reader_, output_, 300, true);
  EXPECT_EQ(output_.text, "<![CDATA[1]]><![CDATA[2]]>");
  ASSERT_EQ(reader_->pending_superblanks.size(), 1u);
  EXPECT_EQ(reader_->pending_superblanks.front().text, "<![CDATA[3]]>");
  ASSERT_EQ(output_.events.size(), 2u);
  const Event& second = output_.events[1];
  EXPECT_EQ(second.kind, PieceKind::kSuperblank);
  EXPECT_EQ(second.input_begin, 298u);
  EXPECT_EQ(second.input_end, 312u);
  EXPECT_EQ(output_.text.substr(second.output_begin,
                                second.output_end - second.output_begin),
            "<![CDATA[2]]>");
}

TEST_F(Emission, ALargeSuperblankIsHandedOverWithoutACopy) {
  std::vector<std::string> seen;
  output_.threshold = 16;
  output_.sink = [](void* context, const Batch& batch) {
    static_cast<std::vector<std::string>*>(context)->emplace_back(batch.output);
    return true;
  };
  output_.sink_context = &seen;
  output_.text = "ab";
  reader_->pending_superblanks.push_back(
      {"<![CDATA[" + std::string(40, 'x') + "]]>", 3, 55});
  WriteSuperblanksUpTo(*reader_, output_, 3, false);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], "ab");
  EXPECT_EQ(seen[1].size(), 52u);
  EXPECT_EQ(output_.text_delivered, 54u);
}

}  // namespace
}  // namespace etiquem
