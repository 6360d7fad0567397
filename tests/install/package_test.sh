#!/usr/bin/env bash
# The Debian package made by `cpack -G DEB`: its control fields and declared
# dependencies, the same files as `cmake --install` puts under a prefix, and
# the unpacked etiquem annotating from another directory with no -b.
#
#   package_test.sh ETIQUEM ETIQUEM_DIC BUILD_DIR SOURCE_DIR CMAKE CPACK
source "$(dirname "$0")/common.sh" "$@"

command -v dpkg-deb > /dev/null || skip "dpkg-deb is not installed"
command -v "$cpack" > /dev/null || skip "cpack is not installed"

(cd "$scratch" && "$cpack" -G DEB --config "$build_dir/CPackConfig.cmake" -B "$scratch/pkg") \
  > "$scratch/cpack.log" 2>&1 || { cat "$scratch/cpack.log" >&2; fail "cpack -G DEB"; }
debs=("$scratch"/pkg/*.deb)
[[ ${#debs[@]} == 1 && -f ${debs[0]} ]] || fail "expected one .deb, got: ${debs[*]}"
deb=${debs[0]}

expect_eq "Package" etiquem "$(dpkg-deb -f "$deb" Package)"
expect_eq "Version" 1.0.0 "$(dpkg-deb -f "$deb" Version)"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libstdc++6 libgcc-s1; do
  [[ $depends == *"$lib"* ]] || fail "Depends lacks $lib: [$depends]"
done

dpkg-deb -x "$deb" "$scratch/root"
"$cmake" --install "$build_dir" --prefix "$scratch/prefix" > /dev/null \
  || fail "cmake --install"
expect_eq "files of the package against cmake --install" \
  "$(list_files "$scratch/prefix")" "$(list_files "$scratch/root/usr")"

check_tree "$scratch/root/usr"
echo "PASS"
