#!/usr/bin/env bash
# Installs the built program into a temporary program folder (a name with a blank and a dollar
# sign, which the launcher entry must quote) with a temporary data folder, checks the launcher
# entry and the metadata with the desktop's validators and the sync timer's units with systemd's,
# then uninstalls and checks that exactly the installed files went and the user's files stayed.
#   check_install.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir="$1"
build_dir="$2"
id=org.meridoc.Meridoc
tmp="$(mktemp -d)"
trap 'rm -rf -- "$tmp"' EXIT
export HOME="$tmp/home"
unset XDG_RUNTIME_DIR DBUS_SESSION_BUS_ADDRESS # the scripts must not reach this user's systemd
prefix="$tmp/my \$programs/meridoc"
fail() { echo "FAIL: $*" >&2; exit 1; }

# The list of program files is taken from what cmake reports, not from the build folder's
# install_manifest.txt, which another test installing from the same build may rewrite meanwhile.
install_program() {
    cmake --install "$build_dir" --prefix "$prefix" |
        sed -n 's/^-- \(Installing\|Up-to-date\): //p' >"$tmp/program-files"
}
install_program
# A first installation elsewhere, then the real one: reinstalling replaces the earlier files.
XDG_DATA_HOME="$tmp/old" bash "$source_dir/scripts/install-desktop.sh" "$prefix" \
    "$tmp/program-files"
export XDG_DATA_HOME="$tmp/data"
bash "$source_dir/scripts/install-desktop.sh" "$prefix" "$tmp/program-files"
[[ -z "$(find "$tmp/old" -name "$id.*")" ]] || fail "the earlier installation's files stayed"

entry="$XDG_DATA_HOME/applications/$id.desktop"
metainfo="$XDG_DATA_HOME/metainfo/$id.metainfo.xml"
desktop-file-validate "$entry" || fail "desktop-file-validate"
# vCards open with the program, which is handed the file; CSV files are spreadsheets first, so
# the program never becomes their default application.
grep -qx 'MimeType=text/vcard;text/x-vcard;' "$entry" || fail "MimeType"
! grep -q "^text/csv=.*$id.desktop;" "$XDG_DATA_HOME/applications/mimeinfo.cache" ||
    fail "the desktop database offers MERIDOC for CSV files"
grep -q "^text/vcard=.*$id.desktop;" "$XDG_DATA_HOME/applications/mimeinfo.cache" ||
    fail "the desktop database does not offer MERIDOC for vCards"
report="$(appstreamcli validate --no-net "$metainfo")" || fail "appstreamcli: $report"
! grep -E '^[EW]:' <<<"$report" || fail "appstreamcli warns"
for size in 16x16 24x24 32x32 48x48 64x64 128x128 256x256 scalable; do
    ls "$XDG_DATA_HOME/icons/hicolor/$size/apps/$id".* >/dev/null || fail "no $size icon"
done

# Every program the metadata says the package provides is installed.
for binary in $(sed -n 's|.*<binary>\(.*\)</binary>.*|\1|p' "$metainfo"); do
    [[ -x "$prefix/$binary" ]] || fail "the metadata names $binary, which is not installed"
done

# Exec and TryExec, read the way a desktop reads them, name the installed program; Exec hands
# it the file opened.
/usr/bin/python3 - "$entry" "$prefix/meridoc" <<'PY' || fail "Exec"
import os, re, sys
entry, program = sys.argv[1], sys.argv[2]
keys = dict(line.rstrip("\n").split("=", 1) for line in open(entry, encoding="utf-8") if "=" in line)
unescape = lambda v: v.replace("\\\\", "\x00").replace("\\s", " ").replace("\x00", "\\")
def split(line):  # the Exec rules: blanks separate, "..." quotes, \ escapes " ` $ \ inside
    args = re.findall(r'"((?:[^"\\`$]|\\["`$\\])*)"|(\S+)', line)
    return [re.sub(r'\\(.)', r'\1', q) if q or not p else p for q, p in args]
argv = split(unescape(keys["Exec"]).replace("%%", "%"))
assert argv == [program, "%f"], argv
assert unescape(keys["TryExec"]) == program, keys["TryExec"]
assert os.path.isfile(program) and os.access(program, os.X_OK), program
PY

# The companion tool is on PATH, and man finds its manual page.
[[ "$(readlink "$HOME/.local/bin/meridoc-cards")" == "$prefix/meridoc-cards" ]] || fail "no meridoc-cards on PATH"
env -u MANPATH PATH="$HOME/.local/bin:$PATH" man -w meridoc-cards | grep -qx "$HOME/.local/share/man/man1/meridoc-cards.1" ||
    fail "man does not find meridoc-cards"

# The sync timer's units are where the user's systemd finds them, valid (their program and manual
# page found) and not enabled; enabled by hand, the uninstall must disable them.
units="$XDG_DATA_HOME/systemd/user"
wants="$HOME/.config/systemd/user/timers.target.wants/meridoc-cards-sync.timer"
mkdir -m 700 "$tmp/runtime"
report="$(XDG_RUNTIME_DIR="$tmp/runtime" PATH="$HOME/.local/bin:$PATH" env -u MANPATH \
    systemd-analyze verify --user "$units"/meridoc-cards-sync.{timer,service} 2>&1)" &&
    [[ -z "$report" ]] || fail "systemd-analyze: $report"
[[ ! -e "$wants" ]] || fail "the timer was enabled"
mkdir -p "$(dirname "$wants")" && ln -s "$units/meridoc-cards-sync.timer" "$wants"

# The user's files in the program folder, and what was installed.
user_files=(tanro.crd home.CRD JOHNSMITH meridoc.ini MERIDOC.INI notes.odt)
for f in "${user_files[@]}"; do echo "kept" >"$prefix/$f"; done
mapfile -t installed <"$prefix/.meridoc-install-manifest"
[[ ${#installed[@]} -ge 12 ]] || fail "only ${#installed[@]} files recorded"
mkdir -p "$XDG_DATA_HOME/meridoc-sync"
report="$(bash "$source_dir/scripts/uninstall.sh" "$prefix")"
for f in "${installed[@]}" "$prefix/.meridoc-install-manifest" "$wants"; do
    [[ ! -e "$f" && ! -L "$f" ]] || fail "$f was not removed"
    grep -qxF "  $f" <<<"$report" || fail "$f is not listed as removed"
done
for f in "${user_files[@]/#/$prefix/}" "$XDG_DATA_HOME/meridoc-sync/"; do
    grep -qxF "  $f" <<<"$report" || fail "$f is not listed as kept"
done
for f in "${user_files[@]}"; do
    [[ "$(cat "$prefix/$f")" == kept ]] || fail "$f was touched"
done
! grep -qs "$id.desktop" "$XDG_DATA_HOME/applications/mimeinfo.cache" ||
    fail "the desktop database still offers MERIDOC for contact files"
empty="$(find "$XDG_DATA_HOME" -mindepth 1 -type d -empty ! -name meridoc-sync)"
[[ -z "$empty" ]] || fail "folders left empty: $empty"
# With nothing of the user's left in it, the program folder goes too.
rm -f -- "${user_files[@]/#/$prefix/}"
install_program
bash "$source_dir/scripts/install-desktop.sh" "$prefix" "$tmp/program-files"
bash "$source_dir/scripts/uninstall.sh" "$prefix"
[[ ! -e "$prefix" ]] || fail "the empty program folder stayed"
echo "desktop installation: ok"
