#!/bin/sh
# Builds the libFuzzer targets of fuzz/ with clang in build-fuzz and runs each one for the
# given number of seconds (default 20), starting from its committed seeds. A finding fails
# the run; its input is left in build-fuzz/findings/<target>/ to be committed as a regression
# test in fuzz/corpus/<target>/.
set -e
seconds=${1:-20}
cd "$(dirname "$0")/.."
if [ -x tools/install-deps.sh ]; then tools/install-deps.sh; fi
if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y clang libclang-rt-dev
fi
. tools/sanitizers/env.sh
cmake -S . -B build-fuzz -DTK_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
targets=$(sed -n 's/^tk_add_fuzz_target(\([a-z0-9_]*\).*/\1/p' fuzz/CMakeLists.txt)
# shellcheck disable=SC2086
cmake --build build-fuzz --target $targets -j2

failed=""
for target in $targets; do
    work=build-fuzz/corpus/$target
    findings=build-fuzz/findings/$target
    mkdir -p "$work" "$findings"
    dict=""
    if [ -f "fuzz/$target.dict" ]; then dict="-dict=fuzz/$target.dict"; fi
    log=build-fuzz/$target.log
    # New inputs go to the work folder; the committed seeds are only read.
    # shellcheck disable=SC2086
    if "build-fuzz/fuzz/$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=4096 \
        -print_final_stats=1 -artifact_prefix="$findings/" $dict "$work" "fuzz/corpus/$target" >"$log" 2>&1; then
        result=ok
    else
        result=FINDING
        failed="$failed $target"
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    coverage=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
    echo "$target: $result, $runs runs in ${seconds} s, $coverage, corpus $(ls "$work" | wc -l) inputs"
    if [ "$result" != ok ]; then
        grep -E 'property broken|ERROR:|SUMMARY:|Test unit written' "$log" || tail -20 "$log"
    fi
done

if [ -n "$failed" ]; then
    echo "fuzzing found faults in:$failed"
    exit 1
fi
echo "fuzzing found nothing"
