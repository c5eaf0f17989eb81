#!/bin/bash
# The Debian package made from this build, unpacked into a temporary root (never installed):
# its contents, the programs started through /usr/bin from that root, the desktop files, the
# one version everywhere, and an installation tree with files missing.
# usage: TestPackage.sh BUILD_DIR VERSION
set -u
BUILD=$1
VERSION=$2
TMP=$(mktemp -d /tmp/kelvane-package.XXXXXX)
SIM_PID=
cleanup() {
    [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null
    rm -rf "$TMP"
}
trap cleanup EXIT

FAILED=0
fail() {
    echo "FAIL: $*"
    FAILED=1
}
# expect TEXT-TO-FIND FILE-OR-OUTPUT DESCRIPTION
contains() {
    grep -qF -- "$1" <<<"$2" || fail "$3: \"$1\" not in: $(head -c 600 <<<"$2")"
}
lacks() {
    grep -qF -- "$1" <<<"$2" && fail "$3: \"$1\" in: $(head -c 600 <<<"$2")"
}

for tool in cpack dpkg-deb lintian desktop-file-validate appstreamcli man iconv; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool missing (make deps installs it)"; exit 1; }
done
[ -f /usr/share/bash-completion/bash_completion ] || { echo "FAIL: bash-completion missing"; exit 1; }

# --- the package -------------------------------------------------------------------------------
cpack --config "$BUILD/CPackConfig.cmake" -G DEB -B "$TMP/out" >"$TMP/cpack.log" 2>&1 ||
    { cat "$TMP/cpack.log"; echo "FAIL: cpack"; exit 1; }
DEB="$TMP/out/kelvane_${VERSION}_amd64.deb"
[ -f "$DEB" ] || { ls "$TMP/out"; echo "FAIL: no $DEB"; exit 1; }

[ "$(dpkg-deb -f "$DEB" Version)" = "$VERSION" ] || fail "control Version is not $VERSION"
[ "$(dpkg-deb -f "$DEB" Architecture)" = amd64 ] || fail "control Architecture"
DEPENDS=$(dpkg-deb -f "$DEB" Depends)
# Computed from the binaries: the C library and Qt's widgets at least.
for lib in libc6 libstdc++6 libqt6widgets6 libqt6gui6; do
    contains "$lib" "$DEPENDS" "Depends"
done

# Every path a technician's system relies on, and the kind of entry it must be.
LISTING=$(dpkg-deb -c "$DEB")
while read -r kind path; do
    line=$(grep -E " \./${path//./\\.}( ->|$)" <<<"$LISTING")
    if [ -z "$line" ]; then
        fail "not in the package: /$path"
        continue
    fi
    case $kind in
    exe) [[ $line == -rwxr-xr-x* ]] || fail "/$path is not an executable file: $line" ;;
    file) [[ $line == -rw-r--r--* ]] || fail "/$path is not a plain 0644 file: $line" ;;
    link) [[ $line == *" -> ../lib/kelvane/"* ]] || fail "/$path is not a relative link: $line" ;;
    esac
    [[ $line == *" root/root "* ]] || fail "/$path not owned by root: $line"
done <<'EOF'
exe usr/lib/kelvane/kelvane
exe usr/lib/kelvane/kelvane-cli
exe usr/lib/kelvane/kelvane-sim
link usr/bin/kelvane
link usr/bin/kelvane-cli
link usr/bin/kelvane-sim
file usr/lib/kelvane/Torvex Transmissions_R4.ini
file usr/lib/kelvane/Torvex Kelvane_R4.ini
file usr/lib/kelvane/BL.hex
file usr/lib/kelvane/language/german.csv
file usr/lib/kelvane/language/english.csv
file usr/lib/kelvane/templates/Torvex.html
file usr/lib/kelvane/doc/manual.pdf
file usr/share/applications/de.nork.kelvane.desktop
file usr/share/icons/hicolor/scalable/apps/de.nork.kelvane.svg
file usr/share/icons/hicolor/256x256/apps/de.nork.kelvane.png
file usr/share/metainfo/de.nork.kelvane.metainfo.xml
file usr/share/man/man1/kelvane.1.gz
file usr/share/man/man1/kelvane-cli.1.gz
file usr/share/man/man1/kelvane-sim.1.gz
file usr/share/bash-completion/completions/kelvane-cli
file usr/share/doc/kelvane/copyright
file usr/share/doc/kelvane/changelog.gz
EOF
# The shipped firmware and factory settings folders come along whole.
for d in firmware/SUPV factorySettings; do
    grep -q " \./usr/lib/kelvane/$d/" <<<"$LISTING" || fail "folder $d missing"
done
if [ -f "$(dirname "$0")/../../data/udev/60-kelvane.rules" ]; then
    grep -q " \./usr/lib/udev/rules.d/60-kelvane.rules$" <<<"$LISTING" || fail "udev rule missing"
fi
# Nothing of the build itself (tests, benchmarks, tools) and no user file.
grep -E "bench_|test_|tool_|UserData" <<<"$LISTING" && fail "build files in the package"

# --- unpacked root -----------------------------------------------------------------------------
ROOT="$TMP/root"
dpkg-deb -x "$DEB" "$ROOT" || { echo "FAIL: dpkg-deb -x"; exit 1; }
export HOME="$TMP/home" XDG_DATA_HOME="$TMP/home/data" XDG_CONFIG_HOME="$TMP/home/config"
export XDG_DOCUMENTS_DIR="$TMP/home/Documents" XDG_RUNTIME_DIR="$TMP/home/runtime"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=offscreen
BIN="$ROOT/usr/bin"
# Only the unpacked programs: a stray build or system copy must not answer for them.
export PATH="$BIN:/usr/bin:/bin"

# One version: the package's name and control field (above), every program, the manual pages.
for p in kelvane-cli kelvane-sim kelvane; do
    out=$("$BIN/$p" --version 2>&1) || fail "$p --version exits $?: $out"
    [ "$(head -n 1 <<<"$out")" = "$p $VERSION" ] || fail "$p --version says \"$out\""
    zcat "$ROOT/usr/share/man/man1/$p.1.gz" | head -n 1 | grep -q "^\.TH .* $VERSION\"" ||
        fail "manual page of $p does not carry $VERSION"
done
out=$("$BIN/kelvane" --help 2>&1) || fail "kelvane --help exits $?"
contains "usage: kelvane" "$out" "kelvane --help"

out=$("$BIN/kelvane-cli" show --default 2>&1) || fail "show --default exits $?: $out"
contains "format = default image" "$out" "show --default"

# A read from a simulated machine started from the same root.
"$BIN/kelvane-sim" --no-pacing --state "$TMP/state" >"$TMP/sim.out" 2>"$TMP/sim.err" &
SIM_PID=$!
for _ in $(seq 100); do
    [ -s "$TMP/sim.out" ] && break
    sleep 0.1
done
DEV=$(head -n 1 "$TMP/sim.out")
[ -n "$DEV" ] || { cat "$TMP/sim.err"; echo "FAIL: kelvane-sim printed no device"; exit 1; }
out=$("$BIN/kelvane-cli" read --port "$DEV" "$TMP/machine.bin" 2>&1) || fail "read exits $?: $out"
[ "$(stat -c %s "$TMP/machine.bin" 2>/dev/null)" = 512 ] || fail "read wrote no 512-byte image"
# The catalog found through the link in /usr/bin: no message about an undefined machine.
out=$("$BIN/kelvane-cli" show "$TMP/machine.bin" 2>&1) || fail "show of the read image exits $?"
grep -q "nicht definiert" <<<"$out" && fail "the catalog in the root was not used: $out"
# The report carries the same version line as the about box.
"$BIN/kelvane-cli" report --out "$TMP/report" "$TMP/machine.bin" >/dev/null 2>"$TMP/report.err" ||
    fail "report exits: $(cat "$TMP/report.err")"
iconv -f UTF-16LE -t UTF-8 "$TMP/report/Torvex.html" 2>/dev/null | grep -q "Torvex Kelvane  Version $VERSION" ||
    grep -q "Torvex Kelvane  Version $VERSION" "$TMP/report/Torvex.html" ||
    fail "report lacks \"Torvex Kelvane  Version $VERSION\""

# The usage lines are the one source of the synopsis and the completion: every command that
# reaches a machine takes the session's options, restore too.
HELP=$("$BIN/kelvane-cli" --help)
PAGE=$(zcat "$ROOT/usr/share/man/man1/kelvane-cli.1.gz")
for c in read write restore firmware diff; do
    line=$(grep "^  kelvane-cli $c " <<<"$HELP")
    contains "--language NAME" "$line" "help line of $c"
    contains "$(sed 's/-/\\-/g' <<<"$line")" "$PAGE" "synopsis of $c in the manual page"
done
# The manual pages say what the package holds.
contains "chosen entry of the port list" "$PAGE" "kelvane-cli(1) on --port"
lacks "first adapter" "$PAGE" "kelvane-cli(1) on --port"
PAGE=$(zcat "$ROOT/usr/share/man/man1/kelvane.1.gz")
for d in "$ROOT"/usr/lib/kelvane/*/; do
    contains "\"$(basename "$d")\"" "$PAGE" "kelvane(1) on the installation tree"
done
for d in configurations templates firmware factorySettings language doc; do
    [ -d "$ROOT/usr/lib/kelvane/$d" ] ||
        lacks "\"$d\"" "$PAGE" "kelvane(1) names a folder the package does not ship"
done

# Shell completion of kelvane-cli: commands and a command's options from its own --help.
complete_words() {
    bash -c 'source /usr/share/bash-completion/bash_completion
        source "$1/usr/share/bash-completion/completions/kelvane-cli"
        shift
        COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
        COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
        _kelvane_cli; echo "${COMPREPLY[*]}"' _ "$ROOT" "$@"
}
while IFS='|' read -r line want; do
    # shellcheck disable=SC2086
    contains "$want" "$(complete_words $line)" "completion of \"$line\""
done <<'EOF'
kelvane-cli re|read report
kelvane-cli sh|sha1 show
kelvane-cli write --ve|--verify
kelvane-cli read --|--language --no-backup --port --quiet --trace
kelvane-cli restore --|--language
EOF
# Files only where the command takes files; after --port the port list and serial devices.
mkdir -p "$TMP/cwd" && touch "$TMP/cwd/image.bin"
out=$(cd "$TMP/cwd" && complete_words kelvane-cli show "")
contains "image.bin" "$out" "completion of \"show\""
out=$(complete_words kelvane-cli read --language "")
contains "english german" "$out" "completion of --language"
out=$(cd "$TMP/cwd" && complete_words kelvane-cli history "")
[ "$out" = "check show" ] || fail "completion after \"history\" offers \"$out\", not just its words \"check show\""
out=$(cd "$TMP/cwd" && complete_words kelvane-cli password --old "")
[ -z "$out" ] || fail "completion of a password offers \"$out\""
out=$(complete_words kelvane-cli read --port "")
contains "$DEV" "$out" "completion of --port (the simulated machine in the port list)"
for dev in /dev/ttyS0 /dev/ttyUSB0 /dev/ttyACM0; do
    [ -e "$dev" ] && contains "$dev" "$out" "completion of --port"
done

# --- desktop files -----------------------------------------------------------------------------
DESKTOP="$ROOT/usr/share/applications/de.nork.kelvane.desktop"
out=$(desktop-file-validate "$DESKTOP" 2>&1)
[ $? -eq 0 ] && [ -z "$out" ] || fail "desktop-file-validate: $out"
exe=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$DESKTOP")
[ -x "$BIN/$exe" ] || fail "desktop entry starts \"$exe\", not in /usr/bin"
out=$(appstreamcli validate --no-net "$ROOT/usr/share/metainfo/de.nork.kelvane.metainfo.xml" 2>&1) ||
    fail "appstreamcli validate: $out"
contains "version=\"$VERSION\"" "$(cat "$ROOT/usr/share/metainfo/de.nork.kelvane.metainfo.xml")" "metainfo release"
# PNG width and height: the first two numbers of the IHDR chunk.
size=$(od -An -tu1 -j16 -N8 "$ROOT/usr/share/icons/hicolor/256x256/apps/de.nork.kelvane.png" | tr -s ' ')
[ "$size" = " 0 0 1 0 0 0 1 0" ] || fail "the PNG icon is not 256 x 256: $size"
for p in kelvane kelvane-cli kelvane-sim; do
    out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$ROOT/usr/share/man/man1/$p.1.gz" 2>&1 >/dev/null)
    [ -z "$out" ] || fail "manual page of $p: $out"
done

# --- an installation tree with files missing ------------------------------------------------------
LIB="$ROOT/usr/lib/kelvane"
# The loader gone: the read fails, names the file, and writes nothing.
mv "$LIB/BL.hex" "$TMP/BL.hex"
out=$("$BIN/kelvane-cli" read --port "$DEV" "$TMP/noloader.bin" 2>&1) && fail "read without the loader succeeded"
contains "BL.hex" "$out" "read without the loader"
[ -e "$TMP/noloader.bin" ] && fail "read without the loader wrote a file"
mv "$TMP/BL.hex" "$LIB/BL.hex"
# A language file gone: German stays, the missing file is named.
mv "$LIB/language/english.csv" "$TMP/english.csv"
out=$("$BIN/kelvane-cli" translate --language english "Version" 2>&1) && fail "translate without english.csv succeeded"
contains "english.csv" "$out" "translate without the language file"
mv "$TMP/english.csv" "$LIB/language/english.csv"
# The catalog gone (and then unreadable): the image is still listed, the catalog is named.
mv "$LIB/Torvex Transmissions_R4.ini" "$TMP/catalog.ini"
out=$("$BIN/kelvane-cli" show "$TMP/machine.bin" 2>&1) || true
contains "format = parameter image" "$out" "show without the catalog"
contains "Torvex Transmissions_R4.ini" "$out" "show without the catalog"
mkdir "$LIB/Torvex Transmissions_R4.ini"
out=$("$BIN/kelvane-cli" show "$TMP/machine.bin" 2>&1) || true
contains "format = parameter image" "$out" "show with an unreadable catalog"
contains "Torvex Transmissions_R4.ini" "$out" "show with an unreadable catalog"
rmdir "$LIB/Torvex Transmissions_R4.ini"
mv "$TMP/catalog.ini" "$LIB/Torvex Transmissions_R4.ini"

# The window, with all three gone and English chosen: it still comes up and reads the machine,
# and says which files are missing.
mv "$LIB/BL.hex" "$TMP/BL.hex"
mv "$LIB/language/english.csv" "$TMP/english.csv"
mv "$LIB/Torvex Transmissions_R4.ini" "$TMP/catalog.ini"
SETTINGS="$XDG_DATA_HOME/Nork/TorvexV4/Torvex Kelvane_R4.ini"
mkdir -p "$(dirname "$SETTINGS")"
printf '[COM_PORT]\r\nCOMPORT=1\r\n[SETTINGS]\r\nSPRACHE=english\r\n' >"$SETTINGS"
out=$(timeout 60 "$BIN/kelvane" --port "$DEV" --read --screenshot "$TMP/window.png" 2>&1) ||
    fail "window with files missing exits $?: $out"
[ -s "$TMP/window.png" ] || fail "window with files missing saved no picture"
for f in "Torvex Transmissions_R4.ini" english.csv BL.hex; do
    contains "$f" "$out" "window with files missing"
done
mv "$TMP/BL.hex" "$LIB/BL.hex"
mv "$TMP/english.csv" "$LIB/language/english.csv"
mv "$TMP/catalog.ini" "$LIB/Torvex Transmissions_R4.ini"

# --- lintian -----------------------------------------------------------------------------------
if [ "${KELVANE_LINTIAN:-1}" = 1 ]; then
    out=$(lintian --fail-on error "$DEB" 2>&1) || fail "lintian: $out"
    echo "$out"
fi

[ $FAILED = 0 ] && echo "package test passed"
exit $FAILED
