#!/usr/bin/env bash
# Creates the directory the tool writes its dumps to, as the package does,
# but owned by the calling user. The tool itself never creates it.
set -euo pipefail
nvram_dir=/opt/VYK_PLUS/NVRAM/AUXPCB
[ -d "$nvram_dir" ] && exit 0
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
group=dialout
getent group "$group" >/dev/null || group=$(id -g)
"${sudo_cmd[@]}" install -d -o "$(id -u)" -g "$group" -m 2775 "$nvram_dir"
