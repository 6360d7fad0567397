// Tests of longest-match selection and emission on a ring filled by hand:
// which position an attempt writes, wherever it lies in the ring, and what
// writing a position puts on the output, the unknown-words file and the
// waiting superblanks.

#include "engine/emission.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "automaton_builder.h"
#include "engine/acceptance.h"
#include "engine/automaton.h"
#include "engine/live_states.h"
#include "engine/output_buffer.h"
#include "engine/reader.h"

namespace etiquem {
namespace {

class Emission : public testing::Test {
 protected:
  void SetUp() override {
    reader_ = std::make_unique<Reader>();
    InitReader(*reader_, nullptr);
    // Nothing is written out: the tests read what gathered in the buffers.
    output_.fd = -1;
    output_.flush_threshold = size_t(1) << 30;
    unknown_.fd = -1;
    unknown_.flush_threshold = size_t(1) << 30;
    ResetAutomaton(automaton_);
    const std::string bytes = test_support::Bytes("alfabet a\nestat 0\n");
    std::string error;
    ASSERT_TRUE(LoadAutomatonFromBytes(
        automaton_, "prova", reinterpret_cast<const uint8_t*>(bytes.data()),
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
      live_.nodes.push_back(
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
  void EmitPosition(int surface, int p, int write_unknown,
                    bool with_file = true) {
    const RecordSources sources{&live_, &acceptances_, surface_.data()};
    Emit(*reader_, sources, output_, with_file ? &unknown_ : nullptr, surface,
         p, write_unknown);
  }

  RingEntry& Entry(int p) { return reader_->ring[p - 1]; }

  void PutCharacter(int p, char c, uint64_t input_number = 0) {
    Entry(p).kind = kCharacter;
    Entry(p).byte = uint8_t(c);
    Entry(p).input_number = input_number;
  }
  // Marks a position as holding a record, for the choice of the stretch.
  void MarkAnalysis(int p, const char* = "") {
    Entry(p).analysis.present = true;
  }
  void MarkUnknown(int p, const char* = "") { Entry(p).unknown.present = true; }

  std::unique_ptr<Reader> reader_;
  OutputBuffer output_;
  OutputBuffer unknown_;
  Automaton automaton_;
  LiveStates live_;
  Acceptances acceptances_;
  std::string surface_;
};

TEST_F(Emission, AnalysisOnlyAtTheFirstPosition) {
  MarkAnalysis(1, "A");
  EXPECT_EQ(LongestStretchEnd(*reader_, 0, 3), 1);
}

TEST_F(Emission, WithoutRecordsTheFirstPosition) {
  EXPECT_EQ(LongestStretchEnd(*reader_, 0, 5), 1);
  EXPECT_EQ(LongestStretchEnd(*reader_, 99, 1), 100);
}

TEST_F(Emission, UnknownAfterTheFirstBeatsAnalysisAtTheFirst) {
  MarkAnalysis(1, "A");
  MarkUnknown(3, "D");
  EXPECT_EQ(LongestStretchEnd(*reader_, 0, 4), 3);
}

TEST_F(Emission, AnalysisBeforeFartherUnknown) {
  // Attempt at positions 10 to 20.
  MarkAnalysis(11, "A");
  MarkUnknown(14, "D");
  EXPECT_EQ(LongestStretchEnd(*reader_, 9, 11), 11);
  MarkAnalysis(18, "B");
  EXPECT_EQ(LongestStretchEnd(*reader_, 9, 11), 18);
  MarkUnknown(20, "E");
  MarkAnalysis(20, "C");
  EXPECT_EQ(LongestStretchEnd(*reader_, 9, 11), 20);
}

TEST_F(Emission, AttemptThatWrapsAroundTheRing) {
  // Positions 254, 255, 256, 1, 2: judged like any other attempt.
  MarkAnalysis(255, "A");
  MarkUnknown(2, "D");
  EXPECT_EQ(LongestStretchEnd(*reader_, 253, 5), 255);
  MarkAnalysis(1, "B");
  EXPECT_EQ(LongestStretchEnd(*reader_, 253, 5), 1);
  Entry(255).analysis.present = false;
  Entry(1).analysis.present = false;
  EXPECT_EQ(LongestStretchEnd(*reader_, 253, 5), 2);
  MarkUnknown(256, "E");
  EXPECT_EQ(LongestStretchEnd(*reader_, 253, 4), 256);
  EXPECT_EQ(LongestStretchEnd(*reader_, 253, 3), 256);
  EXPECT_EQ(LongestStretchEnd(*reader_, 253, 2), 254);
}

TEST_F(Emission, AttemptOf254Characters) {
  // From 200 round to 197; the position before the first is not looked at.
  MarkAnalysis(199, "antic");
  MarkUnknown(197, "D");
  EXPECT_EQ(LongestStretchEnd(*reader_, 199, 254), 197);
  MarkAnalysis(100, "A");
  EXPECT_EQ(LongestStretchEnd(*reader_, 199, 254), 100);
}

TEST_F(Emission, OnlySteppedPositionsCount) {
  // Records after the last stepped position or before the first belong to
  // no part of this attempt.
  MarkAnalysis(4, "A");
  MarkUnknown(5, "D");
  MarkAnalysis(256, "B");
  EXPECT_EQ(LongestStretchEnd(*reader_, 0, 3), 1);
  MarkUnknown(2, "E");
  EXPECT_EQ(LongestStretchEnd(*reader_, 0, 3), 2);
}

TEST_F(Emission, WhatAPositionWrites) {
  surface_ = "casaxyz";
  PutCharacter(1, 'x');
  Entry(1).analysis = Reading("casa&", 4);
  Entry(1).unknown = UnknownReading(4, 1);
  EmitPosition(0, 1, 1);
  EXPECT_EQ(output_.pending, "casa&/");
  EXPECT_EQ(unknown_.pending, "");  // an analysis is no unknown word
  EmitPosition(1, 1, 1);
  EXPECT_EQ(output_.pending, "casa&/casa/casa&/");

  output_.pending.clear();
  surface_ = "xyzw";
  PutCharacter(2, 'y');
  Entry(2).unknown = UnknownReading(3, 1);
  EmitPosition(0, 2, 1);
  EmitPosition(1, 2, 1);
  EmitPosition(1, 2, 0);
  Entry(2).unknown.option = 0;
  EmitPosition(1, 2, 1);
  EXPECT_EQ(output_.pending, "<d>xyz</d>xyz/<d>xyz</d>xyz/<d>xyz</d>xyz/xyz");
  EXPECT_EQ(unknown_.pending, "xyz\nxyz\nxyz\n");
  EmitPosition(0, 2, 1, false);  // no file open: nothing more

  output_.pending.clear();
  for (int c : {int('z'), 0, 1, 255}) {
    PutCharacter(3, char(c));
    EmitPosition(1, 3, 1);
  }
  EXPECT_EQ(output_.pending, std::string("z\0\x01\xff", 4));
  EXPECT_EQ(unknown_.pending, "xyz\nxyz\nxyz\n");
}

TEST_F(Emission, EmptyAndEndPositionsWriteNothing) {
  Entry(5).kind = kEndOfInputMark;
  Entry(5).byte = 255;
  EmitPosition(1, 5, 1);
  EmitPosition(1, 6, 1);
  EXPECT_EQ(output_.pending, "");
}

TEST_F(Emission, SuperblanksAfterTheStretchCoveringTheMarker) {
  PutCharacter(1, 'a', 1);
  Entry(2).kind = kSuperblankMarker;
  Entry(2).byte = 1;
  Entry(2).input_number = 2;
  PutCharacter(3, 'b', 3);
  Entry(4).kind = kSuperblankMarker;
  Entry(4).byte = 1;
  Entry(4).input_number = 4;
  PutCharacter(5, 'c', 5);
  reader_->pending_superblanks.push_back({"<![CDATA[1]]>", 2});
  reader_->pending_superblanks.push_back({"<![CDATA[2]]>", 4});
  // A stretch before both markers writes none.
  EmitPosition(0, 1, 0);
  EXPECT_EQ(output_.pending, "a");
  // A marker written alone writes its superblank.
  EmitPosition(0, 2, 0);
  EXPECT_EQ(output_.pending, "a<![CDATA[1]]>");
  ASSERT_EQ(reader_->pending_superblanks.size(), 1u);
  // A stretch reaching past the second marker writes it after the stretch.
  surface_ = "b c";
  Entry(5).analysis = Reading("BC", 3);
  EmitPosition(0, 5, 0);
  EXPECT_EQ(output_.pending, "a<![CDATA[1]]>BC/<![CDATA[2]]>");
  EXPECT_TRUE(reader_->pending_superblanks.empty());
}

TEST_F(Emission, TwoSuperblanksOfAStretchInOrder) {
  surface_ = "x";
  Entry(7).analysis = Reading("X", 1);
  Entry(7).input_number = 300;
  reader_->pending_superblanks.push_back({"<![CDATA[1]]>", 298});
  reader_->pending_superblanks.push_back({"<![CDATA[2]]>", 299});
  reader_->pending_superblanks.push_back({"<![CDATA[3]]>", 301});
  EmitPosition(0, 7, 0);
  EXPECT_EQ(output_.pending, "X/<![CDATA[1]]><![CDATA[2]]>");
  ASSERT_EQ(reader_->pending_superblanks.size(), 1u);
  EXPECT_EQ(reader_->pending_superblanks.front().text, "<![CDATA[3]]>");
}

}  // namespace
}  // namespace etiquem
