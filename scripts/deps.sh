#!/usr/bin/env bash
# Installs, with apt-get, the Debian packages that the host and Windows builds
# and their tests need (or, given package names, those instead); returns at
# once when all of them are already there.
set -euo pipefail

packages=("$@")
((${#packages[@]} > 0)) || packages=(
  cmake ninja-build g++ googletest libgtest-dev  # host build and unit tests
  libcairo2-dev pkg-config                      # vantrel-scan --map (host build)
  g++-mingw-w64-x86-64                          # Windows build (-posix compilers, windres)
  wine wine64 fonts-wine                        # running the Windows programs
  xvfb xauth                                    # a display for them when there is none
  dosfstools mtools python3                     # making, filling and checking FAT images
  python3-jsonschema                            # vantrel-scan --json against its schema
  sleuthkit                                     # fiwalk: byte runs of every file, against vantrel-scan's runs
  fdisk gdisk                                   # disk images with MBR and GPT partition tables
  man-db bash-completion                        # the package test: its manual page and completion
  sleuthkit                                     # fls: long paths to hold vantrel-scan's against
  exfatprogs exfat-fuse fuse3                   # making, filling and checking exFAT images
)

# dpkg-query fails for a package that dpkg has never heard of, as on a fresh
# machine; what it printed for the others still counts.
installed=" $({ dpkg-query -W -f='${db:Status-Status} ${Package}\n' "${packages[@]}" 2>/dev/null || true; } |
              sed -n 's/^installed //p' | tr '\n' ' ')"
missing=()
for package in "${packages[@]}"; do
  [[ "$installed" == *" $package "* ]] || missing+=("$package")
done
if ((${#missing[@]} == 0)); then
  echo "deps: all ${#packages[@]} packages installed"
  exit 0
fi

echo "deps: installing ${missing[*]}"
as_root=()
if [[ $(id -u) != 0 ]]; then
  as_root=(sudo)
fi
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -q --no-install-recommends "${missing[@]}"
