#!/usr/bin/env bash
# Builds the Debian package from the build tree into a folder of its own,
# emptied first, so that the tests after it find this build's package and no
# other. Usage: build_deb.sh CPACK BUILD_DIR OUTPUT_DIR
set -euo pipefail
cpack=$1 build=$2 out=$3

rm -rf "$out"
"$cpack" --config "$build/CPackConfig.cmake" -B "$out"
shopt -s nullglob
debs=("$out"/*.deb)
if [ ${#debs[@]} -ne 1 ]; then
    echo "cpack was to make one .deb in $out; it made ${#debs[@]}" >&2
    exit 1
fi
echo "built ${debs[0]}"
