// Whole runs of etiquem with no -b: which automaton it reads.
//
// binari/automorf.bin in the working directory comes first; then the
// dictionary that belongs to the executable, share/etiquem/default.bin
// beside it (a build tree) or one level up (an installation), found from
// the executable's own location whatever the working directory; with none
// of them, the historical message naming binari/automorf.bin, status 255.
//
// Each case runs a copy of the built etiquem placed in a tree of its own
// (TREE/bin/etiquem), so that what lies around it is only what the case
// puts there.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "automaton_builder.h"
#include "process.h"
#include "scratch_directory.h"

namespace etiquem {
namespace {

using test_support::Result;
using test_support::RunCommand;
using test_support::RunOptions;

const std::string kBin = ETIQUEM_BIN;

const char kNoAutomaton[] =
    "Error: El fichero binario binari/automorf.bin no existe o no se puedo "
    "abrir\n";

// Three dictionaries that tell themselves apart: "a" reads a&one;, a&two;
// or a&three;.
std::string DictionaryBytes(const std::string& tag) {
  return test_support::Bytes("alfabet ab\ndefine " + tag +
                             " 258\nestat 0\n  a a 1\nestat 1\n  eps &" +
                             tag + " 2\nestat 2\n  fi\n");
}

// A fresh empty directory, removed with the others when the tests end.
std::string NewDirectory() {
  return test_support::NewScratchSubdirectory("default");
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary);
  f << bytes;
  ASSERT_TRUE(f.good()) << path;
}

void MakeDirectories(const std::string& path) {
  for (size_t slash = 1; slash != std::string::npos;) {
    slash = path.find('/', slash + 1);
    mkdir(path.substr(0, slash).c_str(), 0700);
  }
}

// A tree TREE/bin/etiquem holding a copy of the built program.
std::string TreeWithProgram() {
  const std::string tree = NewDirectory();
  MakeDirectories(tree + "/bin");
  std::ifstream in(kBin, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  WriteFile(tree + "/bin/etiquem", bytes.str());
  chmod((tree + "/bin/etiquem").c_str(), 0755);
  return tree;
}

// Runs `program` with no -b on "a b\n" from a fresh empty directory, or
// from `directory` when given.
Result RunWithoutB(const std::string& program,
                   const std::string& directory = "") {
  RunOptions op;
  op.directory = directory.empty() ? NewDirectory() : directory;
  return RunCommand({program}, "a b\n", op);
}

void ExpectReading(const Result& r, const std::string& tag,
                   const std::string& what) {
  EXPECT_EQ(r.output, "a&" + tag + ";/ b\n") << what;
  EXPECT_EQ(r.errors, "") << what;
  EXPECT_EQ(r.status, 0) << what;
}

TEST(DefaultAutomaton, NoneFoundKeepsTheHistoricalMessage) {
  const std::string tree = TreeWithProgram();
  Result r = RunWithoutB(tree + "/bin/etiquem");
  EXPECT_EQ(r.output, "");
  EXPECT_EQ(r.errors, kNoAutomaton);
  EXPECT_EQ(r.status, 255);
}

TEST(DefaultAutomaton, OrderOfTheThreePlaces) {
  const std::string tree = TreeWithProgram();
  const std::string program = tree + "/bin/etiquem";
  // Installed: PREFIX/share/etiquem/default.bin for PREFIX/bin/etiquem.
  MakeDirectories(tree + "/share/etiquem");
  WriteFile(tree + "/share/etiquem/default.bin", DictionaryBytes("three"));
  ExpectReading(RunWithoutB(program), "three", "installed layout");
  // A build tree: share/etiquem/default.bin beside the program comes first.
  MakeDirectories(tree + "/bin/share/etiquem");
  WriteFile(tree + "/bin/share/etiquem/default.bin", DictionaryBytes("two"));
  ExpectReading(RunWithoutB(program), "two", "build layout");
  // binari/automorf.bin in the working directory comes before both.
  const std::string work = NewDirectory();
  MakeDirectories(work + "/binari");
  WriteFile(work + "/binari/automorf.bin", DictionaryBytes("one"));
  ExpectReading(RunWithoutB(program, work), "one", "working directory");
  // -b comes before everything.
  const std::string named = work + "/named.bin";
  WriteFile(named, DictionaryBytes("four"));
  RunOptions op;
  op.directory = work;
  ExpectReading(RunCommand({program, "-b", named}, "a b\n", op), "four", "-b");
}

TEST(DefaultAutomaton, FoundFromTheProgramsOwnPlace) {
  const std::string tree = TreeWithProgram();
  MakeDirectories(tree + "/share/etiquem");
  WriteFile(tree + "/share/etiquem/default.bin", DictionaryBytes("three"));
  // Run from the tree's own bin directory, and through a relative path.
  ExpectReading(RunWithoutB(tree + "/bin/etiquem", tree + "/bin"), "three",
                "from bin/");
  RunOptions op;
  op.directory = tree + "/share";
  ExpectReading(RunCommand({"../bin/etiquem"}, "a b\n", op), "three",
                "relative path");
  // Through a symbolic link elsewhere: the program's real place counts.
  const std::string elsewhere = NewDirectory();
  ASSERT_EQ(symlink((tree + "/bin/etiquem").c_str(),
                    (elsewhere + "/etiquem").c_str()),
            0);
  ExpectReading(RunWithoutB(elsewhere + "/etiquem"), "three", "symlink");
  // The whole tree moved: it still finds its own.
  const std::string moved = NewDirectory() + "/moved";
  ASSERT_EQ(std::rename(tree.c_str(), moved.c_str()), 0);
  ExpectReading(RunWithoutB(moved + "/bin/etiquem"), "three", "moved tree");
}

TEST(DefaultAutomaton, ABrokenOneIsNamedByItsPath) {
  const std::string tree = TreeWithProgram();
  MakeDirectories(tree + "/share/etiquem");
  WriteFile(tree + "/share/etiquem/default.bin",
            DictionaryBytes("three").substr(0, 27));
  Result r = RunWithoutB(tree + "/bin/etiquem");
  EXPECT_EQ(r.output, "");
  // The path has no "bin/.." in it.
  EXPECT_EQ(r.errors.rfind("Error: El fichero binario " + tree +
                               "/share/etiquem/default.bin no es v\xe1lido: ",
                           0),
            0u)
      << r.errors;
  EXPECT_EQ(r.status, 255);
}

// The build's own etiquem reads the build's default dictionary from any
// directory, as a user running build/etiquem from elsewhere would see it.
TEST(DefaultAutomaton, TheBuildsProgramReadsTheBuildsDictionary) {
  const std::string build_dir = kBin.substr(0, kBin.rfind('/'));
  const std::string dictionary = build_dir + "/share/etiquem/default.bin";
  ASSERT_EQ(access(dictionary.c_str(), R_OK), 0) << dictionary;
  const std::string text = "La casa - i el gat.\n";
  RunOptions op;
  op.directory = NewDirectory();
  Result without_b = RunCommand({kBin, "-s"}, text, op);
  Result with_b = RunCommand({kBin, "-s", "-b", dictionary}, text, op);
  EXPECT_EQ(without_b.status, 0) << without_b.errors;
  EXPECT_EQ(without_b.output, with_b.output);
  EXPECT_NE(without_b.output.find('&'), std::string::npos) << "no reading";
}

}  // namespace
}  // namespace etiquem
