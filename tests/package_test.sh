#!/usr/bin/env bash
# The Debian package, as a user gets it: built by ./scripts/package, clean
# under lintian, holding the files it should, with a valid menu entry and
# metadata and one version throughout; installed with apt, started by an
# ordinary user (who cannot write /usr/bin, so the log goes to that user's
# state folder), and purged without a trace. Whatever the lane installed goes
# again, so the machine is left as it was found.
#
#   tests/package_test.sh SOURCE_DIR
set -euo pipefail
cd "$1"
. scripts/lib.sh
fail() { echo "FAIL: $*"; exit 1; }
sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
app_id=org.varnel.Varnel

log=$(mktemp)
if ! deb=$(./scripts/package 2>&1 | tee "$log" | tail -n 1) || [ ! -f "$deb" ]; then
    tail -n 80 "$log"
    fail "./scripts/package failed (its last 80 lines above)"
fi
rm -f "$log"
lintian --fail-on error,warning "$deb" 2>&1 | grep -v 'running with root privileges' || true
lintian --fail-on error,warning "$deb" >/dev/null 2>&1 || fail "lintian reports errors or warnings"
echo "ok: lintian passes $(basename "$deb")"

# The files.
listing=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|')
for f in /usr/bin/varnel /usr/share/applications/$app_id.desktop \
    /usr/share/metainfo/$app_id.metainfo.xml /usr/share/man/{,ja/}man1/varnel.1.gz \
    /usr/share/doc/varnel/copyright /usr/share/icons/hicolor/{16x16,32x32,48x48,128x128}/apps/$app_id.png; do
    grep -qx -- "$f" <<<"$listing" || fail "the package lacks $f"
done
work=$(mktemp -d)
chmod 755 "$work"
installed_before=$(dpkg-query -W -f '${Package}\n' | sort)
cleanup() {
    if dpkg -s varnel >/dev/null 2>&1; then "${sudo[@]}" apt-get purge -y -q varnel >/dev/null; fi
    local added
    added=$(comm -13 <(echo "$installed_before") <(dpkg-query -W -f '${Package}\n' | sort))
    # shellcheck disable=SC2086 # one word a package
    [ -z "$added" ] || "${sudo[@]}" apt-get purge -y -q $added >/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
dpkg-deb -x "$deb" "$work/root"
desktop-file-validate "$work/root/usr/share/applications/$app_id.desktop" || fail "menu entry"
appstreamcli validate --no-net "$work/root/usr/share/metainfo/$app_id.metainfo.xml" >/dev/null ||
    fail "AppStream metadata"
echo "ok: the files, the menu entry and the metadata"
# Before the package is installed, so that only the catalogue can find it.
"${sudo[@]}" bash tests/catalogue.sh "$deb"

# One version: CMake's, the package's, the changelog's and the metadata's.
version=$(sed -n 's/^project(varnel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
release=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' \
    "$work/root/usr/share/metainfo/$app_id.metainfo.xml")
for v in "$(dpkg-deb -f "$deb" Version)" "$(dpkg-parsechangelog -S Version)" "$release"; do
    [ "$v" = "$version" ] || fail "version $v where CMake says $version"
done
echo "ok: version $version throughout"

# Installed, and run by an ordinary user.
dpkg -s varnel >/dev/null 2>&1 && fail "varnel is already installed here; the lane will not replace it"
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    "$deb" >/dev/null
[ -x /usr/bin/varnel ] || fail "not installed"
home=$work/home
mkdir -m 755 "$home"
"${sudo[@]}" chown nobody:nogroup "$home"
state=$home/.local/state/Varnel
"${sudo[@]}" setpriv --reuid=nobody --regid=nogroup --clear-groups \
    env -i HOME="$home" PATH=/usr/bin:/bin QT_QPA_PLATFORM=offscreen /usr/bin/varnel \
    >"$work/out" 2>&1 &
pid=$!
opened() { iconv -f CP932 "$state/Varnel.LOG" 2>/dev/null | grep -q 'プログラム起動　'; }
for _ in $(seq 100); do opened && break; sleep 0.1; done
opened || { cat "$work/out"; fail "no opening line in $state/Varnel.LOG"; }
"${sudo[@]}" kill -TERM "$pid" # setpriv and env exec: the program itself, or sudo, which passes it on
wait "$pid" || true
iconv -f CP932 "$state/Varnel.LOG" | grep -q 'プログラム終了　' || fail "no closing line"
[ ! -e /usr/bin/Varnel.LOG ] || fail "a log in /usr/bin"
[ "$(stat -c %a "$state")" = 700 ] && [ "$(stat -c %a "$home/.local/state")" = 700 ] ||
    fail "the state folders are not private"
echo "ok: installed, and an ordinary user's log is in ~/.local/state/Varnel"

# The manual in English and in Japanese, as man finds them, without a word
# from groff.
for lang in "C|User Commands" "ja|ユーザーコマンド"; do
    IFS='|' read -r lang heading <<<"$lang"
    said=$(LANG=C.UTF-8 MANWIDTH=80 man --warnings -L "$lang" varnel 2>&1) || fail "man -L $lang varnel"
    grep -q "^VARNEL(1) .*$heading" <<<"$said" && ! grep -q 'troff' <<<"$said" ||
        fail "man -L $lang varnel: $said"
done
echo "ok: man -L ja varnel shows the Japanese manual, and the English one is there too"

# Purged: nothing of the package is left.
"${sudo[@]}" apt-get purge -y -q varnel >/dev/null
! dpkg -s varnel >/dev/null 2>&1 || fail "still installed"
for f in $(grep -v '/$' <<<"$listing"); do
    [ -d "$f" ] || [ ! -e "$f" ] || fail "$f left after purge"
done
echo "ok: purged without a trace"
