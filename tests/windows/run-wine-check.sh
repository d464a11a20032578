#!/usr/bin/env bash
# Runs the platform check of the Windows build under Wine (one Wine process
# for the whole check), the same check of the Linux build natively, and
# requires both to produce identical output bits.
#
#   tests/windows/run-wine-check.sh MINGW_BUILD_DIR LINUX_BUILD_DIR
#
# Works headless and as root. The Wine prefix lives in the mingw build
# directory and is initialised once.
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 MINGW_BUILD_DIR LINUX_BUILD_DIR" >&2
  exit 2
fi
win_dir=$(cd "$1" && pwd)
linux_dir=$(cd "$2" && pwd)

win_exe=tests/windows/kestrelumen_platform_check.exe
linux_exe="$linux_dir/tests/windows/kestrelumen_platform_check"
for f in "$win_dir/$win_exe" "$win_dir/plugin/Kestrelumen.aex" "$linux_exe" \
         "$linux_dir/plugin/Kestrelumen.so"; do
  if [ ! -f "$f" ]; then
    echo "run-wine-check: missing $f (build both presets first)" >&2
    exit 2
  fi
done

for tool in wine wineboot wineserver; do
  command -v "$tool" >/dev/null || {
    echo "run-wine-check: $tool not found (scripts/install-deps.sh installs Wine)" >&2
    exit 2
  }
done

export WINEPREFIX="$win_dir/wineprefix"
export WINEDEBUG=-all
# No Mono or Gecko installer dialogs: nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  start=$(date +%s)
  echo "run-wine-check: initialising the Wine prefix $WINEPREFIX"
  wineboot --init >"$win_dir/wineboot.log" 2>&1 || {
    echo "run-wine-check: wineboot failed, see $win_dir/wineboot.log" >&2
    exit 2
  }
  wineserver --wait
  echo "run-wine-check: prefix ready in $(( $(date +%s) - start )) s"
fi

status=0
# Relative paths: Wine maps the current Unix directory to a Windows one.
echo "-- Windows build under Wine"
(cd "$win_dir" && wine "$win_exe" plugin/Kestrelumen.aex platform-windows.bin) || status=1
wineserver --kill 2>/dev/null || true

echo "-- Linux build"
"$linux_exe" "$linux_dir/plugin/Kestrelumen.so" "$win_dir/platform-linux.bin" || status=1

echo "-- Windows and Linux outputs"
"$linux_exe" --compare "$win_dir/platform-linux.bin" "$win_dir/platform-windows.bin" || status=1

exit $status
