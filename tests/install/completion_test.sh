#!/usr/bin/env bash
# The bash completion of both commands: it offers exactly the options the
# programs list (short ones in `etiquem -h`, long ones in `etiquem --help`,
# etiquem-dic's in its usage), and file names where a file is wanted.
#
#   completion_test.sh ETIQUEM ETIQUEM_DIC BUILD_DIR SOURCE_DIR
source "$(dirname "$0")/common.sh" "$@"
source "$source_dir/completion/etiquem.bash"

# complete_words FUNCTION WORD...: the completions of the last word, sorted,
# on one line.
complete_words() {
  local fn=$1; shift
  COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMPREPLY=()
  "$fn"
  printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd' '
}
sorted() { printf '%s\n' "$@" | sort | paste -sd' '; }

short=$("$etiquem" -h | grep -oE '^  -[a-z]' | sed 's/^ *//' | sort | paste -sd' ')
long=$("$etiquem" --help | grep -oE '^  --[a-z0-9-]+' | sed 's/^ *//' | sort | paste -sd' ')
[[ -n $long ]] || fail "etiquem --help lists no long options"
expect_eq "etiquem --" "$long" "$(complete_words _etiquem etiquem --)"
expect_eq "etiquem -" "$(sorted $short $long)" "$(complete_words _etiquem etiquem -s -)"

cd "$scratch"
touch text.txt lexicon.bin other.bin
mkdir dir
expect_eq "etiquem -b" "dir lexicon.bin other.bin" "$(complete_words _etiquem etiquem -b '')"
expect_eq "etiquem -f" "dir lexicon.bin other.bin text.txt" "$(complete_words _etiquem etiquem -s -f '')"
expect_eq "etiquem -d t" "text.txt" "$(complete_words _etiquem etiquem -d t)"

dic_options=$("$etiquem_dic" --help | grep -oE '(^| |\[)--?[a-z0-9]+' | sed 's/^[ [\]*//' | sort -u | paste -sd' ')
expect_eq "etiquem-dic compile -" "$dic_options" "$(complete_words _etiquem_dic etiquem-dic compile x.dic -)"
expect_eq "etiquem-dic" "--help --version -h compile dump hunspell info" "$(complete_words _etiquem_dic etiquem-dic '')"
expect_eq "etiquem-dic hunspell -" "-l -o -v" "$(complete_words _etiquem_dic etiquem-dic hunspell a.aff -)"
expect_eq "etiquem-dic hunspell x -l t" "text.txt" "$(complete_words _etiquem_dic etiquem-dic hunspell x -l t)"
expect_eq "etiquem-dic dump" "dir lexicon.bin other.bin" "$(complete_words _etiquem_dic etiquem-dic dump '')"
expect_eq "etiquem-dic compile x -o t" "text.txt" "$(complete_words _etiquem_dic etiquem-dic compile x -o t)"
echo "PASS"
