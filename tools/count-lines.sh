#!/usr/bin/env bash
# Prints the non-blank lines of the program, of its unit tests (fakes
# included) and of the integration harnesses, as the README states them.
set -euo pipefail
cd "$(dirname "$0")/.."

harnesses=(tests/qemu tests/wine tests/package tests/accessibility)

count() { # git pathspecs...
    git ls-files -z -- "$@" ':!:*CMakeLists.txt' | xargs -0 cat | grep -cv '^[[:space:]]*$'
}

echo "program     $(count 'drives/*.cpp' 'drives/*.h' 'ui/*.cpp' 'ui/*.h' 'platform/*.cpp' 'platform/*.h')"
echo "unit tests  $(count 'tests/*.cpp' 'tests/*.h' "${harnesses[@]/#/:!:}")"
echo "harnesses   $(count "${harnesses[@]}" 'tests/udisks2/*.py')"
