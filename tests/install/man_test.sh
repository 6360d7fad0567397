#!/usr/bin/env bash
# The manual pages: clean under `mandoc -T lint`, an entry for every option
# the programs list in their usage texts, and the version of the programs.
#
#   man_test.sh ETIQUEM ETIQUEM_DIC BUILD_DIR SOURCE_DIR
source "$(dirname "$0")/common.sh" "$@"

command -v mandoc > /dev/null || skip "mandoc is not installed"

man_dir=$source_dir/man
for page in etiquem.1 etiquem-dic.1; do
  mandoc -T lint -W warning "$man_dir/$page" || fail "mandoc -T lint $page"
done

# check_options PAGE OPTION...: each option has an entry (.TP, then a line
# naming it in bold) in PAGE.
check_options() {
  local page=$1 o pattern; shift
  for o in "$@"; do
    pattern=${o//-/\\\\-}
    grep -A1 '^\.TP' "$man_dir/$page" | grep -qE "^\.B[IR]? +$pattern( |,|\$)" \
      || fail "$page: no entry for $o"
  done
}

# etiquem: the short options of -h, the long ones of --help.
mapfile -t short < <("$etiquem" -h | grep -oE '^  -[a-z]' | sed 's/^ *//')
mapfile -t long < <("$etiquem" --help | grep -oE '^  --[a-z0-9-]+' | sed 's/^ *//')
((${#short[@]} == 7)) || fail "expected 7 short options in -h, got ${short[*]}"
((${#long[@]} >= 2)) || fail "expected the long options in --help, got ${long[*]}"
check_options etiquem.1 "${short[@]}" "${long[@]}"

# etiquem-dic: every option of its usage text, and --version.
mapfile -t dic < <("$etiquem_dic" --help | grep -oE '(^| |\[)--?[a-z0-9]+' | sed 's/^[ [\]*//' | sort -u)
((${#dic[@]} >= 6)) || fail "expected the options of etiquem-dic's usage, got ${dic[*]}"
# (hunspell's -l is in tools/README.md, not in the usage text)
check_options etiquem-dic.1 "${dic[@]}" --version -l

# The version in the pages' footers is the programs'.
version=$("$etiquem" --version)
for page in etiquem.1 etiquem-dic.1; do
  grep -q "^\.TH .* \"$version\" " "$man_dir/$page" || fail "$page: .TH does not name \"$version\""
done
echo "PASS"
