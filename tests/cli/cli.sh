#!/usr/bin/env bash
# Every shipped program answers --help and --version with status 0, and the command lines the
# programs had before keep their exact output and status.
# Usage: cli.sh <sdk bin dir> <version>
set -u
bin=$1
version=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# expect <name> <status> <stdout> <command...>: stdout compared exactly, stderr ignored.
expect() {
  local name=$1 status=$2 want=$3
  shift 3
  local got rc
  got=$("$@" 2>/dev/null)
  rc=$?
  [ "$rc" -eq "$status" ] || fail "$name: status $rc, expected $status"
  [ "$got" = "$want" ] || fail "$name: printed [$got], expected [$want]"
}

export QT_QPA_PLATFORM=offscreen
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

for p in velmo tollan kirrup nwflash nwctl nwsim nwinspect; do
  [ -x "$bin/$p" ] || continue
  out=$("$bin/$p" --version 2>&1)
  rc=$?
  [ "$rc" -eq 0 ] || fail "$p --version: status $rc"
  case "$(head -n1 <<<"$out")" in
    "$p $version"*) ;;
    *) fail "$p --version: first line [$(head -n1 <<<"$out")] does not name $p $version" ;;
  esac
  out=$("$bin/$p" --help 2>&1)
  rc=$?
  [ "$rc" -eq 0 ] || fail "$p --help: status $rc"
  grep -q -- '--help' <<<"$out" || fail "$p --help: does not list --help"
  grep -q -- '--version' <<<"$out" || fail "$p --help: does not list --version"
  grep -qi 'usage' <<<"$out" || fail "$p --help: no usage line"
done

# The command lines as they were: missing arguments, an unknown option, files that are not there.
if [ -x "$bin/tollan" ]; then
expect "tollan, no arguments" 255 "input file required" "$bin/tollan"
expect "tollan, input only" 255 "output file required" "$bin/tollan" in.s
expect "tollan, no API file" 255 "api file required" "$bin/tollan" in.s out.bin
expect "tollan, unknown option" 1 "" "$bin/tollan" -x
expect "tollan, missing files" 255 $'api.xml file open failed\nFailed to open:missing.s' \
  "$bin/tollan" missing.s out.bin api.xml
[ ! -e out.bin ] || fail "tollan wrote out.bin for a missing script"
fi
[ ! -x "$bin/kirrup" ] || expect "kirrup, no arguments" 1 "usage: $bin/kirrup input [path_to_tollan]" "$bin/kirrup"
# nwctl refuses before it opens a port: status 2, nothing on the output that scripts parse.
if [ -x "$bin/nwctl" ]; then
expect "nwctl, no port" 2 "" "$bin/nwctl"
expect "nwctl, unknown command" 2 "" "$bin/nwctl" /dev/null wifi_on
fi
if [ -x "$bin/nwinspect" ]; then
expect "nwinspect, no arguments" 2 "" "$bin/nwinspect"
expect "nwinspect, --diff with one image" 2 "" "$bin/nwinspect" --diff a.dfu
fi

# Console programs start on machines without a display: no display library may be linked in.
for p in "$bin"/*; do
  [ -x "$p" ] && [ "$(basename "$p")" != velmo ] || continue
  libs=$(ldd "$p" 2>&1 | grep -E -o 'lib(Qt5Gui|Qt5Widgets|GL|EGL|X11|xcb)[^ ]*' | sort -u | tr '\n' ' ')
  [ -z "$libs" ] || fail "$(basename "$p") links display libraries: $libs"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all command lines behave"
