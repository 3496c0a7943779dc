#!/usr/bin/env bash
# Installs what is needed (Debian 12 or 13), builds Tollvane and runs every test through ctest.
# As root the end-to-end tests run in private mount namespaces; without root they are skipped.
# With CI=true: AddressSanitizer + UBSan for all tests and ThreadSanitizer for the concurrency
# tests; a skipped test counts as a failure.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
tollvane_install_packages

jobs=$(nproc)
build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
    cmake --build "$dir" -j "$jobs"
}
run_ctest() {
    local dir=$1
    shift
    (cd "$dir" && ctest --output-on-failure --no-tests=error "$@")
}

if [ "${CI:-}" = true ]; then
    build build/ci-asan -DTOLLVANE_SANITIZE=address
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
        LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp" \
        run_ctest build/ci-asan -LE bench
    build build/ci-tsan -DTOLLVANE_SANITIZE=thread -DTOLLVANE_BUILD_BENCH=OFF
    # ThreadSanitizer cannot map its shadow memory under high-entropy address randomisation.
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 die_after_fork=0 suppressions=$PWD/tests/tsan.supp" setarch "$(uname -m)" -R \
        bash -c 'cd build/ci-tsan && ctest --output-on-failure --no-tests=error -L concurrency'
else
    build build/tests
    run_ctest build/tests -LE bench
fi
