#!/usr/bin/env bash
# Builds the option-parser fuzz target with libFuzzer, AddressSanitizer and UBSan straight
# from its sources and runs it.
#   bench/fuzz/run_fuzz_cmdline.sh [seconds (default 180)] [build folder (default build-fuzz)]
# Crash inputs land in the build folder as crash-*; rerun one with: <build>/fuzz_cmdline <file>
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
seconds="${1:-180}"
build="${2:-$root/build-fuzz}"
cxx="${CXX_FUZZ:-clang++}"

mkdir -p "$build/corpus"
"$cxx" -std=c++20 -O1 -g -fno-omit-frame-pointer \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root/src/cmdline" -I"$root/src/config" \
  "$here/fuzz_cmdline.cpp" "$root/src/cmdline/uCommandLine.cpp" "$root/src/config/uStrings.cpp" \
  -o "$build/fuzz_cmdline"

# Seeds: the kinds of line the client meets, so the fuzzer starts from real shapes.
seed=0
while IFS= read -r line; do
  printf '%s' "$line" > "$build/corpus/seed-$seed"
  seed=$((seed + 1))
done <<'SEEDS'
orvel -f='a b.cfg' -k=0
-f:('a.cfg','b.cfg')
-f:( a.cfg ; b.cfg )
-f:("a" "b")
-f:(a,,;b)
-f=(a.cfg)
-f='abc
- f=x
-u =jan -u= jan
-d+ /test --test
C:\dir\zentrik.exe orvel
"C:\Program Files\zentrik.exe" kalvio -u=jan -p=x -f:(*.xml)
orvel -f:('a b',c) -l=/tmp/log -ln=nazev -lfn+
SEEDS

cd "$build"
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  "$build/fuzz_cmdline" -max_total_time="$seconds" -max_len=8192 -print_final_stats=1 \
  -dict="$here/cmdline.dict" "$build/corpus"
