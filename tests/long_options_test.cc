// Whole runs of etiquem with its long options: --help in the locale's
// encoding, --version, and long options that do not exist, refused like
// short ones. The short options are options_test.cc's; here, only that
// -h is still the same bytes beside the long options.
//
// Locales are chosen with /usr/bin/env, which runs etiquem with the same
// argv[0], so getopt's complaints name it as they do in options_test.cc.

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "analysis_helper.h"
#include "automaton_builder.h"
#include "process.h"
#include "usage_text.h"
#include "version.h"

namespace etiquem {
namespace {

using test_support::Result;
using test_support::RunCommand;
using test_support::RunOptions;

const std::string kBin = ETIQUEM_BIN;
const std::string kEnv = "/usr/bin/env";

using test_support::kUsageText;

// What --help adds after the usage text.
const char kLongOptionsText[] =
    "  --help: Prints this help, with the long options\n"
    "  --version: Prints the name and version of the program\n"
    "  --utf8: Reads and writes UTF-8 text (the dictionary stays Latin-1)\n"
    "  --json: Writes JSON Lines: each written piece, with its readings\n";

using test_support::kUsageHint;

std::string Complaint(const std::string& problem) {
  return kBin + ": " + problem + "\n";
}

std::string Version() { return std::string("etiquem ") + kVersion + "\n"; }

// "a" reads a&n;.
std::string Dictionary() {
  static const std::string path = test_support::WriteFile(
      test_support::Bytes("alfabet ab\ndefine n 258\nestat 0\n  a a 1\n"
                          "estat 1\n  eps &n 2\nestat 2\n  fi\n"),
      "long-options.bin");
  return path;
}

void ExpectSuccess(const Result& r, const std::string& output,
                   const std::string& what) {
  EXPECT_EQ(r.output, output) << what;
  EXPECT_EQ(r.errors, "") << what;
  EXPECT_EQ(r.status, 0) << what;
}

void ExpectRefused(const Result& r, const std::string& complaint,
                   const std::string& what) {
  EXPECT_EQ(r.output, "") << what;
  EXPECT_EQ(r.errors, Complaint(complaint) + kUsageHint) << what;
  EXPECT_EQ(r.status, 1) << what;
}

TEST(LongHelp, UsageThenLongOptionsInTheLocalesEncoding) {
  const std::string latin1 = std::string(kUsageText) + kLongOptionsText;
  const std::string utf8 = test_support::Utf8Of(kUsageText) + kLongOptionsText;
  // A locale whose character set is UTF-8 gets UTF-8; the C locale, a
  // locale that is not installed, or none, the bytes as they are.
  ExpectSuccess(RunCommand({kEnv, "LC_ALL=C.UTF-8", kBin, "--help"}), utf8,
                "C.UTF-8");
  ExpectSuccess(RunCommand({kEnv, "LC_ALL=", "LC_CTYPE=C.UTF-8", kBin, "--help"}),
                utf8, "LC_CTYPE");
  ExpectSuccess(RunCommand({kEnv, "LC_ALL=C", kBin, "--help"}), latin1, "C");
  ExpectSuccess(
      RunCommand({kEnv, "LC_ALL=xx_NONE.UTF-8", kBin, "--help"}), latin1,
      "a locale that is not installed");
  ExpectSuccess(RunCommand({kEnv, "-u", "LC_ALL", "-u", "LC_CTYPE", "-u",
                            "LANG", kBin, "--help"}),
                latin1, "no locale");
}

TEST(LongHelp, ShortHelpStaysTheSameBytesInAnyLocale) {
  for (const char* locale : {"LC_ALL=C.UTF-8", "LC_ALL=C"})
    ExpectSuccess(RunCommand({kEnv, locale, kBin, "-h"}), kUsageText, locale);
}

TEST(LongHelp, EndsTheRunWhereItStandsLikeShortHelp) {
  const std::string help = std::string(kUsageText) + kLongOptionsText;
  for (const auto& args : std::vector<std::vector<std::string>>{
           {kEnv, "LC_ALL=C", kBin, "-s", "--help", "-x"},
           {kEnv, "LC_ALL=C", kBin, "--help", "--bogus"},
           {kEnv, "LC_ALL=C", kBin, "-f", "/no/such", "--he"},
           {kEnv, "LC_ALL=C", kBin, "word", "--help"}})
    ExpectSuccess(RunCommand(args), help, args[3] + " " + args[4]);
  // The first of -h and --help wins.
  ExpectSuccess(RunCommand({kEnv, "LC_ALL=C", kBin, "-h", "--help"}),
                kUsageText, "-h --help");
  ExpectRefused(RunCommand({kBin, "-q", "--help"}), "invalid option -- 'q'",
                "-q --help");
}

TEST(LongHelp, FailedWriteIsAnError) {
  RunOptions op;
  op.output = test_support::StandardOutputMode::kFull;
  Result r = RunCommand({kBin, "--help"}, "", op);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errors.rfind("Error", 0), 0u) << r.errors;
  r = RunCommand({kBin, "--version"}, "", op);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errors.rfind("Error", 0), 0u) << r.errors;
}

TEST(Version, NameAndVersionWithStatus0) {
  ASSERT_TRUE(std::regex_match(kVersion, std::regex("[0-9]+\\.[0-9]+\\.[0-9]+")))
      << kVersion;
  ExpectSuccess(RunCommand({kBin, "--version"}), Version(), "--version");
  ExpectSuccess(RunCommand({kBin, "--vers"}), Version(), "a unique prefix");
  ExpectSuccess(RunCommand({kBin, "-s", "--version", "-b", "/no/such.bin"}),
                Version(), "after and before other options");
  ExpectSuccess(RunCommand({kBin, "--version", "--help"}), Version(),
                "before --help");
}

TEST(UnknownLongOption, RefusedLikeAnUnknownShortOne) {
  ExpectRefused(RunCommand({kBin, "--bogus"}), "unrecognized option '--bogus'",
                "--bogus");
  ExpectRefused(RunCommand({kBin, "-s", "--Help", "-b", Dictionary()}, "a\n"),
                "unrecognized option '--Help'", "case matters");
  ExpectRefused(RunCommand({kBin, "--help=yes"}),
                "option '--help' doesn't allow an argument", "--help=yes");
  ExpectRefused(RunCommand({kBin, "--version=2"}),
                "option '--version' doesn't allow an argument", "--version=2");
  // A long option met after a word is still parsed first, as a short one is.
  ExpectRefused(RunCommand({kBin, "word", "--bogus"}),
                "unrecognized option '--bogus'", "after a word");
}

TEST(UnknownLongOption, DoubleDashStillEndsTheOptions) {
  Result r = RunCommand({kBin, "-b", Dictionary(), "--", "--help"}, "a\n");
  EXPECT_EQ(r.output, "");
  EXPECT_EQ(r.errors, "Hay opciones no v\xe1lidas en la entrada: --help \n");
  EXPECT_EQ(r.status, 1);
}

// Every long option --help lists is one the program takes: given with an
// automaton and empty input, it ends with status 0 and no complaint.
TEST(LongOptionTable, EveryListedOptionIsAccepted) {
  Result help = RunCommand({kEnv, "LC_ALL=C", kBin, "--help"});
  ASSERT_EQ(help.status, 0);
  const std::string listed = help.output.substr(std::string(kUsageText).size());
  std::regex line("  --([a-z0-9-]+): [^\n]+\n");
  std::vector<std::string> names;
  for (std::sregex_iterator i(listed.begin(), listed.end(), line), end;
       i != end; ++i)
    names.push_back((*i)[1]);
  EXPECT_EQ(std::regex_replace(listed, line, ""), "") << "one line per option";
  EXPECT_GE(names.size(), 2u);
  for (const std::string& name : names) {
    Result r = RunCommand({kBin, "--" + name, "-b", Dictionary()}, "");
    EXPECT_EQ(r.status, 0) << name;
    EXPECT_EQ(r.errors, "") << name;
  }
}

}  // namespace
}  // namespace etiquem
