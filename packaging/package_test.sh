#!/usr/bin/env bash
# Checks a built flintgate .deb as a user meets it: unpacked into a scratch root with dpkg -x, its
# files, control fields, programs, manual pages and bash completion, and lintian's verdict.
#   packaging/package_test.sh build/default/package/flintgate_<version>_<arch>.deb
set -euo pipefail
DEB=$(realpath "$1")
SCRATCH=$(mktemp -d)
SIM_PID=
cleanup() {
  [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null
  rm -rf "$SCRATCH"
}
trap cleanup EXIT
ROOT=$SCRATCH/root
FAILURES=0
fail() { echo "FAIL: $*" >&2; FAILURES=$((FAILURES + 1)); }
pass() { echo "ok: $*"; }
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

dpkg -x "$DEB" "$ROOT"
dpkg-deb -e "$DEB" "$SCRATCH/control"
# The library sits in /usr/lib, or in its multiarch folder when built for the prefix /usr.
LIB=$(find "$ROOT/usr/lib" -name libflintgate-visa.so.2 | head -n 1)
LIB_DIR=$(dirname "${LIB:-$ROOT/usr/lib/none}")
export PATH=$ROOT/usr/bin:$PATH
export LD_LIBRARY_PATH=$LIB_DIR${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
field() { dpkg-deb -f "$DEB" "$1"; }

# --- the files a user expects, where Debian expects them
missing=()
for f in usr/bin/flintgate usr/bin/flintgate-cli usr/bin/flintgate-sim \
  "${LIB_DIR#"$ROOT"/}"/libflintgate-visa.so.2 "${LIB_DIR#"$ROOT"/}"/libflintgate-visa.so \
  lib/udev/rules.d/60-flintgate.rules usr/share/applications/flintgate.desktop \
  usr/share/icons/hicolor/{16x16,32x32,48x48,128x128}/apps/flintgate.png \
  usr/share/flintgate/FlintgateHelp_204.html \
  usr/share/man/man1/{flintgate,flintgate-cli,flintgate-sim}.1.gz \
  usr/share/bash-completion/completions/flintgate-cli usr/share/metainfo/flintgate.metainfo.xml \
  usr/share/doc/flintgate/copyright usr/share/doc/flintgate/changelog.gz; do
  [ -e "$ROOT/$f" ] || missing+=("$f")
done
check "every expected file is in the package${missing:+ (missing: ${missing[*]})}" \
  test ${#missing[@]} -eq 0

soname=$(readelf -d "$LIB_DIR/libflintgate-visa.so.2" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
check "the VISA library's SONAME is libflintgate-visa.so.2 (saw '$soname')" \
  test "$soname" = libflintgate-visa.so.2
check "the shlibs file names the library" \
  grep -q "^libflintgate-visa 2 flintgate " "$SCRATCH/control/shlibs"
depends=$(field Depends)
check "dpkg-shlibdeps found libusb and Qt (Depends: $depends)" \
  bash -c '[[ $1 == *libusb-1.0-0* && $1 == *libqt6widgets6* && $1 == *libc6* ]]' _ "$depends"

# --- one version everywhere
version=$(field Version)
check "flintgate-cli --version is the package version $version" \
  test "$(flintgate-cli --version)" = "flintgate-cli $version"
check "flintgate --version is the package version $version" \
  test "$(flintgate --version)" = "flintgate $version"
check "the changelog's latest entry is the package version" \
  bash -c 'zcat "$1" | head -n 1 | grep -qF "flintgate ($2)"' _ \
  "$ROOT/usr/share/doc/flintgate/changelog.gz" "$version"

# --- the installed programs work from the scratch root
check "the programs run are the unpacked ones" \
  test "$(command -v flintgate-cli)" = "$ROOT/usr/bin/flintgate-cli"
check "flintgate-cli models lists the WX2040" bash -c 'flintgate-cli models | grep -q "^WX2040 "'
FW=$SCRATCH/wx2040.fq
check "flintgate-sim make-firmware writes a firmware file" \
  bash -c 'flintgate-sim make-firmware WX2040 "$1" >/dev/null && test -s "$1"' _ "$FW"
check "flintgate-cli inspect accepts that file" \
  bash -c 'flintgate-cli inspect "$1" >/dev/null' _ "$FW"

# --- manual pages: clean for man, and every option of every --help is in its page
for page in flintgate flintgate-cli flintgate-sim; do
  warnings=$(MANWIDTH=80 man --warnings -l "$ROOT/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null ||
    true)
  check "man $page renders without warnings${warnings:+: $warnings}" test -z "$warnings"
done
options_of() {  # options_of PROGRAM [COMMAND]: the long options its --help lists
  "$@" --help | grep -oE '^  (-[a-zA-Z],)?--[a-z][a-z-]*' | sed 's/.*--/--/' | sort -u
}
commands_of() { "$1" --help | awk '/^Subcommands:$/ {on = 1; next} /^$/ {on = 0} on {print $1}'; }
for program in flintgate flintgate-cli flintgate-sim; do
  text=$(LC_ALL=C MANWIDTH=200 man -l "$ROOT/usr/share/man/man1/$program.1.gz" 2>/dev/null)
  absent=()
  for command in "" $(commands_of "$program"); do
    [ -n "$command" ] && ! grep -qE "^   $command( |$)" <<<"$text" && absent+=("$command")
    for option in $(options_of "$program" $command); do
      grep -qe "$option" <<<"$text" || absent+=("$command $option")
    done
  done
  check "the $program page has every command and option of its --help${absent:+: ${absent[*]}}" \
    test ${#absent[@]} -eq 0
done

# --- bash completion, with the installed script and a simulated instrument on a private bus
export FLINTGATE_SIMBUS=$SCRATCH/bus
mkdir -m 700 "$FLINTGATE_SIMBUS"
flintgate-sim --quiet WX2040:PKGTEST >/dev/null 2>&1 &
SIM_PID=$!
for _ in $(seq 50); do flintgate-cli list | grep -q PKGTEST && break; sleep 0.1; done
complete_line() {  # complete_line LINE: the completions bash offers at the end of LINE
  bash -c '
    source /usr/share/bash-completion/bash_completion
    source "$1"
    COMP_LINE=$2; COMP_POINT=${#COMP_LINE}
    read -ra COMP_WORDS <<<"$COMP_LINE"
    [[ $COMP_LINE == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _flintgate_cli
    printf "%s\n" "${COMPREPLY[@]}"' _ \
    "$ROOT/usr/share/bash-completion/completions/flintgate-cli" "$1"
}
same() { [ "$(echo $1)" = "$(echo $2)" ]; }  # the same words, whitespace aside
got=$(complete_line "flintgate-cli " | sort)
check "the commands complete (got: $(echo $got))" same "$got" "$(commands_of flintgate-cli | sort)"
got=$(complete_line "flintgate-cli update x.fq --d" | sort)
check "update's options complete (got: $(echo $got))" same "$got" "--device --dry-run"
got=$(complete_line "flintgate-cli update x.fq --device ")
check "--device completes the instruments flintgate-cli list sees (got: $(echo $got))" \
  same "$got" "USB0::0x2E5B::0x3A01::PKGTEST::INSTR"
got=$(complete_line "flintgate-cli list --model WX20" | sort)
check "--model completes the models (got: $(echo $got))" same "$got" "WX2040 WX2050"
got=$(cd "$SCRATCH" && complete_line "flintgate-cli inspect wx")
check "a command's file completes the .fq files (got: $(echo $got))" same "$got" "wx2040.fq"

# --- the maintainer scripts never fail where udev does not work (a chroot, a container)
mkdir "$SCRATCH/stub"
printf '#!/bin/sh\nexit 1\n' >"$SCRATCH/stub/udevadm"
chmod +x "$SCRATCH/stub/udevadm"
check "postinst configure succeeds with a failing udevadm" \
  env PATH="$SCRATCH/stub:$PATH" sh "$SCRATCH/control/postinst" configure
check "postrm remove succeeds with a failing udevadm" \
  env PATH="$SCRATCH/stub:$PATH" sh "$SCRATCH/control/postrm" remove

# --- lintian: errors fail the test, warnings are shown
if command -v lintian >/dev/null; then
  report=$(lintian --allow-root "$DEB" 2>&1 || true)
  [ -n "$report" ] && echo "$report"
  check "lintian reports no errors" bash -c '! grep -q "^E: " <<<"$1"' _ "$report"
else
  fail "lintian is not installed"
fi

if [ "$FAILURES" -ne 0 ]; then
  echo "package test: $FAILURES check(s) failed" >&2
  exit 1
fi
echo "package test: all checks passed"
