#!/usr/bin/env bash
# Creates or updates the project's Wine prefix ($WINEPREFIX, from
# tools/wine-env.sh). Safe to run again; tools/run calls it whenever this
# file changes.
set -euo pipefail
build=$1

echo "Preparing Wine prefix $WINEPREFIX ..."
wineboot -i >/dev/null 2>&1 || true
wineserver -w

# Headless: windows, dialogs, timers and messages work without a display.
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
wineserver -w
