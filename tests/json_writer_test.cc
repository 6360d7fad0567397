// JSON strings of --json: Latin-1 transcoded, UTF-8 checked (a byte outside
// a valid sequence becomes U+FFFD), control characters, quotes and
// backslashes escaped; and the cache of reading fragments, which must give
// back exactly what was kept under its key.

#include "cli/json_writer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

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

}  // namespace
}  // namespace etiquem
