# Shared by the install tests: arguments, a scratch directory removed at
# exit, and checks that stop the test with a message.
#
#   source common.sh ETIQUEM ETIQUEM_DIC BUILD_DIR SOURCE_DIR [CMAKE [CPACK]]
#
# A test that lacks a tool exits with kSkip (mapped by ctest's
# SKIP_RETURN_CODE).

set -euo pipefail
export LC_ALL=C

readonly kSkip=77
etiquem=$1 etiquem_dic=$2 build_dir=$3 source_dir=$4 cmake=${5:-cmake} cpack=${6:-cpack}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/etiquem-install.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*" >&2; exit "$kSkip"; }

# expect_eq WHAT EXPECTED ACTUAL
expect_eq() {
  [[ $2 == "$3" ]] || fail "$1: expected [$2], got [$3]"
}

# The files of a tree, relative to it, sorted: one per line.
list_files() { (cd "$1" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort); }

# A sentence of the sample dictionary and its exact reading with -s.
readonly kSentence='casa - i'
readonly kSampleReading='casa/casa&n;&f;&sg;/casar&vblex;&pri;&p3;&sg;/ -/-&guio;/ i/i&cnjcoo;/'

# check_tree ROOT: the programs under ROOT/bin annotate from an unrelated
# working directory, with no -b, reading ROOT/share/etiquem/default.bin.
check_tree() {
  local root=$1 elsewhere got want
  elsewhere=$(mktemp -d "$scratch/cwd.XXXXXX")
  [[ -x $root/bin/etiquem && -x $root/bin/etiquem-dic ]] || fail "no programs under $root/bin"
  [[ -f $root/share/etiquem/default.bin ]] || fail "no $root/share/etiquem/default.bin"
  got=$(cd "$elsewhere" && echo "$kSentence" | "$root/bin/etiquem" -s) || fail "etiquem failed with no -b"
  want=$(cd "$elsewhere" && echo "$kSentence" | "$root/bin/etiquem" -s -b "$root/share/etiquem/default.bin")
  expect_eq "no -b reads share/etiquem/default.bin" "$want" "$got"
  [[ $got == *'&'* ]] || fail "no reading in [$got]"
  got=$(cd "$elsewhere" && echo "$kSentence" | "$root/bin/etiquem" -s -b "$root/share/etiquem/sample.bin")
  expect_eq "the sample dictionary" "$kSampleReading" "$got"
  expect_eq "etiquem --version" "$("$etiquem" --version)" "$("$root/bin/etiquem" --version)"
  expect_eq "etiquem-dic --version" "$("$etiquem_dic" --version)" "$("$root/bin/etiquem-dic" --version)"
}
