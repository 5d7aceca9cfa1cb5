#!/bin/bash
# Builds a reader's libFuzzer target with clang (address and undefined
# behaviour sanitizers) and runs it on a fixed sequence of inputs (see below),
# reader's fixture corpus. Fails on a crash, a hang, a sanitizer report, a
# failed check of the target, or memory beyond the bounds below.
#
# Two memory bounds, each for what it measures:
# - -malloc_limit_mb, one allocation made for one input: the faults of the
#   code under test. An input is at most 64 KiB (-max_len); the contact
#   readers and the patcher made nothing near 1 MB for one in a minute's run,
#   and their own limits let an input need at most a card of 8 MiB (16 MiB as
#   text). An allocation of 32 MB or more is a fault, reported with its stack.
# - -rss_limit_mb, the whole process over the run: a runaway (memory that
#   grows from input to input). The resident size grows with libFuzzer's
#   corpus and the sanitizer's bookkeeping (freed memory kept for checks,
#   allocation stacks, shadow pages), not with the reader's live heap. Peaks
#   of a 60-second run on this 2-core machine, shared with other work (for
#   rtf, the other core kept busy too): vcard 184 MB (32,600 inputs), csv
#   148 MB (20,200), patch 199 MB (20,500), rtf 135 MB (13,500). Past the
#   first thousands of inputs it grows by 1.8 KB (vcard) to 3.6 KB (patch) an
#   input: an idle machine running four times as many would reach about
#   420 MB. 1024 MB leaves more than twice that.
#
# usage: run_fuzz.sh rtf|vcard|csv|patch SOURCE_DIR WORK_DIR [SECONDS]
set -euo pipefail

target="$1"
extra_libs=""
src="$2"
work="$3"
seconds="${4:-${FUZZ_SECONDS:-}}"

# The readers of contact files keep their memory bounded whatever the input.
cards_sources=(
    "$src/cards/vcard_reader.cpp" "$src/cards/vcard_text.cpp" "$src/cards/csv_reader.cpp"
    "$src/cards/csv_layout.cpp" "$src/cards/decoding.cpp" "$src/cards/input_text.cpp"
    "$src/cards/mapping.cpp" "$src/cards/detail_values.cpp" "$src/data/transliteration.cpp"
    "$src/data/entryrecord.cpp" "$src/data/text.cpp"
)
case "$target" in
rtf)
    sources=("$src/tests/fuzz/rtf_fuzz.cpp" "$src/data/rtf_reader.cpp" "$src/data/rtf_writer.cpp"
        "$src/data/rtf_codepage.cpp" "$src/data/rtf_words.cpp" "$src/data/text.cpp")
    seeds="$src/tests/fixtures/rtf"
    options=(-dict="$src/tests/fuzz/rtf.dict")
    runs=40000
    ;;
vcard | csv)
    sources=("$src/tests/fuzz/${target}_fuzz.cpp" "${cards_sources[@]}")
    extra_libs="-licui18n -licuuc"
    seeds="$src/tests/fixtures/cards"
    options=(-dict="$src/tests/fuzz/$target.dict")
    runs=$([ "$target" = vcard ] && echo 100000 || echo 40000)
    ;;
patch)
    sources=("$src/tests/fuzz/patch_fuzz.cpp" "${cards_sources[@]}" "$src/cards/vcard_patch.cpp"
        "$src/cards/vcard_writer.cpp" "$src/cards/sync_merge.cpp" "$src/cards/entry_contact.cpp"
        "$src/cards/export_entry.cpp")
    extra_libs="-licui18n -licuuc"
    seeds="$src/tests/fixtures/cards"
    options=(-dict="$src/tests/fuzz/vcard.dict")
    runs=25000
    ;;
*)
    echo "unknown fuzz target $target" >&2
    exit 2
    ;;
esac

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

work="$work/$target"
mkdir -p "$work/corpus"
binary="$work/${target}_fuzz"
# Rebuild only when a source is newer than the binary.
rebuild=0
[ -x "$binary" ] || rebuild=1
for s in "${sources[@]}" "$src"/data/*.h "$src"/cards/*.h "$src/tests/fuzz"/*.h; do
    [ "$s" -nt "$binary" ] && rebuild=1
done
if [ "$rebuild" = 1 ]; then
    echo "building $binary"
    # shellcheck disable=SC2086
    "$clang" -std=c++20 -O1 -g -fPIC -fno-omit-frame-pointer \
        -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
        -I"$src" -I"$src/cards" $qt_cflags "${sources[@]}" $qt_libs $extra_libs -o "$binary"
fi

# Qt's own libraries are not instrumented; leaks at exit are Qt's objects. The sanitizer keeps
# freed memory for a while to catch its use; 32 MB of it (not its default 256 MB).
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:quarantine_size_mb=32"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen

# A test run tries the same inputs on every machine and at every run: a fixed seed, a fixed
# number of inputs (about a minute's worth on an idle 2-core machine here), a fresh corpus and
# Qt's string hashing without its random seed, so that it passes or fails for the code alone,
# never by chance. Given a number of seconds (argument or FUZZ_SECONDS), it explores instead: a
# random seed for that long, on the corpus kept from earlier runs, for looking for new faults.
if [ -n "$seconds" ]; then
    limits=(-seed=0 -max_total_time="$seconds")
else
    rm -rf "$work/corpus" && mkdir -p "$work/corpus"
    limits=(-seed=1 -runs="$runs" -max_total_time=600)
    export QT_HASH_SEED=0
fi

# New inputs go to the work corpus; the fixture folder only seeds it.
cd "$work"
set +e
"$binary" "${limits[@]}" -timeout=10 -max_len=65536 "${options[@]}" \
    -malloc_limit_mb=32 -rss_limit_mb=1024 -print_final_stats=1 "$work/corpus" "$seeds" \
    >"$work/last_run.log" 2>&1
status=$?
set -e
if [ "$status" -ne 0 ]; then
    tail -n 80 "$work/last_run.log"
    echo "the fuzzer failed ($status); the input that failed is in $work" >&2
    exit "$status"
fi
grep -E '^#[0-9]+.*DONE|^stat::' "$work/last_run.log"
