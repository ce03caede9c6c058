#!/bin/sh
# Runs one Windows test program under Wine for ctest:  run-under-wine.sh WINE PROGRAM [ARGS...]
# Exit status 77 (the tests' SKIP_RETURN_CODE) with the reason when Wine cannot start at all: a
# machine without Wine skips the Windows tests, saying why; any other failure is the program's.
wine="$1"
shift
export WINEDEBUG="${WINEDEBUG:--all}"
if [ -z "$wine" ] || ! command -v "$wine" >/dev/null 2>&1; then
  echo "SKIPPED: Wine is not installed (scripts/install-deps installs wine64); the Windows tests did not run"
  exit 77
fi
if ! probe=$("$wine" cmd /c exit 0 2>&1); then
  echo "SKIPPED: Wine cannot start ($wine cmd /c exit 0 failed):"
  echo "$probe" | tail -5
  exit 77
fi
exec "$wine" "$@"
