#!/usr/bin/env bash
# The two commands of the README:
#   ./run.sh demo   builds the release programs, lays out build/demo/KorvaneCD/
#                   with a synthetic visit and starts the main job there.
#   ./run.sh test   builds the dev configuration and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)
JOBS=${JOBS:-$(nproc)}

configure_and_build() {
  local preset=$1
  if [ ! -f "build/$preset/build.ninja" ]; then
    cmake --preset "$preset"
  fi
  cmake --build --preset "$preset" -j "$JOBS"
}

case "${1:-}" in
  demo)
    scripts/install-deps.sh
    configure_and_build release
    DEMO=$ROOT/build/demo/KorvaneCD
    rm -rf "$DEMO"
    mkdir -p "$DEMO"
    # The programs live in the visit folder, as on a CD or in the transfer client's folder.
    for prog in build/release/viewer/app/KorvaneCD build/release/transfer/app/Strandel \
                build/release/tools/studygen/studygen; do
      [ -x "$prog" ] && cp "$prog" "$DEMO/"
    done
    # The dictation recorder's two spoken prompts sit beside the viewer.
    cp resources/prompts/RES_PretDicter.wav resources/prompts/RES_ExamenSauve.wav "$DEMO/"
    build/release/tools/studygen/studygen --out "$DEMO" --preset demo
    if [ -x "$DEMO/KorvaneCD" ]; then
      cd "$DEMO"
      # The demo folder holds two patients; open the main study straight away.
      STUDY=$(sed -n 's/.*"mainStudyUID": *"\([0-9.]*\)".*/\1/p' manifest.json | head -n 1)
      if [ -z "${DISPLAY:-}" ]; then
        # No display: run offscreen, wait for the visit on screen, save a screenshot, exit.
        rm -f "$ROOT/build/demo/screenshot.png"
        QT_QPA_PLATFORM=offscreen timeout 300 ./KorvaneCD /nologo "/UID=$STUDY" "/screenshot=$ROOT/build/demo/screenshot.png"
        [ -s "$ROOT/build/demo/screenshot.png" ] || { echo "demo: no screenshot was written" >&2; exit 1; }
        echo "demo: screenshot written to build/demo/screenshot.png"
      else
        exec ./KorvaneCD "/UID=$STUDY"
      fi
    else
      "$DEMO/studygen" --summary "$DEMO"
    fi
    ;;
  test)
    scripts/install-deps.sh
    configure_and_build dev
    cd build/dev
    QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$JOBS" --timeout 600
    ;;
  *)
    echo "usage: $0 demo|test" >&2
    exit 2
    ;;
esac
