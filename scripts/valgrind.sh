#!/bin/sh
# Memcheck over the end-to-end tests: the unsfx command-line test program (with every sfx-pack
# and unsfx it starts) and a few unsfx runs of its own. Any invalid access or leak fails.
set -eu
cd "$(dirname "$0")/.."
cmake --preset native >/dev/null
cmake --build --preset native >/dev/null
bin=build/native/bin
work=build/valgrind
rm -rf "$work" && mkdir -p "$work"

vg="timeout 900 valgrind --quiet --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect,possible --errors-for-leak-kinds=definite,indirect,possible --track-fds=no"

echo "valgrind: unsfx_cli_test with the programs it starts"
SFX_UNDER_MEMCHECK=1 $vg --trace-children=yes --child-silent-after-fork=yes \
    "$bin/unsfx_cli_test" --gtest_brief=1 \
    >"$work/cli_test.log" 2>&1 || { cat "$work/cli_test.log"; exit 1; }

# Runs unsfx under memcheck and checks its exit status.
expect() {
    want=$1
    shift
    got=0
    $vg "$bin/unsfx" "$@" >>"$work/unsfx.log" 2>&1 || got=$?
    if [ "$got" -ne "$want" ]; then
        cat "$work/unsfx.log"
        echo "valgrind: unsfx $* exited $got, expected $want" >&2
        exit 1
    fi
}

echo "valgrind: unsfx runs"
printf 'MZ stub' >"$work/stub"
i=0
while [ $i -lt 4000 ]; do
    printf 'line %d of a file that compresses well, more or less\n' $i
    i=$((i + 1))
done >"$work/input"
"$bin/sfx-pack" --stub "$work/stub" --input "$work/input" -o "$work/packed.exe" \
    --password pw --compress
"$bin/sfx-pack" --stub "$work/stub" --input "$work/input" -o "$work/stored.exe" --no-password
expect 0 extract "$work/packed.exe" -o "$work/a" -p pw
cmp "$work/input" "$work/a"
expect 0 extract "$work/stored.exe" -o "$work/b" -p any
cmp "$work/input" "$work/b"
expect 4 extract "$work/packed.exe" -o "$work/c" -p wrong
expect 1 extract "$work/packed.exe" -o "$work/missing/d" -p pw
head -c 2000 "$work/packed.exe" >"$work/cut.exe"
expect 7 extract "$work/cut.exe" -o "$work/e" -p pw
echo "valgrind: no errors"
