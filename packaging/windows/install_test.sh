#!/usr/bin/env bash
# Checks the Windows installer as a user meets it, under wine in the prefix $WINEPREFIX (a fresh
# one: the check compares its drive C before and after): a silent install, the installed
# flintgate-cli run, the files, the Start-menu shortcut and the uninstall entry, a silent
# uninstall, and nothing left behind.
#   WINEPREFIX=... packaging/windows/install_test.sh SETUP.exe BUILD_DIR
# BUILD_DIR is the windows build the installer was made from: its programs are what must be
# installed, byte for byte.
set -euo pipefail
SETUP=$(realpath "$1")
BUILD=$(realpath "$2")
SOURCE=$(cd "$(dirname "$0")/../.." && pwd)
WINE=${WINE:-/usr/lib/wine/wine64}
WINESERVER=$(dirname "$WINE")/wineserver
: "${WINEPREFIX:?set WINEPREFIX to a fresh wine prefix}"
FAILURES=0
fail() { echo "FAIL: $*" >&2; FAILURES=$((FAILURES + 1)); }
pass() { echo "ok: $*"; }
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
run_wine() { "$WINE" "$@" 2>/dev/null | tr -d '\r'; }

DRIVE=$WINEPREFIX/drive_c
INSTDIR=$DRIVE/Program\ Files/Flintgate
MENU=$DRIVE/ProgramData/Microsoft/Windows/Start\ Menu/Programs
KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Flintgate'
VERSION=$(sed -n 's/^project(Flintgate VERSION \([0-9.]*\).*/\1/p' "$SOURCE/CMakeLists.txt")
SCRATCH=$(mktemp -d)
trap 'rm -rf "$SCRATCH"' EXIT

# What this build must install: the CLI, the help file, the guide and the uninstaller, and the
# window and the simulator when the build made them.
declare -A FROM=(
  [flintgate-cli.exe]=$BUILD/cli/flintgate-cli.exe
  [FlintgateHelp_204.chm]=$BUILD/resources/help/FlintgateHelp_204.chm
  [FlintgateHelp_204.html]=$SOURCE/resources/help/FlintgateHelp_204.html
)
for program in flintgate.exe flintgate-sim.exe; do
  built=$(find "$BUILD" -name "$program" -not -path "$BUILD/package/*" -not -path '*/CMakeFiles/*' | head -n 1)
  [ -n "$built" ] && FROM[$program]=$built
done
if [ -n "${FROM[flintgate.exe]:-}" ]; then
  SHORTCUT="$MENU/Flintgate.lnk" TARGET='C:\Program Files\Flintgate\flintgate.exe'
else
  SHORTCUT="$MENU/Flintgate User Guide.lnk" TARGET='C:\Program Files\Flintgate\FlintgateHelp_204.html'
fi

# Everything on drive C, by name; wine's own logs and caches are not the installer's doing.
drive_files() {
  (cd "$DRIVE" && find . -not -path './windows/*' | sort)
}
drive_files >"$SCRATCH/before"

# --- a silent install
started=$SECONDS
status=0
"$WINE" "$SETUP" /S 2>/dev/null || status=$?
check "the silent install exits 0 (saw $status)" test "$status" -eq 0

expected=$(printf '%s\n' "${!FROM[@]}" uninstall.exe | sort)
installed=$(cd "$INSTDIR" 2>/dev/null && find . -mindepth 1 -printf '%P\n' | sort)
check "C:\\Program Files\\Flintgate holds exactly: $(echo $expected)" test "$installed" = "$expected"
for name in "${!FROM[@]}"; do
  check "$name is the build's own" cmp -s "${FROM[$name]}" "$INSTDIR/$name"
done

cli='C:\Program Files\Flintgate\flintgate-cli.exe'
check "the installed flintgate-cli --version names $VERSION" \
  test "$(run_wine "$cli" --version)" = "flintgate-cli $VERSION"
check "the installed flintgate-cli lists the models" \
  bash -c '[[ $1 == *WX2040* && $1 == *WX2050* && $1 == *SB7300* ]]' _ "$(run_wine "$cli" models)"

check "the Start-menu shortcut ${SHORTCUT#"$MENU"/} is there" test -f "$SHORTCUT"
check "the shortcut opens $TARGET" grep -qaF "$TARGET" "$SHORTCUT"

value() { run_wine reg query "$KEY" /v "$1" | sed -n "s/^ *$1 *REG_[A-Z_]* *//p"; }
check "the uninstall entry shows Flintgate $VERSION" \
  test "$(value DisplayName)|$(value DisplayVersion)" = "Flintgate $VERSION|$VERSION"
check "the uninstall entry runs the uninstaller" \
  test "$(value UninstallString)" = '"C:\Program Files\Flintgate\uninstall.exe"'
check "the quiet uninstall entry adds /S" \
  test "$(value QuietUninstallString)" = '"C:\Program Files\Flintgate\uninstall.exe" /S'

# --- a silent uninstall: uninstall.exe starts a copy of itself from the temporary folder and
# returns at once; the copy is done when the wineserver has no process left.
status=0
"$WINE" 'C:\Program Files\Flintgate\uninstall.exe' /S 2>/dev/null || status=$?
"$WINESERVER" -w
check "the silent uninstall exits 0 (saw $status)" test "$status" -eq 0
check "C:\\Program Files\\Flintgate is gone" test ! -e "$INSTDIR"
check "the shortcut is gone" test ! -e "$SHORTCUT"
check "the uninstall entry is gone" bash -c '! "$1" reg query "$2" >/dev/null 2>&1' _ "$WINE" "$KEY"
# The uninstaller's copy leaves its empty folder ~nsuN.tmp in the temporary folder, as it does
# on Windows until the next restart; nothing else may differ.
drive_files | grep -v '/Temp/~nsu[0-9]*\.tmp$' >"$SCRATCH/after"
check "drive C is as before the install" diff "$SCRATCH/before" "$SCRATCH/after"
check "the registry names Flintgate nowhere" \
  bash -c '! grep -qi flintgate "$1"/*.reg' _ "$WINEPREFIX"

echo "install and uninstall took $((SECONDS - started)) s"
if [ "$FAILURES" -ne 0 ]; then
  echo "$FAILURES check(s) of the Windows installer failed" >&2
  exit 1
fi
echo "every check of the Windows installer passed"
