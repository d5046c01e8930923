#!/usr/bin/env bash
# Sets everything up and starts the tool. A simulated board is started beside
# it and offered in the port list; a real board, when attached, is listed too.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
scripts/build.sh build aux-nvram aux-board-sim

# The tool writes its dumps there and does not create the directory itself.
scripts/nvram-dir.sh || echo "Could not create the NVRAM directory; dumps will fail." >&2

# The board's log and its saved memory stay in the build tree after the
# window closes, replaced by the next run.
sim_dir=$PWD/build/board-sim
mkdir -p "$sim_dir"
rm -f "$sim_dir/port"
trap 'kill "$sim_pid" 2>/dev/null || true' EXIT
build/tools/boardsim/aux-board-sim --pages 300 --save "$sim_dir/saved.nvr" \
    --log "$sim_dir/board.log" >"$sim_dir/port" &
sim_pid=$!
for _ in $(seq 50); do [ -s "$sim_dir/port" ] && break; sleep 0.1; done
port=$(head -n1 "$sim_dir/port")
echo "Simulated board on $port (log, kept after the window closes: $sim_dir/board.log)"

export AUX_NVRAM_EXTRA_PORTS="$port${AUX_NVRAM_EXTRA_PORTS:+:$AUX_NVRAM_EXTRA_PORTS}"
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found; starting the tool under Xvfb." >&2
    xvfb-run -a build/src/aux-nvram "$@"
else
    build/src/aux-nvram "$@"
fi
