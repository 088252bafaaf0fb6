#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets (clang, ASan + UBSan) in build-fuzz/ and runs
# them. Usage:
#   scripts/fuzz.sh [seconds] [target...]
# seconds: how long each target runs (default 600); targets: any of
# framer helpers responder describer datapoint productkey analyzer capture
# replycheck (default: all, one after the other). Extra libFuzzer flags can be
# given in FUZZ_FLAGS.
#
# Each target starts from its checked-in corpus fuzz/corpus/<target>/ and
# keeps what it finds in build-fuzz/fuzz-corpus/<target>/; a crash, leak or
# broken invariant is written to build-fuzz/artifacts/<target>/. Put such an
# input into fuzz/corpus/<target>/ once the fault is fixed: the replay test of
# every build then keeps it fixed.
set -euo pipefail
cd "$(dirname "$0")/.."

all=(framer helpers responder describer datapoint productkey analyzer capture replycheck)
seconds=${1:-600}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all[@]}")

bash scripts/setup.sh --fuzz
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DLUMO_FUZZ=ON -DLUMO_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]/#/fuzz_}"

root=$(pwd)
# The same suppressions as the tests (Qt's own leaks), and a stack for any
# undefined behaviour.
lsan="suppressions=$root/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export QT_QPA_PLATFORM=offscreen

status=0
for t in "${targets[@]}"; do
  work="build-fuzz/fuzz-corpus/$t"
  artifacts="build-fuzz/artifacts/$t/"
  mkdir -p "$work" "$artifacts"
  dict=()
  [ -f "fuzz/$t.dict" ] && dict=(-dict="fuzz/$t.dict")
  # Qt has no frame pointers: the suppression of its JSON parser leak sees
  # the Qt frames only with full unwinding on malloc, which costs about five
  # times the speed, so only the target that parses JSON pays for it.
  unwind=1
  [ "$t" = datapoint ] && unwind=0
  export LSAN_OPTIONS="$lsan:fast_unwind_on_malloc=$unwind"
  echo "== fuzz_$t for ${seconds}s"
  # -max_len: the checked-in corpus holds one 64 KiB frame; longer generated
  # inputs would only slow the search (the replay test runs that file whole).
  # A capture file holds packets of up to 64 KiB frames, so its inputs may
  # be that long.
  max_len=4096
  [ "$t" = capture ] && max_len=65536
  # shellcheck disable=SC2086
  if ! "build-fuzz/fuzz/fuzz_$t" -max_total_time="$seconds" -print_final_stats=1 -max_len="$max_len" \
      -artifact_prefix="$artifacts" "${dict[@]}" ${FUZZ_FLAGS:-} \
      "$work" "fuzz/corpus/$t"; then
    echo "fuzz_$t found a fault: see $artifacts"
    status=1
  fi
done
exit $status
