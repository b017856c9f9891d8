#!/usr/bin/env bash
# Installs into a temporary home and checks every file and entry, then
# uninstalls and checks that only the program's own files went.
set -euo pipefail
src=$1
build=$2
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

for prefix in "" "$home/My Apps/va\$rnel"; do
    args=(--autostart --build-dir "$build")
    [ -n "$prefix" ] && args+=(--prefix "$prefix")
    HOME=$home XDG_DATA_HOME= XDG_CONFIG_HOME= "$src/scripts/install" "${args[@]}" >/dev/null
    dest=${prefix:-$home/.local/opt/varnel}
    [ -x "$dest/varnel" ] || fail "no program in $dest"
    for size in 16 32 48 128; do
        [ -f "$home/.local/share/icons/hicolor/${size}x$size/apps/org.varnel.Varnel.png" ] || fail "icon $size"
    done
    for entry in "$home/.local/share/applications/org.varnel.Varnel.desktop" \
        "$home/.config/autostart/org.varnel.Varnel.desktop"; do
        [ -f "$entry" ] || fail "no $entry"
        desktop-file-validate "$entry" || fail "invalid $entry"
        # What a desktop runs for Exec: the one quoted argument, unescaped.
        exec_line=$(sed -n 's/^Exec=//p' "$entry")
        argv=$(printf '%s' "$exec_line" | python3 -c '
import re, sys
line = sys.stdin.read().replace("\\\\", "\\")  # the string escape of the file
m = re.fullmatch(r"\"((?:[^\"\\`$]|\\[\"\\`$])*)\"", line)
print(re.sub(r"\\(.)", r"\1", m.group(1)) if m else "<not one quoted argument>")')
        [ "$argv" = "$dest/varnel" ] || fail "Exec runs '$argv'"
    done

    # The user's own files stay.
    echo "log" >"$dest/Varnel.LOG"
    mkdir -p "$home/.config/Varnel" && echo "x" >"$home/.config/Varnel/Varnel.conf"
    HOME=$home "$src/scripts/uninstall" ${prefix:+--prefix "$prefix"} >/dev/null
    [ ! -e "$dest/varnel" ] || fail "program left"
    [ ! -e "$home/.local/share/applications/org.varnel.Varnel.desktop" ] || fail "menu entry left"
    [ ! -e "$home/.config/autostart/org.varnel.Varnel.desktop" ] || fail "autostart entry left"
    [ -z "$(find "$home/.local/share/icons" -name org.varnel.Varnel.png)" ] || fail "icons left"
    [ -f "$dest/Varnel.LOG" ] || fail "log removed"
    [ -f "$home/.config/Varnel/Varnel.conf" ] || fail "settings removed"
    rm -f "$dest/Varnel.LOG"
    echo "ok: install and uninstall ${prefix:-(default prefix)}"
done
