#!/usr/bin/env bash
# Runs the test suite (built in build/ by ./test.sh) with the technicians'
# dump directory read-only and holding other people's files, in a private
# mount namespace, and checks that those files come out untouched: the tests
# use a dump directory of their own. Needs root for the namespace and the
# bind mount; elsewhere it says so and passes.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${AUX_NVRAM_BUILD_DIR:-build}
nvram_dir=/opt/VYK_PLUS/NVRAM/AUXPCB

step() { echo "ci-shared-dir: $*"; }
if [ "$(id -u)" -ne 0 ] || ! unshare -m true 2>/dev/null; then
    step "skipped: a private mount namespace needs root (unshare -m)"
    exit 0
fi
# Where the directory is missing, its nearest existing parent is covered by
# a tmpfs inside the namespace; that parent must not be the root.
parent=$nvram_dir
while [ ! -d "$parent" ]; do parent=$(dirname "$parent"); done
if [ "$parent" = / ]; then
    step "skipped: no /opt to stand the directory in"
    exit 0
fi

plant=$(mktemp -d)
trap 'rm -rf "$plant"' EXIT
mkdir "$plant/dir" "$plant/parent"
# What another user's killed tool or test run, and a technician, leave.
printf 'a copy of a dump\n' >"$plant/dir/.aux-nvram-nmx2uq"
printf 'Page Number | Value | Description\n0000 | 3 | zero\n' >"$plant/dir/tst-4242-1.nvr.part"
printf 'Page Number | Value | Description\n0000 | 0 | z\n' >"$plant/dir/AuxParams.nvr"
cp -p "$plant/dir/AuxParams.nvr" "$plant/dir/AuxParams.nvr~"
chown -R 1000:1000 "$plant/dir"
chmod 2775 "$plant/dir"
snapshot() {
    (cd "$plant/dir" && find . -printf '%p %m %U:%G %s %T@\n' | sort && find . -type f -exec sha256sum {} + | sort)
}
before=$(snapshot)

step "running the suite with $nvram_dir read-only and planted"
unshare -m env plant="$plant" parent="$parent" nvram_dir="$nvram_dir" build_dir="$build_dir" bash -euo pipefail -c '
    mount --make-rprivate /
    if [ "$parent" != "$nvram_dir" ]; then
        mount --bind "$parent" "$plant/parent"
        mount -t tmpfs -o mode=755 tmpfs "$parent"
        for entry in "$plant/parent"/* "$plant/parent"/.[!.]*; do
            [ -e "$entry" ] || continue
            target=$parent/${entry##*/}
            if [ -d "$entry" ]; then mkdir "$target"; else touch "$target"; fi
            mount --bind "$entry" "$target"
        done
        mkdir -p "$nvram_dir"
    fi
    mount --bind -o ro "$plant/dir" "$nvram_dir"
    cd "$build_dir"
    QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel 2 --timeout 600
'
[ "$(snapshot)" = "$before" ] || { step "FAILED: the planted files were changed" >&2; exit 1; }
step "passed; the planted files are untouched"
