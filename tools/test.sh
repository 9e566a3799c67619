#!/usr/bin/env bash
# Installs what is missing, builds every tree the tests need and runs every
# test label through ctest, printing how long each stage took.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
passed=0
failed=0
stage_times=()

stage() { # name, command...
    local name=$1 start=$SECONDS
    shift
    echo "==> $name"
    "$@"
    stage_times+=("$(printf '%-34s %4ds' "$name" $((SECONDS - start)))")
}

# Warnings are errors here, as in CI, and nowhere else by default.
configure_and_build() { # tree, cmake options...
    local tree=$1
    shift
    cmake -S . -B "build/$tree" -G Ninja -DTRAYVO_WERROR=ON "$@" >/dev/null
    cmake --build "build/$tree" -j "$jobs"
}

run_label() { # tree, label, timeout in seconds
    local log
    log=$(mktemp)
    local status=0
    ctest --test-dir "build/$1" -L "^$2\$" --timeout "$3" --output-on-failure -j "$jobs" 2>&1 | tee "$log" || status=$?
    local summary
    summary=$(grep -Eo '[0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1 || true)
    rm -f "$log"
    if [ -z "$summary" ]; then
        echo "ctest ran no test for label $2" >&2
        failed=$((failed + 1))
        return 0
    fi
    local bad total
    read -r bad _ _ _ _ total <<<"$summary"
    passed=$((passed + total - bad))
    failed=$((failed + bad))
    [ "$status" -eq 0 ] || echo "label $2 failed" >&2
}

# The wine label works the 32-bit exe that ships where this host starts 32-bit
# programs, and its 64-bit twin under wine64 where it cannot (a kernel without
# 32-bit emulation); TRAYVO_WINE64=1 asks for the twin on any host. Sets
# wine_tree and wine_tested.
choose_wine_tree() {
    local refusal
    if [ -n "${TRAYVO_WINE64:-}" ]; then
        wine_tree=windows64
        wine_tested="the 64-bit twin under wine64, since TRAYVO_WINE64 asks for it"
    elif refusal=$(/lib/ld-linux.so.2 --version 2>&1 >/dev/null); then
        wine_tree=windows
        wine_tested="the 32-bit Trayvo2010.exe, since this host starts 32-bit programs"
    else
        wine_tree=windows64
        wine_tested="the 64-bit twin under wine64, since this host cannot start 32-bit programs (${refusal:-no 32-bit loader})"
    fi
}

stage "install dependencies" bash tools/install-deps.sh test
stage "build native" configure_and_build native -DCMAKE_BUILD_TYPE=Debug
stage "build sanitizers" configure_and_build sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRAYVO_SANITIZE=ON
stage "build windows" configure_and_build windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake -DCMAKE_BUILD_TYPE=MinSizeRel
stage "build windows 64-bit twin" configure_and_build windows64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-w64-mingw32.cmake \
    -DCMAKE_BUILD_TYPE=MinSizeRel -DTRAYVO_SHIPPED_EXE="$PWD/build/windows/platform/Trayvo2010.exe"
choose_wine_tree
stage "test unit" run_label native unit 120
stage "test qt" run_label native qt 300
stage "test sanitize" run_label sanitize sanitize 900
stage "test qemu" run_label native qemu 600
echo "wine: testing $wine_tested"
stage "test wine ($wine_tree)" run_label "$wine_tree" wine 900
stage "test package" run_label native package 1200
stage "test windows package" run_label windows package 300

echo
echo "Stage times:"
printf '  %s\n' "${stage_times[@]}"
echo
echo "Wine tested $wine_tested."
echo "Tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
