#!/bin/sh
# Runs the host's published-interface check on sdk/ for Windows and Linux. The check ships beside
# the project (../shared/host-abi) on our machines and in CI; elsewhere this test is skipped.
#
# One family of reports is the facts' own: they record the pointer typedef PF_PixelPtr with the
# fields of the pixel it points to but no offsets, so no declaration can satisfy them. Those lines
# are set aside by name; any other report fails the test.
check="$1"
sdk="$2"
if [ ! -x "$check" ]; then
    echo "host-abi check not found at $check: skipped"
    exit 77
fi
out=$("$check" "$sdk" --verbose) || true
echo "$out"
problems=$(echo "$out" | grep -v '^host ABI:' | grep -v -E '^[a-z0-9-]+: PF_PixelPtr has no field (alpha|red|green|blue) \(published at offset None')
if [ -n "$problems" ]; then
    echo "sdk/ differs from the published interface:"
    echo "$problems"
    exit 1
fi
echo "$out" | grep -q '^host ABI: .* facts checked on windows-x64, linux-x64;' || { echo "the check did not run"; exit 1; }
