#!/usr/bin/env bash
# Removes what scripts/run.sh installed: the program files in the program folder (default
# ~/meridoc, or MERIDOC_HOME, or the folder given), the launcher entry, icons and metadata in
# the user's data folder, and meridoc-cards' link on PATH and its manual page, exactly as recorded in the folder's .meridoc-install-manifest.
# Card files, extra texts, meridoc.ini and anything else in the folder stay; the folder itself is
# removed only when nothing is left in it.
#
#   bash scripts/uninstall.sh [PREFIX]
set -euo pipefail
[[ $# -le 1 ]] || { echo "usage: $0 [PREFIX]" >&2; exit 2; }
prefix="${1:-${MERIDOC_HOME:-$HOME/meridoc}}"
[[ -d "$prefix" ]] || { echo "$0: $prefix: no such folder" >&2; exit 1; }
prefix="$(cd "$prefix" && pwd)"
manifest="$prefix/.meridoc-install-manifest"
record="$manifest"
if [[ ! -f "$record" ]]; then
    # An installation made before the record was kept: the release build's own list of the
    # program files it installed.
    record="$(dirname "$0")/../build-release/install_manifest.txt"
    [[ -f "$record" ]] || { echo "$0: $manifest: nothing recorded, nothing removed" >&2; exit 1; }
fi
id=org.meridoc.Meridoc

desktop_dirs=()
icon_themes=()
while IFS= read -r path || [[ -n "$path" ]]; do
    [[ -n "$path" ]] || continue
    name="$(basename -- "$path")"
    # Only what an installation writes: the program's files below the folder (never its
    # configuration) and the desktop's files named after the program.
    case "$path" in
        "$prefix"/*) [[ "$name" != [Mm][Ee][Rr][Ii][Dd][Oo][Cc].[Ii][Nn][Ii] ]] || continue ;;
        # The companion tool's link on PATH, while it still points here, and its manual page.
        */.local/bin/meridoc-cards)
            [[ -L "$path" && "$(readlink -- "$path")" == "$prefix/meridoc-cards" ]] || continue ;;
        */.local/share/man/man1/meridoc-cards.1) ;;
        /*) [[ "$name" == "$id".* ]] || continue ;;
        *) continue ;;
    esac
    [[ -f "$path" || -L "$path" ]] || continue
    rm -f -- "$path"
    case "$path" in
        */applications/"$id".desktop) desktop_dirs+=("$(dirname -- "$path")") ;;
        */icons/hicolor/*/apps/"$id".*) icon_themes+=("${path%/*/apps/*}") ;;
    esac
done <"$record"
rm -f -- "$manifest"
rmdir -- "$prefix" 2>/dev/null || true

if command -v update-desktop-database >/dev/null; then
    for d in "${desktop_dirs[@]}"; do update-desktop-database -q "$d" || true; done
fi
if command -v gtk-update-icon-cache >/dev/null && [[ ${#icon_themes[@]} -gt 0 ]]; then
    gtk-update-icon-cache -q -f -t "${icon_themes[0]}" || true
fi
