#!/usr/bin/env bash
# Counts non-blank, non-comment lines of C++, Python and shell sources: the
# tests against the code they test (src/, tools/, bench/).
cd "$(dirname "$0")/.."
count() {
    find "$@" \( -name '*.cpp' -o -name '*.h' -o -name '*.py' -o -name '*.sh' \) -print0 |
        xargs -0 cat | grep -v '^\s*$' | grep -v '^\s*//' | grep -v '^\s*#[^a-z]' |
        grep -v '^\s*#$' | grep -v '^\s*\*' | grep -cv '^\s*/\*'
}
tests=$(count tests)
code=$(count src tools bench)
echo "tests $tests, code $code: $((100 * tests / code)) %"
