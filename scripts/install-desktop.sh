#!/usr/bin/env bash
# Makes an installed MERIDOC known to the desktop, for the current user: the launcher entry, the
# icons and the software-centre metadata go into ${XDG_DATA_HOME:-~/.local/share}, the entry
# starting PREFIX/meridoc; meridoc-cards goes on PATH, its manual page where man finds it and the
# systemd user units of its sync timer where the user's systemd finds them (not enabled). Run
# after `cmake --install BUILD --prefix PREFIX`; pass that build's install_manifest.txt so that
# scripts/uninstall.sh can remove the program files as well.
#
#   bash scripts/install-desktop.sh PREFIX [BUILD/install_manifest.txt]
#
# What was installed is recorded in PREFIX/.meridoc-install-manifest, one absolute path a line.
# Installing again replaces the files of the earlier installation.
set -euo pipefail
source="$(cd "$(dirname "$0")/.." && pwd)"
[[ $# -ge 1 && $# -le 2 ]] || { echo "usage: $0 PREFIX [INSTALL_MANIFEST]" >&2; exit 2; }
prefix="$(cd "$1" && pwd)"
program_manifest="${2:-}"
data="${XDG_DATA_HOME:-$HOME/.local/share}"
mkdir -p "$data"
data="$(cd "$data" && pwd)"
id=org.meridoc.Meridoc
manifest="$prefix/.meridoc-install-manifest"
[[ -x "$prefix/meridoc" ]] || { echo "$0: $prefix/meridoc is not installed" >&2; exit 1; }
case "$prefix" in *$'\n'*) echo "$0: a program folder with a line break is not supported" >&2; exit 1 ;; esac

# Files of an earlier installation that went elsewhere (another XDG_DATA_HOME) are removed first.
if [[ -f "$manifest" ]]; then
    while IFS= read -r old || [[ -n "$old" ]]; do
        case "$(basename "$old")" in "$id".* | meridoc-cards-sync.*) rm -f -- "$old" ;; esac
    done <"$manifest"
fi

# The desktop entry's Exec value: the program's path as one quoted argument, with the escapes
# the desktop entry format asks for (first for the argument, then for the string value).
quoted="${prefix}/meridoc"
quoted="${quoted//\\/\\\\}"
quoted="${quoted//\"/\\\"}"
quoted="${quoted//\`/\\\`}"
quoted="${quoted//\$/\\\$}"
quoted="\"${quoted//%/%%}\""
exec_value="${quoted//\\/\\\\}"
tryexec_value="${prefix//\\/\\\\}/meridoc"

installed=()
put() { # put SOURCE DESTINATION: installs one file, readable by all, and records it
    install -D -m 644 -- "$1" "$2"
    installed+=("$2")
}
entry="$(mktemp)"
trap 'rm -f -- "$entry"' EXIT
# awk reads the values from the environment, where it leaves backslashes alone.
EXEC_VALUE="$exec_value" TRYEXEC_VALUE="$tryexec_value" awk '
    function fill(key, value,    i) {
        i = index($0, key)
        if (i) $0 = substr($0, 1, i - 1) value substr($0, i + length(key))
    }
    { fill("@EXEC@", ENVIRON["EXEC_VALUE"]); fill("@TRYEXEC@", ENVIRON["TRYEXEC_VALUE"]); print }' \
    "$source/desktop/$id.desktop.in" >"$entry"
put "$entry" "$data/applications/$id.desktop"
put "$source/desktop/$id.metainfo.xml" "$data/metainfo/$id.metainfo.xml"
put "$source/resources/icons/$id.svg" "$data/icons/hicolor/scalable/apps/$id.svg"
for size in 16 24 32 48 64 128 256; do
    put "$source/resources/icons/${size}x${size}/$id.png" "$data/icons/hicolor/${size}x${size}/apps/$id.png"
done

# The companion tool on the user's PATH (a link to the program folder's, in ~/.local/bin, which
# Debian's login profile puts on PATH) and its manual where `man meridoc-cards` finds it (man
# looks beside the bin folders of PATH).
if [[ -x "$prefix/meridoc-cards" ]]; then
    mkdir -p "$HOME/.local/bin"
    ln -sfn -- "$prefix/meridoc-cards" "$HOME/.local/bin/meridoc-cards"
    installed+=("$HOME/.local/bin/meridoc-cards")
fi
if [[ -f "$prefix/meridoc-cards.1" ]]; then
    put "$prefix/meridoc-cards.1" "$HOME/.local/share/man/man1/meridoc-cards.1"
fi
# The timer that runs `meridoc-cards sync` every quarter of an hour, where the user's systemd
# looks for the units of installed programs; the user enables it.
if [[ -x "$prefix/meridoc-cards" ]]; then
    for unit in meridoc-cards-sync.service meridoc-cards-sync.timer; do
        put "$source/desktop/$unit" "$data/systemd/user/$unit"
    done
fi

# The record: the program files cmake installed, then the desktop's files.
{
    if [[ -n "$program_manifest" ]]; then
        cat -- "$program_manifest"
        [[ -z "$(tail -c 1 -- "$program_manifest")" ]] || echo
    fi
    printf '%s\n' "${installed[@]}"
} >"$manifest.tmp"
mv -f -- "$manifest.tmp" "$manifest"

# The desktop picks the new files up at once where its caches are kept up to date.
if command -v update-desktop-database >/dev/null; then
    update-desktop-database -q "$data/applications" || true
fi
if command -v gtk-update-icon-cache >/dev/null; then
    gtk-update-icon-cache -q -f -t "$data/icons/hicolor" || true
fi
# A running user manager reads the units again (without one, nothing to do).
systemctl --user daemon-reload >/dev/null 2>&1 || true
