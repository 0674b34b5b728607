#!/usr/bin/env bash
# screenshot.sh OUT.png: a picture of the whole X screen named by DISPLAY, as the X server shows it.
#
# `xwd -root` leaves out a window that has a colormap of its own and lies wholly inside another window of the same
# program, and shows it black; Qt gives its windows such a colormap, so dialogs, message boxes and menus opened
# over a main window look black in xwd's picture while they are painted on the screen. ImageMagick's `import`
# reads the screen's pixels as they are.
set -euo pipefail
out=${1:?usage: screenshot.sh OUT.png}
[ -n "${DISPLAY:-}" ] || { echo "screenshot.sh: DISPLAY is not set" >&2; exit 2; }
import -window root "$out"
