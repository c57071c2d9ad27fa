#!/usr/bin/env bash
# Renders the window icon and the desktop icon from the one scalable source.
# Needs rsvg-convert (Debian: librsvg2-bin); the PNGs are committed, so builds do not.
set -euo pipefail
cd "$(dirname "$0")/../app/icons"
rsvg-convert -w 30 -h 30 vonnerby.svg -o vonnerby.png
rsvg-convert -w 48 -h 48 vonnerby.svg -o vonnerby-48.png
