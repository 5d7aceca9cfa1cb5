#!/usr/bin/env bash
# Removes what scripts/run.sh installed: the program files in the program folder (default
# ~/meridoc, or MERIDOC_HOME, or the folder given), the launcher entry, icons and metadata in
# the user's data folder, meridoc-cards' link on PATH, its manual page and its sync timer's units
# (stopped and disabled first), exactly as recorded in the folder's .meridoc-install-manifest.
# Card files, extra texts, meridoc.ini and anything else in the folder stay; the folder itself is
# removed only when nothing is left in it, and so are the folders the removal left empty. It lists
# what it removed and what it kept.
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
emptied=()
echo "Removed:"
# The sync timer, when the user enabled it, is stopped and disabled before its units go (systemctl
# removes the link that enabled it even without a running user manager; failing that, we do).
timer=meridoc-cards-sync.timer
wants="${XDG_CONFIG_HOME:-$HOME/.config}/systemd/user/timers.target.wants/$timer"
if grep -q "/systemd/user/$timer\$" "$record"; then
    enabled=false
    [[ ! -L "$wants" ]] || enabled=true
    { systemctl --user disable --now "$timer" && systemctl --user clean --what=state "$timer"; } \
        >/dev/null 2>&1 || true
    rm -f -- "$wants"
    ! $enabled || echo "  $wants"
fi
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
        */systemd/user/meridoc-cards-sync.service | */systemd/user/"$timer") ;;
        /*) [[ "$name" == "$id".* ]] || continue ;;
        *) continue ;;
    esac
    [[ -f "$path" || -L "$path" ]] || continue
    rm -f -- "$path"
    echo "  $path"
    case "$path" in
        "$prefix"/*) ;;
        *) emptied+=("$(dirname -- "$path")") ;;
    esac
    case "$path" in
        */applications/"$id".desktop) desktop_dirs+=("$(dirname -- "$path")") ;;
        */icons/hicolor/*/apps/"$id".*) icon_themes+=("${path%/*/apps/*}") ;;
    esac
done <"$record"
if [[ -f "$manifest" ]]; then
    rm -f -- "$manifest"
    echo "  $manifest"
fi

# The desktop forgets the removed files where its caches are kept up to date.
if command -v update-desktop-database >/dev/null; then
    for d in "${desktop_dirs[@]}"; do update-desktop-database -q "$d" || true; done
fi
if command -v gtk-update-icon-cache >/dev/null && [[ ${#icon_themes[@]} -gt 0 ]]; then
    gtk-update-icon-cache -q -f -t "${icon_themes[0]}" || true
fi
systemctl --user daemon-reload >/dev/null 2>&1 || true

# The folders that held only what was removed (icons/hicolor/48x48/apps, then 48x48, ...) go too,
# up to the icons, applications, metainfo and systemd folders themselves; the data folder stays.
for dir in "${emptied[@]}"; do
    while [[ "$dir" == */icons || "$dir" == */icons/* || "$dir" == */applications ||
        "$dir" == */metainfo || "$dir" == */systemd || "$dir" == */systemd/user ]] &&
        rmdir -- "$dir" 2>/dev/null; do
        echo "  $dir/"
        dir="$(dirname -- "$dir")"
    done
done

# What stays: everything of the user's in the program folder, and the sync folder.
kept=()
if [[ -d "$prefix" ]]; then
    while IFS= read -r -d '' path; do kept+=("$path"); done < <(
        find "$prefix" -mindepth 1 -maxdepth 1 -print0 | sort -z)
fi
sync_folder="${XDG_DATA_HOME:-$HOME/.local/share}/meridoc-sync"
[[ ! -d "$sync_folder" ]] || kept+=("$sync_folder/")
if [[ ${#kept[@]} -gt 0 ]]; then
    echo "Kept (card files, extra texts, meridoc.ini, the sync folder and anything else of yours):"
    printf '  %s\n' "${kept[@]}"
else
    echo "Kept: nothing"
fi
rmdir -- "$prefix" 2>/dev/null && echo "Removed the empty folder $prefix/" || true
