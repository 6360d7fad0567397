// The character ring and reader: indices 0 to 255 (tests name positions
// 1 to 256, entry p - 1), the wrap from 255 to 0, the empty entry after the
// newest character,
// re-reading, the end of input, bytes 0, 1 and 255 as ordinary characters,
// superblank markers and the queue of waiting superblanks.
//
// The reader is driven by a real scanner over a temporary file.

#include "engine/reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/emission.h"
#include "engine/output.h"
#include "engine/scanner.h"

namespace etiquem {
namespace {

// A reader over the bytes of `input`.
struct ReaderRig {
  int fd = -1;
  std::unique_ptr<Scanner> e = std::make_unique<Scanner>();
  std::unique_ptr<Reader> l = std::make_unique<Reader>();

  explicit ReaderRig(const std::string& input) {
    FILE* f = tmpfile();
    fwrite(input.data(), 1, input.size(), f);
    fflush(f);
    fd = dup(fileno(f));
    fclose(f);
    lseek(fd, 0, SEEK_SET);
    Input source;
    source.fd = fd;
    InitScanner(*e, source);
    InitReader(*l, e.get());
  }
  ~ReaderRig() { close(fd); }

  // NextCharacter, checking the index it reports.
  int Next(int expected_index) {
    RingIndex k = 999;
    int c = NextCharacter(*l, k);
    EXPECT_EQ(int(k), expected_index);
    return c;
  }
  const RingEntry& Entry(int position) const { return l->ring[position - 1]; }
  // Points the reader back at `position`, as the analysis loop does.
  void Reread(int position) {
    l->reread_index = RingIndex(position - 1);
    l->read_fresh = false;
  }
};

// Everything handed over by an Output, batch by batch.
struct Captured {
  Output output;
  std::vector<std::string> batches;
  Captured() {
    output.sink = [](void* context, const Batch& batch) {
      static_cast<Captured*>(context)->batches.emplace_back(batch.output);
      return true;
    };
    output.sink_context = this;
  }
  // What was handed over, and what still waits, as one text.
  std::string All() const {
    std::string all;
    for (const std::string& b : batches) all += b;
    return all + output.text;
  }
};

std::string Letters(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += char('a' + i % 26);
  return s;
}

void ExpectEmpty(const RingEntry& p) {
  EXPECT_EQ(p.kind, kEmpty);
  EXPECT_EQ(p.byte, 0);
}

TEST(Ring, FreshReadStoresAndEmptiesTheNextPosition) {
  ReaderRig b("xy");
  b.l->ring[1].kind = kCharacter;
  b.l->ring[1].byte = 'q';

  EXPECT_EQ(b.Next(0), 'x');
  EXPECT_EQ(b.Entry(1).kind, kCharacter);
  EXPECT_EQ(b.Entry(1).byte, 'x');
  ExpectEmpty(b.Entry(2));
  EXPECT_EQ(b.l->write_index, 1u);
  EXPECT_EQ(b.l->read_fresh, true);
}

TEST(Ring, WrapFrom256To1) {
  ReaderRig b(Letters(300));
  for (int i = 0; i < 255; ++i) ASSERT_EQ(b.Next(i), Letters(300)[size_t(i)]);
  EXPECT_EQ(b.l->write_index, 255u);
  EXPECT_EQ(b.Next(255), Letters(256)[255]);  // position 256, index 255
  EXPECT_EQ(b.l->write_index, 0u);
  ExpectEmpty(b.Entry(1));  // the oldest character is gone
  EXPECT_EQ(b.Next(0), Letters(257)[256]);  // position 1, index 0
  EXPECT_EQ(b.l->write_index, 1u);
  ExpectEmpty(b.Entry(2));
  EXPECT_EQ(b.Entry(256).byte, Letters(256)[255]);
}

TEST(Ring, RereadAfterTheWrap) {
  const std::string text = Letters(300);
  ReaderRig b(text);
  for (int i = 0; i < 260; ++i) b.Next(i % 256);
  // Characters 251 to 260 sit at positions 251..256, then 1..4.
  b.Reread(251);
  for (int i = 250; i < 260; ++i) EXPECT_EQ(b.Next(i % 256), text[size_t(i)]);
  EXPECT_EQ(b.l->reread_index, 4u);
  EXPECT_EQ(b.l->read_fresh, false);
  // Position 5 is the empty one after the newest: back to the scanner, which
  // stores the next character there.
  EXPECT_EQ(b.Next(4), text[260]);
  EXPECT_EQ(b.l->read_fresh, true);
  EXPECT_EQ(b.l->write_index, 5u);
  EXPECT_EQ(b.l->reread_index, 4u);
  EXPECT_EQ(b.Next(5), text[261]);
}

TEST(Ring, RereadFromPosition256) {
  ReaderRig b(Letters(258));
  for (int i = 0; i < 257; ++i) b.Next(i % 256);
  b.Reread(256);
  EXPECT_EQ(b.Next(255), Letters(256)[255]);
  EXPECT_EQ(b.l->reread_index, 0u);
  EXPECT_EQ(b.Next(0), Letters(257)[256]);
  EXPECT_EQ(b.Next(1), Letters(258)[257]);  // fresh, at position 2
}

TEST(Ring, Fits255CharactersInARow) {
  const std::string text = Letters(255) + "!";
  ReaderRig b(text);
  for (int i = 0; i < 255; ++i) b.Next(i);
  b.Reread(1);
  for (int i = 0; i < 255; ++i) ASSERT_EQ(b.Next(i), text[size_t(i)]);
  EXPECT_EQ(b.Next(255), '!');
  EXPECT_EQ(b.l->read_fresh, true);
}

TEST(Ring, RereadingDoesNotChangeTheRing) {
  ReaderRig b("abc");
  for (int i = 0; i < 3; ++i) b.Next(i);
  b.Reread(1);
  b.Next(0);
  b.Next(1);
  EXPECT_EQ(b.Entry(2).byte, 'b');
  EXPECT_EQ(b.l->write_index, 3u);
}

TEST(EndOfInput, StoredAndRereadAsMinusOne) {
  ReaderRig b("ab");
  EXPECT_EQ(b.Next(0), 'a');
  EXPECT_EQ(b.Next(1), 'b');
  EXPECT_EQ(b.Next(2), kEndOfInput);
  EXPECT_EQ(b.Entry(3).kind, kEndOfInputMark);
  b.Reread(2);
  EXPECT_EQ(b.Next(1), 'b');
  EXPECT_EQ(b.Next(2), kEndOfInput);  // never 255
  RingIndex k;
  b.Reread(3);
  EXPECT_EQ(NextCharacterAsBlank(*b.l, k), kEndOfInput);
  EXPECT_EQ(k, 2);
  // The empty position after it: the scanner again, which again reports the
  // end.
  EXPECT_EQ(b.Next(3), kEndOfInput);
  EXPECT_EQ(b.Entry(4).kind, kEndOfInputMark);
  EXPECT_EQ(b.Next(4), kEndOfInput);
}

TEST(EndOfInput, AByte255IsACharacter) {
  ReaderRig b("\xff");
  EXPECT_EQ(b.Next(0), 255);
  EXPECT_EQ(b.Next(1), kEndOfInput);
  b.Reread(1);
  EXPECT_EQ(b.Next(0), 255);
  EXPECT_EQ(b.Next(1), kEndOfInput);
}

TEST(SpecialBytes, ZeroOneAnd255AreRereadAsThemselves) {
  const std::string text("\x00\x01\xff\x00z", 5);
  ReaderRig b(text);
  RingIndex k;
  EXPECT_EQ(NextCharacterAsBlank(*b.l, k), 0);
  EXPECT_EQ(NextCharacterAsBlank(*b.l, k), 1);  // not a blank
  EXPECT_EQ(NextCharacterAsBlank(*b.l, k), 255);
  EXPECT_EQ(NextCharacterAsBlank(*b.l, k), 0);
  EXPECT_EQ(NextCharacterAsBlank(*b.l, k), 'z');
  EXPECT_TRUE(b.l->pending_superblanks.empty());
  for (int p = 1; p <= 5; ++p) EXPECT_EQ(b.Entry(p).kind, kCharacter) << p;
  // A stored 0 does not stop the re-read: everything after it comes back.
  b.Reread(1);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(NextCharacterAsBlank(*b.l, k), uint8_t(text[size_t(i)])) << i;
    EXPECT_EQ(k, i);
  }
  EXPECT_EQ(b.l->read_fresh, false);
  EXPECT_EQ(NextCharacterAsBlank(*b.l, k), kEndOfInput);
  EXPECT_EQ(b.l->read_fresh, true);
  EXPECT_TRUE(b.l->pending_superblanks.empty());
}

TEST(Superblanks, TakesOnePositionAndReadsAsABlank) {
  ReaderRig b("a<![CDATA[x\ny]]>b");
  RingIndex k;
  EXPECT_EQ(NextCharacterAsBlank(*b.l, k), 'a');
  EXPECT_EQ(NextCharacterAsBlank(*b.l, k), ' ');
  EXPECT_EQ(k, 1);
  EXPECT_EQ(NextCharacterAsBlank(*b.l, k), 'b');
  EXPECT_EQ(k, 2);
  EXPECT_EQ(b.Entry(2).kind, kSuperblankMarker);
  ASSERT_EQ(b.l->pending_superblanks.size(), 1u);
  EXPECT_EQ(b.l->pending_superblanks[0].text, "<![CDATA[x\ny]]>");
  EXPECT_EQ(b.l->pending_superblanks[0].input_number, 2u);

  b.Reread(2);
  EXPECT_EQ(NextCharacterAsBlank(*b.l, k), ' ');
  EXPECT_EQ(k, 1);
  b.Reread(2);
  EXPECT_EQ(NextCharacter(*b.l, k), kSuperblankCode);
  EXPECT_EQ(b.l->pending_superblanks.size(), 1u) << "re-reading queues nothing";
}

TEST(Superblanks, TwoPendingInOrder) {
  ReaderRig b("<![CDATA[1]]>x<![CDATA[2]]>");
  EXPECT_EQ(b.Next(0), kSuperblankCode);
  EXPECT_EQ(b.Next(1), 'x');
  EXPECT_EQ(b.Next(2), kSuperblankCode);
  EXPECT_EQ(b.Next(3), kEndOfInput);
  ASSERT_EQ(b.l->pending_superblanks.size(), 2u);
  EXPECT_EQ(b.l->pending_superblanks[0].text, "<![CDATA[1]]>");
  EXPECT_EQ(b.l->pending_superblanks[0].input_number, 1u);
  EXPECT_EQ(b.l->pending_superblanks[1].text, "<![CDATA[2]]>");
  EXPECT_EQ(b.l->pending_superblanks[1].input_number, 15u)
      << "numbered by input byte";

  Captured s;
  WriteSuperblanksUpTo(*b.l, s.output, 1, false);
  EXPECT_EQ(s.All(), "<![CDATA[1]]>");
  WriteSuperblanksUpTo(*b.l, s.output, 15, false);
  EXPECT_EQ(s.All(), "<![CDATA[1]]><![CDATA[2]]>");
  EXPECT_TRUE(b.l->pending_superblanks.empty());
  WriteSuperblanksUpTo(*b.l, s.output, 99, false);  // nothing waiting
  EXPECT_EQ(s.All(), "<![CDATA[1]]><![CDATA[2]]>");
}

TEST(Superblanks, TextWithNulBytesWhole) {
  const std::string text("<![CDATA[\0a\0]]>", 15);
  ReaderRig b(text);
  EXPECT_EQ(b.Next(0), kSuperblankCode);
  ASSERT_EQ(b.l->pending_superblanks.size(), 1u);
  EXPECT_EQ(b.l->pending_superblanks[0].text, text);
  Captured s;
  WriteSuperblanksUpTo(*b.l, s.output, 1, false);
  EXPECT_EQ(s.All(), text);
}

TEST(Superblanks, TheDotBlockHandsEverythingOverAtOnce) {
  ReaderRig b("<![CDATA[a]]><![CDATA[.]]><![CDATA[b]]><![CDATA[x<![CDATA[.]]>");
  for (int i = 0; i < 4; ++i) b.Next(i);
  Captured s;
  s.output.text = "abans ";
  WriteSuperblanksUpTo(*b.l, s.output, 1, false);
  EXPECT_TRUE(s.batches.empty()) << "an ordinary superblank waits";
  WriteSuperblanksUpTo(*b.l, s.output, 14, false);
  ASSERT_EQ(s.batches.size(), 1u);
  EXPECT_EQ(s.batches[0], "abans <![CDATA[a]]><![CDATA[.]]>");
  EXPECT_EQ(s.output.text, "");
  WriteSuperblanksUpTo(*b.l, s.output, 27, false);
  EXPECT_EQ(s.batches.size(), 1u);
  // Anywhere in the text counts.
  WriteSuperblanksUpTo(*b.l, s.output, 40, false);
  ASSERT_EQ(s.batches.size(), 2u);
  EXPECT_EQ(s.batches[1], "<![CDATA[b]]><![CDATA[x<![CDATA[.]]>");
}

TEST(Ring, InitReaderEmptiesEverything) {
  ReaderRig b("<![CDATA[s]]>abc");
  for (int i = 0; i < 4; ++i) b.Next(i);
  InitReader(*b.l, b.e.get());
  for (int p = 1; p <= 256; ++p) ExpectEmpty(b.Entry(p));
  EXPECT_EQ(b.l->write_index, 0u);
  EXPECT_EQ(b.l->read_fresh, true);
  EXPECT_TRUE(b.l->pending_superblanks.empty());
}

}  // namespace
}  // namespace etiquem
