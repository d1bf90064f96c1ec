#!/usr/bin/env bash
# Makes the build's private Wine prefix once; later calls reuse it.
set -eu
source "$(dirname "$0")/wine-env.sh"
if [ ! -f "$WINEPREFIX/.ov-ready" ]; then
  echo "Creating Wine prefix $WINEPREFIX (once)..."
  mkdir -p "$WINEPREFIX"
  wineboot -i >"$WINEPREFIX/../wineboot.log" 2>&1 </dev/null
  wineserver -w
  touch "$WINEPREFIX/.ov-ready"
fi
# The tests and the demo install on a drive of their own, T:, which is the
# build folder (Wine names a Unix folder by the drive nearest to it): what
# lies above the checkout (a world-writable /tmp, folders of another Unix
# user) then stays out of the launcher's check of the folders above.
ln -sfn ../.. "$WINEPREFIX/dosdevices/t:"
