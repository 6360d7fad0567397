// JSON strings of --json: Latin-1 transcoded, UTF-8 checked (a byte outside
// a valid sequence becomes U+FFFD), control characters, quotes and
// backslashes escaped; and the cache of reading fragments, which must give
// back exactly what was kept under its key.

#include "cli/json_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "cli/json_pipeline.h"
#include "process.h"
#include "scratch_directory.h"

namespace etiquem {
namespace {

std::string Json(std::string_view bytes, bool utf8) {
  std::string out;
  AppendJsonString(bytes, utf8, out);
  return out;
}

// `inner` between quotes.
std::string Quoted(std::string_view inner) {
  std::string s = "\"";
  s.append(inner);
  s.push_back('"');
  return s;
}

std::string Repeated(std::string_view s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out.append(s);
  return out;
}

size_t Replacements(std::string_view s) {
  size_t n = 0;
  for (size_t at = s.find("\xef\xbf\xbd"); at != std::string_view::npos;
       at = s.find("\xef\xbf\xbd", at + 1))
    ++n;
  return n;
}

TEST(JsonWriter, Strings) {
  EXPECT_EQ(Json("casa", false), "\"casa\"");
  EXPECT_EQ(Json(std::string("a\"b\\c\n\t\r\x01\0", 10), false),
            "\"a\\\"b\\\\c\\n\\t\\r\\u0001\\u0000\"");
  // Latin-1 to UTF-8.
  EXPECT_EQ(Json("qu\xe8 \xb7\xff", false), "\"qu\xc3\xa8 \xc2\xb7\xc3\xbf\"");
  // UTF-8 kept when valid; each stray byte becomes U+FFFD.
  EXPECT_EQ(Json("qu\xc3\xa8 \xe2\x82\xac \xf0\x9f\x98\x80", true),
            "\"qu\xc3\xa8 \xe2\x82\xac \xf0\x9f\x98\x80\"");
  const std::string_view r = "\xef\xbf\xbd";
  std::string stray = "a";
  stray.append(r);
  stray.push_back('z');
  EXPECT_EQ(Json("a\xe8z", true), Quoted(stray));
  EXPECT_EQ(Json("\xc0\xaf", true), Quoted(Repeated(r, 2)));      // overlong
  EXPECT_EQ(Json("\xed\xa0\x80", true), Quoted(Repeated(r, 3)));  // surrogate
  EXPECT_EQ(Json("\xf4\x90\x80\x80", true), Quoted(Repeated(r, 4)));
  EXPECT_EQ(Json("\xe2\x82", true), Quoted(Repeated(r, 2)));  // cut short
}

TEST(JsonWriter, OutputIsValidUtf8WhateverTheBytes) {
  std::mt19937 g(19);
  for (int i = 0; i < 2000; ++i) {
    std::string bytes(g() % 40, '\0');
    for (char& c : bytes) c = char(g());
    for (bool utf8 : {false, true}) {
      const std::string out = Json(bytes, utf8);
      // Read again as UTF-8, nothing in it is out of a valid sequence.
      EXPECT_EQ(Replacements(Json(out, true)), Replacements(out));
      if (!utf8) {
        EXPECT_EQ(Replacements(out), 0u);
      }
    }
  }
}

TEST(JsonWriter, FragmentCache) {
  FragmentCache cache;
  cache.max_bytes = 4096;
  std::string_view value;
  EXPECT_EQ(FindFragment(cache, "casa", &value), nullptr);
  for (int i = 0; i < 500; ++i) {
    const std::string key = std::to_string(i);
    const std::string kept = std::to_string(i * 7);
    KeepFragment(cache, key, kept);
    ASSERT_NE(FindFragment(cache, key, &value), nullptr);
    EXPECT_EQ(value, kept);
  }
  EXPECT_LE(cache.arena.size(), cache.max_bytes);
  FragmentCache none;
  none.max_bytes = 0;
  KeepFragment(none, "casa", "x");
  EXPECT_EQ(FindFragment(none, "casa", &value), nullptr);
}

// The "start" and "end" of each line are the pieces' offsets, whatever
// their digits: ends one past 9, 99, 999... (the kept digits carry into a
// new one), long pieces, and starts that do not follow the end before
// (a batch of a run that began elsewhere), up to 2^64 - 1.
TEST(JsonWriter, OffsetsWhateverTheirDigits) {
  std::mt19937_64 g(7122026);
  std::vector<uint64_t> bounds;
  for (uint64_t at = 0; at < 200000;) {
    bounds.push_back(at);
    at += g() % 4 == 0 ? 1 + g() % 1500 : 1 + g() % 9;
  }
  for (uint64_t p = 10; p != 0 && p < UINT64_MAX / 10; p *= 10) {
    bounds.push_back(p - 3);
    bounds.push_back(p - 1);
    bounds.push_back(p);
  }
  bounds.push_back(UINT64_MAX - 20);
  bounds.push_back(UINT64_MAX - 11);
  bounds.push_back(UINT64_MAX - 1);
  bounds.push_back(UINT64_MAX);
  std::sort(bounds.begin(), bounds.end());
  bounds.erase(std::unique(bounds.begin(), bounds.end()), bounds.end());
  // Pieces [bounds[i], bounds[i+1]), a gap after every seventh; one byte of
  // output each.
  std::vector<Event> events;
  std::string output;
  for (size_t i = 0; i + 1 < bounds.size(); ++i) {
    if (i % 7 == 6) continue;
    Event e;
    e.kind = i % 2 == 0 ? PieceKind::kCharacter : PieceKind::kUnknownWord;
    e.input_begin = bounds[i];
    e.input_end = bounds[i + 1];
    e.output_begin = uint32_t(output.size());
    output.push_back(i % 2 == 0 ? ' ' : 'x');
    e.output_end = uint32_t(output.size());
    e.surface_end = e.kind == PieceKind::kUnknownWord ? 1 : 0;
    events.push_back(e);
  }
  Batch batch;
  batch.output = output;
  batch.events = events;
  batch.surfaces = "x";  // every unknown word's surface
  JsonWriter writer;
  JsonText lines;
  ASSERT_EQ(AppendJsonLines(writer, batch, 0, SIZE_MAX, lines), events.size());
  std::string expected;
  for (const Event& e : events) {
    expected += e.kind == PieceKind::kCharacter
                    ? "{\"kind\":\"plain\",\"start\":"
                    : "{\"kind\":\"unknown\",\"start\":";
    expected += std::to_string(e.input_begin) + ",\"end\":" +
                std::to_string(e.input_end);
    expected += e.kind == PieceKind::kCharacter
                    ? ",\"surface\":\" \",\"text\":\" \"}\n"
                    : ",\"surface\":\"x\",\"text\":\"x\"}\n";
  }
  EXPECT_EQ(lines.View(), expected);
}

// How JsonOf makes its lines.
enum class LineMaker {
  kSinkInTurn,       // the engine's sink writes them
  kPipeline,         // the writer thread, from batches on any threads
  kPipelineLasting,  // the writer thread, from one thread's lasting batches,
                     // as the program does on two processors
};

// The JSON lines of `corpus_path` with dictionary `d`, made as `maker`
// says, written to `output_path`; returns how the analysis ended.
Step JsonOf(const Dictionary& d, const std::string& corpus_path,
            const char* output_path, LineMaker maker, OutputFiles* files) {
  const int in = open(corpus_path.c_str(), O_RDONLY);
  EXPECT_GE(in, 0);
  files->standard_output.fd = open(output_path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
  EXPECT_GE(files->standard_output.fd, 0);
  Options options;
  options.events = true;
  JsonWriter json;
  json.dictionary = &d;
  json.files = files;
  Error error;
  Step step;
  if (maker == LineMaker::kSinkInTurn) {
    step = AnalyseDescriptor(d, options, in, WriteJsonBatch, &json, &error);
  } else {
    const bool lasting = maker == LineMaker::kPipelineLasting;
    options.keep_previous_batch = lasting;
    JsonPipeline p(&json);
    step = AnalyseDescriptor(d, options, in, JsonPipeline::Sink, &p, &error,
                             lasting ? 1 : 0);
    p.Finish();
  }
  close(in);
  close(files->standard_output.fd);
  return step;
}

// The writer thread writes the same lines as the sink called in turn, over
// many batches of a real corpus, whether it takes lasting batches of one
// thread or batches of a file analysed in pieces; and a failed write stops
// the analysis rather than leaving it waiting on a writer that has gone.
TEST(JsonPipeline, WritesWhatTheSinkWritesAndStopsOnAFailedWrite) {
  const std::string shared = ETIQUEM_SHARED;
  const std::string corpus = shared + "/corpus/ca-sb.txt";
  if (access(corpus.c_str(), R_OK) != 0) GTEST_SKIP() << corpus << " is absent";
  Error error;
  const auto d = Dictionary::Load(shared + "/lexicon/ca.bin", &error);
  ASSERT_NE(d, nullptr) << error.message;
  const std::string one = test_support::ScratchPath("json_in_turn");
  OutputFiles files_one;
  EXPECT_EQ(JsonOf(*d, corpus, one.c_str(), LineMaker::kSinkInTurn,
                   &files_one).reached,
            Reached::kEnd);
  const std::string lines = test_support::ReadFile(one);
  std::remove(one.c_str());
  EXPECT_GT(lines.size(), size_t(8) << 20);  // many batches
  for (LineMaker maker : {LineMaker::kPipeline, LineMaker::kPipelineLasting}) {
    const std::string two = test_support::ScratchPath("json_two_threads");
    OutputFiles files_two;
    EXPECT_EQ(JsonOf(*d, corpus, two.c_str(), maker, &files_two).reached,
              Reached::kEnd);
    EXPECT_TRUE(lines == test_support::ReadFile(two)) << int(maker);
    std::remove(two.c_str());

    OutputFiles full;
    EXPECT_EQ(JsonOf(*d, corpus, "/dev/full", maker, &full).reached,
              Reached::kStopped);
    EXPECT_TRUE(full.standard_output.failed);
    EXPECT_FALSE(full.first_failure.empty());
  }
}

}  // namespace
}  // namespace etiquem
