#!/usr/bin/env bash
# `cmake --install` into a temporary prefix: every file in its place, and the
# installed etiquem annotating from another directory with no -b, before and
# after the whole tree is moved. Then the order of the default automaton:
# binari/automorf.bin in the working directory first; with no dictionary at
# all, the historical message and status 255.
#
#   install_test.sh ETIQUEM ETIQUEM_DIC BUILD_DIR SOURCE_DIR CMAKE
source "$(dirname "$0")/common.sh" "$@"

prefix=$scratch/prefix
"$cmake" --install "$build_dir" --prefix "$prefix" > "$scratch/install.log" 2>&1 \
  || { cat "$scratch/install.log" >&2; fail "cmake --install"; }

for f in bin/etiquem bin/etiquem-dic \
         share/etiquem/default.bin share/etiquem/sample.bin \
         share/man/man1/etiquem.1 share/man/man1/etiquem-dic.1 \
         share/doc/etiquem/README.md share/doc/etiquem/LICENSE share/doc/etiquem/NOTICE \
         share/bash-completion/completions/etiquem \
         share/bash-completion/completions/etiquem-dic; do
  [[ -f $prefix/$f ]] || fail "not installed: $f"
done
cmp -s "$prefix/share/doc/etiquem/LICENSE" "$source_dir/LICENSE" || fail "LICENSE differs"

check_tree "$prefix"
mv "$prefix" "$scratch/moved"
prefix=$scratch/moved
check_tree "$prefix"

# binari/automorf.bin in the working directory keeps priority.
work=$scratch/work
mkdir -p "$work/binari"
printf 'casa\tcasa<prova>\n' > "$scratch/own.dic"
"$prefix/bin/etiquem-dic" compile "$scratch/own.dic" -o "$work/binari/automorf.bin" \
  || fail "etiquem-dic compile"
expect_eq "binari/automorf.bin first" "casa/casa&prova;/ - i" \
  "$(cd "$work" && echo "$kSentence" | "$prefix/bin/etiquem" -s)"

# Without any dictionary, the historical message and status.
rm "$prefix/share/etiquem/default.bin"
status=0
got=$(cd "$scratch" && echo "$kSentence" | "$prefix/bin/etiquem" 2>&1) || status=$?
expect_eq "status with no dictionary" 255 "$status"
expect_eq "message with no dictionary" \
  "Error: El fichero binario binari/automorf.bin no existe o no se puedo abrir" "$got"
echo "PASS"
