#!/usr/bin/env bash
# Builds the Debian package, installs it for real, starts the installed tool
# the way the desktop entry does, and removes the package again, checking that
# the NVRAM directory and the dumps in it outlive the package.
set -euo pipefail
cd "$(dirname "$0")/.."
src_dir=$PWD
build_dir=${AUX_NVRAM_PKG_BUILD_DIR:-build-pkg}
nvram_dir=/opt/VYK_PLUS/NVRAM/AUXPCB
title="AUX NVRAM - 01.00.2"
start_seconds=$SECONDS

step() { echo "ci-package: $*"; }
fail() { echo "ci-package: FAILED: $*" >&2; exit 1; }

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

# --- tools -------------------------------------------------------------------
scripts/setup.sh
tools=(dpkg-dev file desktop-file-utils xvfb xauth x11-utils)
missing=()
for p in "${tools[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    step "installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    "${sudo_cmd[@]}" apt-get update -q
    "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# --- build and pack ----------------------------------------------------------
step "building a Release build in $build_dir"
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DAUX_NVRAM_BUILD_TESTS=OFF >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
rm -f "$build_dir"/aux-nvram_*.deb
(cd "$build_dir" && cpack -G DEB)
debs=("$build_dir"/aux-nvram_01.00.2_*.deb)
[ -f "${debs[0]}" ] || fail "cpack made no aux-nvram_01.00.2 package"
deb=$(realpath "${debs[0]}")
step "package $deb ($(stat -c %s "$deb") bytes)"

desktop-file-validate packaging/aux-nvram.desktop || fail "desktop entry is not valid"

[ "$(dpkg-deb -f "$deb" Version)" = "01.00.2" ] || fail "package version is not 01.00.2"
depends=$(dpkg-deb -f "$deb" Depends)
step "Depends: $depends"
for lib in libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6 libqt6network6; do
    grep -q "\b$lib\b" <<<"$depends" || fail "Depends lacks $lib"
done

contents=$(dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|')
for f in /usr/bin/aux-nvram /usr/bin/aux-board-sim \
         /usr/share/applications/aux-nvram.desktop \
         /usr/share/icons/hicolor/64x64/apps/aux-nvram.png; do
    grep -qx "$f" <<<"$contents" || fail "package lacks $f"
done
if grep -v -e '^/usr/$' -e '^/usr/bin/' -e '^/usr/share/' <<<"$contents" | grep -q .; then
    fail "package ships files outside /usr/bin and /usr/share"
fi
if grep -q -e '^/opt' -e 'tst_' <<<"$contents"; then
    fail "package ships the NVRAM directory or tests"
fi

# --- install -----------------------------------------------------------------
export DEBIAN_FRONTEND=noninteractive
if dpkg-query -W -f='${Status}' aux-nvram 2>/dev/null | grep -q "install ok installed"; then
    step "purging an aux-nvram left installed from before"
    "${sudo_cmd[@]}" apt-get purge -y -q aux-nvram
fi
step "installing the package"
"${sudo_cmd[@]}" apt-get install -y -q "$deb"
dpkg-query -W -f='${Status} ${Version}\n' aux-nvram | grep -qx "install ok installed 01.00.2" \
    || fail "aux-nvram 01.00.2 is not installed"

desktop_file=/usr/share/applications/aux-nvram.desktop
desktop-file-validate "$desktop_file" || fail "installed desktop entry is not valid"
[ -f /usr/share/icons/hicolor/64x64/apps/aux-nvram.png ] || fail "icon not installed"

[ -d "$nvram_dir" ] || fail "$nvram_dir was not created"
perms=$(stat -c '%U %G %a' "$nvram_dir")
[ "$perms" = "root dialout 2775" ] || fail "$nvram_dir is '$perms', not 'root dialout 2775'"
step "$nvram_dir: $perms"

# --- start from the desktop entry --------------------------------------------
exec_line=$(sed -n 's/^Exec=//p' "$desktop_file" | head -n1)
# Field codes (%f, %U, ...) stand for files the launcher would pass; none here.
read -r -a exec_cmd <<<"${exec_line//%[fFuUik]/}"
[ ${#exec_cmd[@]} -gt 0 ] || fail "desktop entry has no Exec line"
resolved=$(command -v "${exec_cmd[0]}") || fail "'${exec_cmd[0]}' is not on PATH"
[ "$resolved" = /usr/bin/aux-nvram ] || fail "Exec runs $resolved, not the installed /usr/bin/aux-nvram"

run_dir=$(mktemp -d)
trap 'rm -rf "$run_dir"' EXIT
# A private temp directory gives this start its own instance lock, so a tool
# that a developer has open does not turn it into a quiet second start.
cat >"$run_dir/show.sh" <<'EOF'
#!/usr/bin/env bash
set -u
title=$1; shift
"$@" >"$TMPDIR/app.log" 2>&1 &
pid=$!
found=
for _ in $(seq 300); do
    if xwininfo -root -tree 2>/dev/null | grep -qF "\"$title\""; then found=1; break; fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
if [ -z "$found" ]; then
    echo "no window titled '$title' appeared; tool output:" >&2
    cat "$TMPDIR/app.log" >&2
    exit 1
fi
echo "window '$title' shown"
EOF
step "starting '${exec_cmd[*]}' under Xvfb"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TMPDIR="$run_dir" \
    xvfb-run -a bash "$run_dir/show.sh" "$title" "${exec_cmd[@]}" \
    || fail "the installed tool showed no window"

# --- remove and purge --------------------------------------------------------
dump="$nvram_dir/ci-package-keep-$$.nvr"
printf 'kept dump\n' | "${sudo_cmd[@]}" tee "$dump" >/dev/null
step "removing the package"
"${sudo_cmd[@]}" apt-get remove -y -q aux-nvram
[ ! -e /usr/bin/aux-nvram ] || fail "/usr/bin/aux-nvram is still there after removal"
[ -d "$nvram_dir" ] && [ -f "$dump" ] || fail "removal took $nvram_dir or its dump with it"
# Without conffiles a removal is already a purge; purge whatever is left.
if dpkg-query -W -f='${Status}' aux-nvram 2>/dev/null | grep -q "config-files"; then
    step "purging the package"
    "${sudo_cmd[@]}" dpkg --purge aux-nvram
fi
[ -d "$nvram_dir" ] && [ -f "$dump" ] || fail "purge took $nvram_dir or its dump with it"
[ "$(cat "$dump")" = "kept dump" ] || fail "the dump changed during removal"
"${sudo_cmd[@]}" rm -f "$dump"

step "passed in $((SECONDS - start_seconds)) s"
