#!/usr/bin/env bash
# The Debian package as a user installs it: builds it from a Release build of vantrel-scan alone
# (build/pkg, BUILD_TESTING=OFF, as the README says), checks what lintian would find wrong that
# matters to a user, installs it with dpkg, runs the program, its manual page and its bash
# completion from where they were installed, removes it and checks that nothing is left behind.
# Installs into the system (as root, or through sudo): refuses to run where a vantrel-scan
# package is installed already, which it would replace and then remove.
set -euo pipefail
export LC_ALL=C   # the order of sorted completions, plain hyphens in the formatted manual page
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD=$ROOT/build/pkg
VERSION_OPTION=-V
as_root=()
[[ $(id -u) == 0 ]] || as_root=(sudo)

failures=0
fail() {
  echo "package: FAIL: $*" >&2
  failures=$((failures + 1))
}
installed() { [[ $(dpkg-query -W -f='${db:Status-Status}' vantrel-scan 2>/dev/null) == installed ]]; }

if installed; then
  echo "package: a vantrel-scan package is installed on this machine; remove it first (dpkg -r vantrel-scan)" >&2
  exit 1
fi

# Only the analyzer and what it links: the unit tests and fuzz targets are not configured.
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$BUILD" -j2 --target vantrel-scan manpage
(cd "$BUILD" && rm -f ./*.deb && cpack >cpack.log) || { cat "$BUILD/cpack.log" >&2; exit 1; }
version=$(sed -n 's/^project(Vantrel VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")
deb=$BUILD/vantrel-scan_${version}_$(dpkg --print-architecture).deb
[[ -f $deb ]] || { echo "package: no $deb" >&2; exit 1; }
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"

# The control fields and the file list: exactly these files, owned by root, with Debian's modes.
for field in Package Version Architecture Maintainer Section Description; do
  [[ -n $(dpkg-deb -f "$deb" "$field") ]] || fail "control field $field is empty"
done
[[ $(dpkg-deb -f "$deb" Package) == vantrel-scan && $(dpkg-deb -f "$deb" Version) == "$version" ]] ||
  fail "package name or version is not vantrel-scan $version"
expected="-rwxr-xr-x root/root ./usr/bin/vantrel-scan
-rw-r--r-- root/root ./usr/share/bash-completion/completions/vantrel-scan
-rw-r--r-- root/root ./usr/share/doc/vantrel-scan/copyright
-rw-r--r-- root/root ./usr/share/doc/vantrel-scan/json.md
-rw-r--r-- root/root ./usr/share/doc/vantrel-scan/vantrel-scan.schema.json
-rw-r--r-- root/root ./usr/share/man/man1/vantrel-scan.1.gz"
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $1, $2, $6}' | sort -k3)
[[ $files == "$expected" ]] || fail "the package's files are not as expected:"$'\n'"$files"
dpkg-deb -c "$deb" | awk '$1 ~ /^d/ && ($1 != "drwxr-xr-x" || $2 != "root/root") {exit 1}' ||
  fail "a folder is not drwxr-xr-x root/root"

# Minimal Debian images exclude manual pages and documents from every installation
# (path-exclude in dpkg.cfg.d); the package's own are taken in anyway, since they are tested.
include=()
if grep -qs '^path-exclude' /etc/dpkg/dpkg.cfg /etc/dpkg/dpkg.cfg.d/*; then
  include=(--path-include='/usr/share/man/man1/vantrel-scan.1.gz' --path-include='/usr/share/doc/vantrel-scan/*')
fi
removed=no
cleanup() { [[ $removed == yes ]] || ! installed || "${as_root[@]}" dpkg -r vantrel-scan >/dev/null; }
trap cleanup EXIT
"${as_root[@]}" dpkg "${include[@]}" -i "$deb" >/dev/null
installed || fail "dpkg -i did not install vantrel-scan"
list=$(dpkg -L vantrel-scan)

# The program, found on PATH, stripped.
[[ $(command -v vantrel-scan) == /usr/bin/vantrel-scan ]] || fail "vantrel-scan is not /usr/bin/vantrel-scan on PATH"
[[ $(vantrel-scan "$VERSION_OPTION") == "vantrel-scan (Vantrel) $version" ]] ||
  fail "vantrel-scan $VERSION_OPTION does not print its version $version"
sections=$(readelf -S -W /usr/bin/vantrel-scan)
[[ $sections != *" .symtab "* && $sections != *" .debug_"* ]] || fail "/usr/bin/vantrel-scan is not stripped"

# The manual page, compressed, found and formatted by man.
page=/usr/share/man/man1/vantrel-scan.1.gz
gzip -t "$page" 2>/dev/null || fail "$page is not a gzip file"
[[ ! -e /usr/share/man/man1/vantrel-scan.1 ]] || fail "an uncompressed manual page is installed"
[[ $(man -w vantrel-scan) == "$page" ]] || fail "man -w vantrel-scan does not find $page"
MANWIDTH=80 MANPAGER=cat man vantrel-scan 2>&1 | grep -q 'vantrel-scan - measure how fragmented' ||
  fail "man vantrel-scan does not show the page"

# The documents: the copyright in Debian's machine-readable format, the JSON members as committed.
doc=/usr/share/doc/vantrel-scan
[[ $(head -n 1 "$doc/copyright") == "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ]] &&
  grep -q '^Files: \*$' "$doc/copyright" && grep -q '^License: ' "$doc/copyright" ||
  fail "$doc/copyright is not a Debian copyright file"
cmp -s "$doc/json.md" "$ROOT/docs/json.md" || fail "$doc/json.md differs from docs/json.md"

# The completion, loaded as bash-completion loads it on first use, word by word (in a folder
# with a picture, a drawing, a text and a subfolder): "WORDS|CURRENT|expected replies".
work=$(mktemp -d)
trap 'cleanup; rm -rf "$work"' EXIT
mkdir "$work/sub" && touch "$work/a.png" "$work/b.svg" "$work/c.txt"
help_options=$(vantrel-scan --help | grep -oE '(^|[ ,])--?[a-zA-Z][a-zA-Z-]*' | tr -d ' ,' | sort -u | tr '\n' ' ')
complete_words() { # words... (the last one is completed)
  (cd "$work" && bash -c 'source /usr/share/bash-completion/bash_completion
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    _completion_loader vantrel-scan; $(complete -p vantrel-scan | sed "s/.*-F \([^ ]*\) .*/\1/")
    for reply in "${COMPREPLY[@]}"; do echo "$reply"; done | sort | tr "\n" " "' complete "$@")
}
bash -n /usr/share/bash-completion/completions/vantrel-scan || fail "the completion is not valid bash"
while IFS='|' read -r words expected; do
  read -ra argv <<<"$words"
  [[ $words == *" " ]] && argv+=("")
  got=$(complete_words "${argv[@]}")
  [[ $got == "$expected" ]] || fail "completing '$words': '$got', not '$expected'"
done <<EOF2
vantrel-scan --|--check --codepage --drive --files --fits --fragmented --help --json --list-partitions --map --max-extents --partition --require-flag --runs --throttle --version 
vantrel-scan -|--check --codepage --drive --files --fits --fragmented --help --json --list-partitions --map --max-extents --partition --require-flag --runs --throttle --version -V -f -h -j -p 
vantrel-scan --codepage |437 850 
vantrel-scan --fits |
vantrel-scan --fr|--fragmented 
vantrel-scan --json |a.png b.svg c.txt sub 
vantrel-scan --map |a.png b.svg sub 
vantrel-scan --json --map=|a.png b.svg sub 
vantrel-scan --partition |
vantrel-scan -p |
EOF2
offered=" $(complete_words vantrel-scan -)"
for option in $help_options; do
  [[ $offered == *" $option "* ]] || fail "--help lists $option, which the completion does not offer"
done

# Removal: every file the package installed is gone, and every folder no other package holds.
"${as_root[@]}" dpkg -r vantrel-scan >/dev/null
removed=yes
! installed && [[ $(dpkg-query -W -f='${db:Status-Status}' vantrel-scan 2>/dev/null || true) =~ ^(not-installed)?$ ]] ||
  fail "dpkg -r left vantrel-scan in state $(dpkg-query -W -f='${db:Status-Status}' vantrel-scan 2>/dev/null)"
while read -r path; do
  [[ $path == /. ]] && continue
  if [[ -e $path && ! -d $path ]]; then
    fail "dpkg -r left $path"
  elif [[ -d $path ]] && ! dpkg -S "$path" >/dev/null 2>&1; then
    fail "dpkg -r left the folder $path"
  fi
done <<<"$list"

if ((failures > 0)); then
  echo "package: $failures failures" >&2
  exit 1
fi
echo "package: built, installed, run, removed: all checks pass"
