#!/usr/bin/env bash
# Builds the Debian package, checks it with lintian and against its sources
# (manual pages, changelog, copyright, stripped binaries, aux-board-sim --help
# against its manual page), installs it for real, starts the installed tool
# the way the desktop entry does, and removes the package again, checking that
# the NVRAM directory and the dumps in it outlive the package.
set -euo pipefail
cd "$(dirname "$0")/.."
src_dir=$PWD
build_dir=${AUX_NVRAM_PKG_BUILD_DIR:-build-pkg}
nvram_dir=/opt/VYK_PLUS/NVRAM/AUXPCB
version=01.00.2
title="AUX NVRAM - $version"
# A well-formed maintainer, as the README's install steps set one; the
# default in packaging.cmake is one lintian rejects.
contact="AUX NVRAM CI <aux-nvram-ci@example.org>"
start_seconds=$SECONDS

step() { echo "ci-package: $*"; }
fail() { echo "ci-package: FAILED: $*" >&2; exit 1; }

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

# --- tools -------------------------------------------------------------------
scripts/setup.sh
tools=(dpkg-dev file desktop-file-utils xvfb xauth x11-utils lintian man-db)
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

work_dir=$(mktemp -d)
trap 'rm -rf "$work_dir"' EXIT

# --- build and pack ----------------------------------------------------------
step "building a Release build in $build_dir"
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DAUX_NVRAM_BUILD_TESTS=OFF \
    -DCPACK_PACKAGE_CONTACT="$contact" >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
rm -f "$build_dir"/aux-nvram_*.deb
(cd "$build_dir" && cpack -G DEB)
debs=("$build_dir"/aux-nvram_"$version"_*.deb)
[ -f "${debs[0]}" ] || fail "cpack made no aux-nvram_$version package"
deb=$(realpath "${debs[0]}")
step "package $deb ($(stat -c %s "$deb") bytes)"

desktop-file-validate packaging/aux-nvram.desktop || fail "desktop entry is not valid"

[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"
[ "$(dpkg-deb -f "$deb" Maintainer)" = "$contact" ] || fail "Maintainer is not the one set with -DCPACK_PACKAGE_CONTACT"
depends=$(dpkg-deb -f "$deb" Depends)
step "Depends: $depends"
for lib in libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6 libqt6network6; do
    grep -q "\b$lib\b" <<<"$depends" || fail "Depends lacks $lib"
done

contents=$(dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|')
for f in /usr/bin/aux-nvram /usr/bin/aux-board-sim /usr/bin/aux-nvram-compare \
         /usr/share/applications/aux-nvram.desktop \
         /usr/share/icons/hicolor/64x64/apps/aux-nvram.png \
         /usr/share/man/man1/aux-nvram.1.gz /usr/share/man/man1/aux-board-sim.1.gz \
         /usr/share/man/man1/aux-nvram-compare.1.gz \
         /usr/share/doc/aux-nvram/changelog.gz /usr/share/doc/aux-nvram/copyright; do
    grep -qx "$f" <<<"$contents" || fail "package lacks $f"
done
if grep -v -e '^/usr/$' -e '^/usr/bin/' -e '^/usr/share/' <<<"$contents" | grep -q .; then
    fail "package ships files outside /usr/bin and /usr/share"
fi
if grep -q -e '^/opt' -e 'tst_' <<<"$contents"; then
    fail "package ships the NVRAM directory or tests"
fi

# --- package contents against their sources -----------------------------------
root=$work_dir/root
dpkg-deb -x "$deb" "$root"

for bin in aux-nvram aux-board-sim aux-nvram-compare; do
    info=$(file -b "$root/usr/bin/$bin")
    grep -q ', stripped' <<<"$info" && ! grep -q 'debug_info' <<<"$info" \
        || fail "/usr/bin/$bin is not stripped: $info"
done
step "binaries stripped"

for page in aux-nvram aux-board-sim aux-nvram-compare; do
    gz=$root/usr/share/man/man1/$page.1.gz
    file -b "$gz" | grep -q 'max compression' || fail "$page.1.gz is not compressed with gzip -9"
    zcat "$gz" | cmp -s - "packaging/man/$page.1" || fail "$page.1.gz is not packaging/man/$page.1"
    grep -q "^\.TH .* \"aux-nvram $version\"" "packaging/man/$page.1" \
        || fail "packaging/man/$page.1 does not carry version $version in its .TH line"
done

doc=$root/usr/share/doc/aux-nvram
file -b "$doc/changelog.gz" | grep -q 'max compression' || fail "changelog.gz is not compressed with gzip -9"
zcat "$doc/changelog.gz" >"$work_dir/changelog"
[ "$(dpkg-parsechangelog -l "$work_dir/changelog" -S Version)" = "$version" ] \
    || fail "the changelog's latest entry is not version $version"
[ "$(dpkg-parsechangelog -l "$work_dir/changelog" -S Maintainer)" = "$contact" ] \
    || fail "the changelog is not signed by the maintainer set with -DCPACK_PACKAGE_CONTACT"
cmp -s "$doc/copyright" packaging/debian/copyright || fail "copyright is not packaging/debian/copyright"
head -n1 "$doc/copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    || fail "copyright is not in the machine-readable format"
for field in Files Copyright License; do
    grep -q "^$field: ." "$doc/copyright" || fail "copyright has no $field field"
done

# aux-board-sim --help and its manual page list the same options (with their
# argument word) and fault modes. Lines: "option --pages N", "fault-mode nul".
help_names() {
    awk '
        /^Options:/ { inopt = 1; next }
        inopt && /^$/ { inopt = 0 }
        !inopt { next }
        /^  --/ {
            infault = ($1 == "--fault")
            sig = $1
            if ($2 ~ /^[A-Z]+$/) sig = sig " " $2
            print "option " sig
            next
        }
        # Under --fault, a mode is a name followed by two or more spaces.
        infault && match($0, /^    +[a-z][a-z=-]*[A-Za-z]  /) {
            split(substr($0, RSTART, RLENGTH), w, " ")
            print "fault-mode " w[1]
        }
    '
}
# The tags (the line after each .TP) of the OPTIONS and FAULT MODES sections.
man_names() {
    awk '
        function plain(tag,   out, inq, i, c) {
            # A font macro joins its arguments: .BI \-\-pages " N" reads "--pages N".
            sub(/^\.[BIR]+[ \t]+/, "", tag)
            out = ""; inq = 0
            for (i = 1; i <= length(tag); i++) {
                c = substr(tag, i, 1)
                if (c == "\"") { inq = !inq; continue }
                if (c == " " && !inq) continue
                out = out c
            }
            gsub(/\\f[BIRP]/, "", out)
            gsub(/\\-/, "-", out)
            gsub(/\\&/, "", out)
            return out
        }
        /^\.SH/ { section = $2; tag = 0; next }
        /^\.TP/ { tag = 1; next }
        tag {
            tag = 0
            split(plain($0), w, " ")
            if (section == "OPTIONS") print "option " w[1] (w[2] == "" ? "" : " " w[2])
            else if (section == "FAULT") print "fault-mode " w[1]
        }
    '
}
sim_page=packaging/man/aux-board-sim.1
"$root/usr/bin/aux-board-sim" --help | help_names | sort >"$work_dir/help-names"
man_names <"$sim_page" | sort >"$work_dir/man-names"
grep -q '^option --' "$work_dir/help-names" || fail "found no options in aux-board-sim --help"
grep -q '^fault-mode ' "$work_dir/help-names" || fail "found no fault modes in aux-board-sim --help"
only_help=$(comm -23 "$work_dir/help-names" "$work_dir/man-names")
only_man=$(comm -13 "$work_dir/help-names" "$work_dir/man-names")
if [ -n "$only_help$only_man" ]; then
    {
        echo "aux-board-sim --help and $sim_page list different options or fault modes."
        [ -z "$only_help" ] || { echo "In --help, missing from $sim_page:"; sed 's/^/    /' <<<"$only_help"; }
        [ -z "$only_man" ] || { echo "In $sim_page, missing from --help:"; sed 's/^/    /' <<<"$only_man"; }
        echo "Add a .TP entry under OPTIONS or FAULT MODES in $sim_page, or remove the stale one."
    } >&2
    fail "aux-board-sim --help and its manual page differ"
fi
step "aux-board-sim --help and its manual page agree ($(wc -l <"$work_dir/help-names") options and fault modes)"

# --- lintian -----------------------------------------------------------------
# An override must say why it is there: a comment line right above it.
overrides=$root/usr/share/lintian/overrides/aux-nvram
if [ -f "$overrides" ]; then
    awk '/^#/ { said = 1; next } /^[[:space:]]*$/ { said = 0; next }
         !said { print "override without a comment above it: " $0; bad = 1 }
         { said = 0 } END { exit bad }' "$overrides" >&2 \
        || fail "every lintian override needs a comment that says why"
fi
step "running lintian"
lintian_rc=0
lintian_out=$(lintian --fail-on error,warning --display-info "$deb" 2>&1) || lintian_rc=$?
[ -z "$lintian_out" ] || echo "$lintian_out"
if [ "$lintian_rc" -ne 0 ] || grep -q '^[EW]: ' <<<"$lintian_out"; then
    fail "lintian reports errors or warnings"
fi
step "lintian: no error, no warning"

# --- install -----------------------------------------------------------------
export DEBIAN_FRONTEND=noninteractive
if dpkg-query -W -f='${Status}' aux-nvram 2>/dev/null | grep -q "install ok installed"; then
    step "purging an aux-nvram left installed from before"
    "${sudo_cmd[@]}" apt-get purge -y -q aux-nvram
fi
step "installing the package"
"${sudo_cmd[@]}" apt-get install -y -q "$deb"
dpkg-query -W -f='${Status} ${Version}\n' aux-nvram | grep -qx "install ok installed $version" \
    || fail "aux-nvram $version is not installed"

desktop_file=/usr/share/applications/aux-nvram.desktop
desktop-file-validate "$desktop_file" || fail "installed desktop entry is not valid"
[ -f /usr/share/icons/hicolor/64x64/apps/aux-nvram.png ] || fail "icon not installed"

for page in aux-nvram aux-board-sim aux-nvram-compare; do
    where=$(man -w "$page") || fail "man finds no page for $page"
    [ "$where" = "/usr/share/man/man1/$page.1.gz" ] || fail "man $page finds $where"
    # Read whole, not piped into grep -q: under pipefail the writer that
    # grep left behind would fail the check once a page outgrows a pipe.
    shown=$(MANPAGER=cat MANWIDTH=80 man "$page" 2>&1)
    grep -q "^NAME" <<<"$shown" || fail "man $page shows no page"
done
step "man aux-nvram, man aux-board-sim and man aux-nvram-compare work"

# The compare needs no display (it creates no widget), and its options are
# those of its manual page.
printf 'Page Number | Value | Description\n0000 | 0 | z\n' >"$work_dir/check.nvr"
compared=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
    aux-nvram-compare "$work_dir/check.nvr" "$work_dir/check.nvr") \
    || fail "aux-nvram-compare finds a dump different from itself: $compared"
[ "$compared" = "same: 1 page the same" ] || fail "aux-nvram-compare printed '$compared'"
[ "$(aux-nvram-compare --version)" = "aux-nvram-compare $version" ] \
    || fail "aux-nvram-compare --version does not say $version"
compare_page=$(sed 's/\\-/-/g' packaging/man/aux-nvram-compare.1)
for option in $(aux-nvram-compare --help | grep -o -e ' --[a-z]*' -e ' -[a-z],'); do
    grep -q -- "^\.BR .*${option%,}\b" <<<"$compare_page" \
        || fail "aux-nvram-compare --help has $option, packaging/man/aux-nvram-compare.1 does not"
done
step "aux-nvram-compare runs without a display and its options are in its manual page"

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

run_dir=$work_dir/run
mkdir "$run_dir"
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
! man -w aux-nvram >/dev/null 2>&1 || fail "the manual page outlived the package"
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
