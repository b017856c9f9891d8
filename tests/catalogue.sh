#!/usr/bin/env bash
# The package as a software centre shows it: the catalogue a distribution
# composes from it, searched under a Japanese locale for the words a user
# would type. It needs root: appstreamcli reads only the system's catalogue
# folders (Debian 12's ignores --datapath), so the search runs in a mount
# namespace of its own where /var/cache/swcatalog holds this catalogue alone.
#
#   tests/catalogue.sh DEB
set -euo pipefail
deb=$(realpath "$1")
cd "$(dirname "$0")/.."
. scripts/lib.sh
ensure_packages appstream-compose locales mount
fail() { echo "FAIL: catalogue: $*"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/root"
appstreamcli compose --no-net --origin=varnel --result-root="$work/out" "$work/root" >/dev/null ||
    fail "appstreamcli compose"
catalogue=$work/out/usr/share/swcatalog/xml/varnel.xml.gz
# A paragraph broken over lines shows a stray space at each break in Japanese.
! zcat "$catalogue" | grep -q '<p>[^<]*$' || fail "a paragraph breaks inside: $(zcat "$catalogue")"
localedef -i ja_JP -f UTF-8 "$work/ja_JP.UTF-8" 2>/dev/null || [ -d "$work/ja_JP.UTF-8" ] ||
    fail "no Japanese locale"
unshare --mount --propagation private -- bash -euc '
    work=$1 catalogue=$2
    mount -t tmpfs -o mode=755 catalogue /var/cache
    mkdir -p /var/cache/swcatalog/xml
    cp "$catalogue" /var/cache/swcatalog/xml/
    for word in スケジュール 時刻 起動 毎日; do
        LOCPATH=$work LANG=ja_JP.UTF-8 appstreamcli search --cachepath "$work/cache" --no-cache \
            "$word" | grep -q ": org\.varnel\.Varnel \[" ||
            { echo "FAIL: catalogue: $word does not find Varnel"; exit 1; }
    done' catalogue "$work" "$catalogue"
echo "ok: the composed catalogue, its paragraphs whole, finds Varnel for スケジュール, 時刻, 起動 and 毎日"
