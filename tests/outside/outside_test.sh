#!/bin/sh
# Installs the build into a scratch prefix, builds tests/outside/main.cc
# against it twice (find_package(etiquem), then pkg-config) and checks what
# each program writes for one sentence.
#   outside_test.sh BUILD_DIR CMAKE CXX DICTIONARY
set -eu
build=$1 cmake=$2 cxx=$3 dictionary=$4
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$cmake" --install "$build" --prefix "$tmp/prefix" >/dev/null
expected='el&det;&def;&f;&sg;/el&prn;&pro;&p3;&f;&sg;/ casa&n;&f;&sg;/casar&vblex;&pri;&p3;&sg;/
el
casa'
check() {
  got=$(printf 'la casa\n' | "$1" "$dictionary")
  if [ "$got" != "$expected" ]; then
    printf '%s wrote:\n%s\n' "$1" "$got" >&2
    exit 1
  fi
}
"$cmake" -S "$here" -B "$tmp/build" -DCMAKE_PREFIX_PATH="$tmp/prefix" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=Release >/dev/null
"$cmake" --build "$tmp/build" >/dev/null
check "$tmp/build/outside"
echo "find_package(etiquem): ok"
if command -v pkg-config >/dev/null; then
  export PKG_CONFIG_PATH="$tmp/prefix/lib/pkgconfig"
  # shellcheck disable=SC2046
  "$cxx" "$here/main.cc" -o "$tmp/outside-pc" $(pkg-config --cflags --libs etiquem)
  check "$tmp/outside-pc"
  echo "pkg-config etiquem: ok"
fi
