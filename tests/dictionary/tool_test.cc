// The etiquem-dic command line: statuses, one-line messages, and files that
// are either written whole or not at all.

#include <dirent.h>
#include <gtest/gtest.h>

#include "dictionary/lexicon.h"
#include "dictionary_helper.h"
#include "process.h"
#include "version.h"

namespace etiquem::dictionary {
namespace {

using test_support::RunShell;
using test_support::ShellQuote;

const std::string kTool = ETIQUEM_DIC;
const std::string kShared = ETIQUEM_DIC_SHARED;

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Tool, CompileWritesTheFileAndNothingElse) {
  const std::string d = test_support::NewDirectory("compile");
  const std::string lexicon = "casa\tcasa<n><f><sg>\ncasa\tcasar<vblex>\n";
  test_support::WriteFile(d + "/l.dic", lexicon);
  auto r = RunShell(kTool + " compile " + ShellQuote(d + "/l.dic") + " -o " +
                    ShellQuote(d + "/l.bin"));
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.errors, "");
  EXPECT_EQ(FilesIn(d), (std::vector<std::string>{"l.bin", "l.dic"}));
  Transducer a;
  std::string error;
  ASSERT_TRUE(CompileLexicon("l.dic", lexicon, Encoding::kDetect, a, error));
  EXPECT_EQ(test_support::ReadFile(d + "/l.bin"), Serialise(a));
}

TEST(Tool, AFailedCompileLeavesNoFileAndKeepsTheOldOne) {
  const std::string d = test_support::NewDirectory("failed-compile");
  test_support::WriteFile(d + "/l.dic", "casa\tcasa<n>\nbrossa\n");
  auto r = RunShell(kTool + " compile " + ShellQuote(d + "/l.dic") + " -o " +
                    ShellQuote(d + "/l.bin"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errors, "Error: " + d +
                          "/l.dic:2: expected "
                          "'surface<TAB>lexical[<TAB>kind]'\n");
  EXPECT_EQ(FilesIn(d), (std::vector<std::string>{"l.dic"}));
  test_support::WriteFile(d + "/l.bin", "old");
  r = RunShell(kTool + " compile " + ShellQuote(d + "/l.dic") + " -o " +
               ShellQuote(d + "/l.bin"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(test_support::ReadFile(d + "/l.bin"), "old");
  EXPECT_EQ(FilesIn(d), (std::vector<std::string>{"l.bin", "l.dic"}));
}

TEST(Tool, UnreadableSourceAndUnwritableTarget) {
  const std::string d = test_support::NewDirectory("paths");
  auto r = RunShell(kTool + " compile " + ShellQuote(d + "/missing.dic") +
                    " -o " + ShellQuote(d + "/x.bin"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errors, "Error: cannot open " + d +
                          "/missing.dic: No such file or directory\n");
  test_support::WriteFile(d + "/l.dic", "a\ta<n>\n");
  r = RunShell(kTool + " compile " + ShellQuote(d + "/l.dic") + " -o " +
               ShellQuote(d + "/missing/x.bin"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errors.rfind("Error: cannot create a file beside " + d +
                               "/missing/x.bin: ",
                           0),
            0u)
      << r.errors;
}

TEST(Tool, UsageErrorsExitWithStatus2) {
  for (const char* args :
       {"", "compile", "compile a.dic", "frob x", "compile a.dic -o",
        "compile a.dic -o x --bad", "dump"}) {
    auto r = RunShell(kTool + " " + args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_EQ(r.errors.rfind("Error: ", 0), 0u) << args;
    EXPECT_NE(r.errors.find("Usage: etiquem-dic"), std::string::npos);
  }
  EXPECT_EQ(RunShell(kTool + " -h").status, 0);
}

TEST(Tool, VersionIsThePackagesWithStatus0) {
  auto r = RunShell(kTool + " --version");
  EXPECT_EQ(r.output, std::string("etiquem ") + etiquem::kVersion + "\n");
  EXPECT_EQ(r.errors, "");
  EXPECT_EQ(r.status, 0);
  // Only alone: anything after it is a bad command line.
  r = RunShell(kTool + " --version x");
  EXPECT_EQ(r.output, "");
  EXPECT_EQ(r.status, 2);
  r = RunShell("{ " + kTool + " --version > /dev/full; }");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errors, "Error: cannot write the version\n");
}

TEST(Tool, AttSourcesByExtensionOrOption) {
  const std::string d = test_support::NewDirectory("att");
  test_support::WriteFile(d + "/t.att", "0\t1\ta\ta\n1\t2\t@0@\t<n>\n2\n");
  auto r = RunShell(kTool + " compile " + ShellQuote(d + "/t.att") + " -o " +
                    ShellQuote(d + "/t.bin") + " && " + kTool + " dump " +
                    ShellQuote(d + "/t.bin"));
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.output, "0\t1\ta\ta\n1\t2\t@0@\t<n>\n2\n");
  test_support::WriteFile(d + "/t.txt", "0\t1\ta\ta\n1\n");
  r = RunShell(kTool + " compile --att " + ShellQuote(d + "/t.txt") + " -o " +
               ShellQuote(d + "/u.bin") + " && " + kTool + " dump " +
               ShellQuote(d + "/u.bin"));
  EXPECT_EQ(r.output, "0\t1\ta\ta\n1\n");
}

TEST(Tool, DumpAndInfoOfABrokenFile) {
  const std::string d = test_support::NewDirectory("broken");
  test_support::WriteFile(d + "/t.bin", std::string("\x05\0\0\0ab", 6));
  auto r = RunShell(kTool + " dump " + ShellQuote(d + "/t.bin"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errors.rfind("Error", 0), 0u);
  EXPECT_EQ(r.errors.find('\n'), r.errors.size() - 1) << "one line";
  r = RunShell(kTool + " info " + ShellQuote(d + "/absent.bin"));
  EXPECT_EQ(r.status, 1);
}

// Every write is checked: output that cannot be written ends with status 1
// and one line naming what was lost, never a silent success. Standard output
// on /dev/full for each subcommand that writes there (a dump larger than
// the stdio buffer, whose fwrite fails before any flush, and a small one);
// standard error on /dev/full for the counts of -v (compile, hunspell) and
// the warnings, where only the status can tell.
TEST(Tool, EveryWriteIsChecked) {
  const std::string d = test_support::NewDirectory("full");
  // Forms that share little, so that the dump is long.
  std::string lexicon;
  uint32_t x = 12345;
  for (int i = 0; i < 3000; ++i) {
    std::string form;
    for (int k = 0; k < 8; ++k) {
      x = x * 1103515245 + 12345;
      form += char('a' + (x >> 16) % 26);
    }
    lexicon += form + "\t" + form + "<n>\n";
  }
  test_support::WriteFile(d + "/large.dic", lexicon);
  test_support::WriteFile(d + "/small.dic", "a\ta<n>\n");
  test_support::WriteFile(d + "/final.att", "0\n0\t1\ta\ta\n1\n");
  test_support::WriteFile(d + "/w.aff", "");
  test_support::WriteFile(d + "/w.dic", "1\nxyz\n");
  test_support::WriteFile(d + "/w.map", "");
  for (const char* name : {"large", "small"})
    ASSERT_EQ(RunShell(kTool + " compile " + ShellQuote(d + "/" + name + ".dic") +
                       " -o " + ShellQuote(d + "/" + name + ".bin"))
                  .status,
              0);
  ASSERT_GT(
      RunShell(kTool + " dump " + ShellQuote(d + "/large.bin")).output.size(),
      size_t(1) << 16);

  etiquem::test_support::RunOptions full;
  full.output = etiquem::test_support::StandardOutputMode::kFull;
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case to_full_output[] = {
      {{"dump", d + "/large.bin"}, "Error: cannot write the dump\n"},
      {{"dump", d + "/small.bin"}, "Error: cannot write the dump\n"},
      {{"info", d + "/small.bin"}, "Error: cannot write the counts\n"},
      {{"-h"}, "Error: cannot write the usage\n"},
      {{"--help"}, "Error: cannot write the usage\n"},
      {{"--version"}, "Error: cannot write the version\n"},
  };
  for (const Case& c : to_full_output) {
    std::vector<std::string> args{kTool};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto r = etiquem::test_support::RunCommand(args, "", full);
    EXPECT_EQ(r.status, 1) << c.args[0];
    EXPECT_EQ(r.errors, c.message) << c.args[0];
  }

  etiquem::test_support::RunOptions errors_full;
  errors_full.errors_full = true;
  struct Compile {
    std::vector<std::string> args;
    int status;
  };
  const Compile compiles[] = {
      {{d + "/small.dic", "-o", d + "/v.bin", "-v"}, 1},  // the counts
      {{d + "/final.att", "-o", d + "/w.bin"}, 1},        // a warning
      {{d + "/small.dic", "-o", d + "/q.bin"}, 0},        // nothing to say
  };
  for (const Compile& c : compiles) {
    std::vector<std::string> args{kTool, "compile"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto r = etiquem::test_support::RunCommand(args, "", errors_full);
    EXPECT_EQ(r.status, c.status) << c.args[0];
    EXPECT_EQ(r.output, "");
    // The file itself is made whole all the same.
    EXPECT_EQ(RunShell(kTool + " dump " + ShellQuote(c.args[2])).status, 0);
  }
  // The counts of hunspell -v; the lexicon is written all the same.
  for (const bool verbose : {true, false}) {
    std::vector<std::string> args{kTool, "hunspell", d + "/w.aff", d + "/w.dic",
                                  d + "/w.map", "-o", d + "/w.tsv"};
    if (verbose) args.push_back("-v");
    const auto r = etiquem::test_support::RunCommand(args, "", errors_full);
    EXPECT_EQ(r.status, verbose ? 1 : 0);
    EXPECT_EQ(test_support::ReadFile(d + "/w.tsv").rfind("# A full-form lexicon", 0), 0u);
  }
}

TEST(Tool, InfoOfTheSharedCatalanFile) {
  const std::string bin = kShared + "/lexicon/ca.bin";
  if (!test_support::Exists(bin)) GTEST_SKIP() << bin << " is absent";
  auto r = RunShell(kTool + " info " + ShellQuote(bin));
  ASSERT_EQ(r.status, 0) << r.errors;
  for (const char* line :
       {"file bytes: 2722990\n", "states: 54755\n",
        "character groups: 158598\n", "consuming moves: 173885\n",
        "epsilon moves: 12412\n", "states with epsilon moves: 10530\n",
        "complete-analysis markers: 1\n", "defines: 54, codes 258-311\n"})
    EXPECT_NE(r.output.find(line), std::string::npos) << line;
}

}  // namespace
}  // namespace etiquem::dictionary
