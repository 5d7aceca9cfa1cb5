#!/bin/bash
# Builds the RTF reader's libFuzzer target with clang (address and undefined
# behaviour sanitizers) and runs it for a bounded time, seeded with the RTF
# fixture corpus. Fails on a crash, a hang, a sanitizer report or a failed
# round-trip check.
#
# usage: run_rtf_fuzz.sh SOURCE_DIR WORK_DIR [SECONDS]
set -euo pipefail

src="$1"
work="$2"
seconds="${3:-${RTF_FUZZ_SECONDS:-60}}"

clang="$(command -v clang++ || command -v clang++-14 || true)"
if [ -z "$clang" ]; then
    echo "clang++ is not installed (scripts/install-deps.sh --test installs it)" >&2
    exit 1
fi

# Qt's flags from pkg-config, or Debian's standard places when it is missing.
if command -v pkg-config >/dev/null && pkg-config --exists Qt6Gui; then
    qt_cflags="$(pkg-config --cflags Qt6Gui)"
    qt_libs="$(pkg-config --libs Qt6Gui)"
else
    qt="/usr/include/$(gcc -print-multiarch 2>/dev/null || echo x86_64-linux-gnu)/qt6"
    qt_cflags="-I$qt -I$qt/QtCore -I$qt/QtGui"
    qt_libs="-lQt6Gui -lQt6Core"
fi

mkdir -p "$work/corpus"
binary="$work/rtf_fuzz"
sources=(
    "$src/tests/fuzz/rtf_fuzz.cpp"
    "$src/data/rtf_reader.cpp"
    "$src/data/rtf_writer.cpp"
    "$src/data/rtf_codepage.cpp"
    "$src/data/text.cpp"
)
# Rebuild only when a source is newer than the binary.
rebuild=0
[ -x "$binary" ] || rebuild=1
for s in "${sources[@]}" "$src"/data/rtf*.h "$src/data/text.h"; do
    [ "$s" -nt "$binary" ] && rebuild=1
done
if [ "$rebuild" = 1 ]; then
    echo "building $binary"
    # shellcheck disable=SC2086
    "$clang" -std=c++20 -O1 -g -fPIC -fno-omit-frame-pointer \
        -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
        -I"$src" $qt_cflags "${sources[@]}" $qt_libs -o "$binary"
fi

# Qt's own libraries are not instrumented; leaks at exit are Qt's objects.
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen

# New inputs go to the work corpus; the fixture folder only seeds it.
cd "$work"
set +e
"$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -max_len=65536 \
    -dict="$src/tests/fuzz/rtf.dict" -print_final_stats=1 \
    "$work/corpus" "$src/tests/fixtures/rtf" >"$work/last_run.log" 2>&1
status=$?
set -e
if [ "$status" -ne 0 ]; then
    tail -n 80 "$work/last_run.log"
    echo "the fuzzer failed ($status); the input that failed is in $work" >&2
    exit "$status"
fi
grep -E '^#[0-9]+.*DONE|^stat::' "$work/last_run.log"
