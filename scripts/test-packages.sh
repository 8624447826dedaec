#!/bin/sh
# Checks the packages of scripts/package.sh: their SHA256SUMS, what the .tar.gz and the .zip
# hold, that lintian finds no error or warning in the .deb, and the .deb in use. The .deb is installed into the running system with dpkg -i, its programs and
# manual pages are used from there, and dpkg -r removes it again, leaving nothing behind.
# Needs root; refuses to touch an sfx-extractor that is installed already.
set -eu
cd "$(dirname "$0")/.."
packages=build/packages
fail() { echo "test-packages: $*" >&2; exit 1; }

# Exactly one package of each kind.
one() {
    set -- $packages/$1
    [ $# -eq 1 ] && [ -f "$1" ] || fail "not exactly one $packages/$1 (run scripts/package.sh)"
    echo "$1"
}
deb=$(one 'sfx-extractor_*.deb')
tgz=$(one 'sfx-extractor-*-Linux.tar.gz')
zip=$(one 'sfx-extractor-*-win32.zip')

# Rows: a package and the files it must hold, below its top folder.
holds() {
    package=$1
    shift
    listing=$(cmake -E tar tf "$package" | sed 's|^[^/]*/||')
    for file in "$@"; do
        echo "$listing" | grep -qx "$file" || fail "$package lacks $file"
    done
    echo "test-packages: $package holds $*"
}
(cd $packages && sha256sum --quiet -c SHA256SUMS) || fail "$packages/SHA256SUMS does not match"
[ "$(wc -l <$packages/SHA256SUMS)" -eq 3 ] || fail "$packages/SHA256SUMS lacks a package"
echo "test-packages: $packages/SHA256SUMS matches the three packages"

holds "$tgz" bin/unsfx bin/sfx-pack share/man/man1/unsfx.1.gz share/man/man1/sfx-pack.1.gz \
    share/bash-completion/completions/unsfx share/bash-completion/completions/sfx-pack \
    share/zsh/site-functions/_unsfx share/zsh/site-functions/_sfx-pack \
    share/doc/sfx-extractor/README.md share/doc/sfx-extractor/LICENSE \
    share/doc/sfx-extractor/copyright share/doc/sfx-extractor/changelog.gz
holds "$zip" extractor.exe unsfx.exe sfx-pack.exe README.md LICENSE

# Debian's own checks: any error or warning fails.
report=$(lintian --fail-on error,warning "$deb" 2>&1) ||
    { echo "$report" >&2; fail "lintian found errors or warnings in $deb"; }
echo "test-packages: lintian finds no error or warning in $deb"

name=$(dpkg-deb -f "$deb" Package)
version=$(dpkg-deb -f "$deb" Version)
[ "$(id -u)" -eq 0 ] || fail "installing $deb needs root"
installed() { dpkg-query -W -f='${db:Status-Status}' "$name" 2>/dev/null | grep -qv '^not-installed$'; }
! installed || fail "$name is installed already; remove it first (dpkg -r $name)"

# Every path of the package that the system did not have before must be gone after removal.
paths=$(dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\.||; s|/$||' | grep .)
new=""
for path in $paths; do
    [ -e "$path" ] || new="$new $path"
done

trap 'installed && dpkg -r "$name" >/dev/null 2>&1 || true' EXIT
dpkg -i "$deb" >/dev/null
echo "test-packages: installed $deb"

unset MANPATH
check() { [ "$2" = "$3" ] || fail "$1 gave '$2', expected '$3'"; }
check "unsfx --version" "$(unsfx --version)" "unsfx $version"
check "sfx-pack --version" "$(sfx-pack --version)" "sfx-pack $version"
check "command -v unsfx" "$(command -v unsfx)" /usr/bin/unsfx
check "man -w unsfx" "$(man -w unsfx)" /usr/share/man/man1/unsfx.1.gz
check "man -w sfx-pack" "$(man -w sfx-pack)" /usr/share/man/man1/sfx-pack.1.gz
check "the installed bash completion" \
    "$(bash -c '. /usr/share/bash-completion/completions/unsfx && complete -p unsfx')" \
    "complete -F _unsfx unsfx"
check "the installed bash completion of sfx-pack" \
    "$(bash -c '. /usr/share/bash-completion/completions/sfx-pack && complete -p sfx-pack')" \
    "complete -F _sfx_pack sfx-pack"
# zsh finds the completions where the system's zsh looks, no fpath set by hand.
check "the installed zsh completions" \
    "$(zsh -fc 'autoload -Uz compinit; compinit -u -D; print ${_comps[unsfx]:-none} ${_comps[sfx-pack]:-none}')" \
    "_unsfx _sfx-pack"
check "what the .deb recommends" "$(dpkg-deb -f "$deb" Recommends)" bash-completion
# The installed programs do their job together.
work=$(mktemp -d)
printf 'MZ stub' >"$work/stub"
cp README.md "$work/input"
sfx-pack --stub "$work/stub" --input "$work/input" -o "$work/readme.exe" --password pw --compress
unsfx "$work/readme.exe" -p pw -q
cmp "$work/input" "$work/readme"
# Behind the released extractor.exe, unsfx info shows that stub's SHA-256.
(cd "$work" && cmake -E tar xf "$OLDPWD/$zip")
stub=$(echo "$work"/*/extractor.exe)
sfx-pack --stub "$stub" --input "$work/input" -o "$work/letter.exe" --no-password
shown=$(unsfx info --json "$work/letter.exe" | sed -n 's/.*"stubSha256": "\([0-9a-f]*\)".*/\1/p')
check "unsfx info's stubSha256 behind extractor.exe" "$shown" "$(sha256sum <"$stub" | cut -d' ' -f1)"
rm -rf "$work"
echo "test-packages: the installed unsfx $version, sfx-pack and manual pages work"

dpkg -r "$name" >/dev/null
! installed || fail "$name still installed after dpkg -r"
for path in $new; do
    [ ! -e "$path" ] || fail "$path left behind by dpkg -r $name"
done
! man -w unsfx >/dev/null 2>&1 || fail "man -w unsfx still finds a page after dpkg -r"
echo "test-packages: dpkg -r $name removed all $(echo $new | wc -w) paths it had added"
