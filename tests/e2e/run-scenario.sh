#!/usr/bin/env bash
# Runs one end-to-end scenario of Vantrel.exe under Wine:
#   run-scenario.sh SCENARIO DRIVER.exe APP-FOLDER VANTREL-SCAN WORK-FOLDER
# APP-FOLDER holds Vantrel.exe and its pictures; VANTREL-SCAN is the host
# analyzer. Makes the test's FAT images once (tests/e2e/make-drives.py, kept
# in WORK-FOLDER/drives), writes the driver's settings and runs the driver,
# which maps the images as drives of the running Wine session itself (through
# Wine's mount manager, so that no session restart is needed and other tests
# keep running). Every image the scenario may analyse must be unchanged
# afterwards. Screenshots go to WORK-FOLDER/shots.
#
# Under scripts/test.sh the Wine session and the display already run (DISPLAY
# is set); run alone without a display, this script starts a virtual screen
# and a session of its own and ends both. VANTREL_BUILD chooses the Wine
# prefix as for scripts/wine-env.sh.
set -euo pipefail

if (($# != 5)); then
  echo "usage: $0 SCENARIO DRIVER.exe APP-FOLDER VANTREL-SCAN WORK-FOLDER" >&2
  exit 2
fi
scenario=$1 driver=$2 app=$3 scan=$4 work=$5
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# shellcheck source=scripts/wine-env.sh
source "$here/../../scripts/wine-env.sh"
vantrel_wine_prefix >/dev/null
own_session=
if [[ -z ${DISPLAY:-} ]]; then
  vantrel_display_start
  vantrel_wine_start
  own_session=1
fi
# shellcheck disable=SC2317  # called by the EXIT trap
finish() {
  if [[ -n $own_session ]]; then
    vantrel_wine_stop
    vantrel_display_stop
  fi
}
trap finish EXIT

if [[ ! -x $scan ]]; then
  echo "run-scenario: $scan is missing; building the whole Windows build makes it" >&2
  exit 2
fi
drives=$work/drives
mkdir -p "$work/shots" "$work/run"
python3 "$here/make-drives.py" --scan "$scan" --out "$drives"
# The drive the failed-start scenario damages starts from a fresh copy.
cp "$drives/i/bad.pristine" "$drives/i/bad.img"

settings=$work/run/$scenario.settings
{
  printf 'app\t%s\n' "$app"
  printf 'scratch\t%s\n' "$work/run"
  printf 'shots\t%s\n' "$work/shots"
  grep '^drive' "$drives/drives.txt"
} >"$settings"

images=("$drives"/[defgh]/*.img)
before=$(sha256sum "${images[@]}")

status=0
# Wine notes on stderr that Z: (the host's root) has no FAT label whenever
# the drive list is filled; that line is dropped.
wine "$driver" "$scenario" "$settings" </dev/null 2> >(grep -v 'Read access denied for device' >&2) ||
  status=$?

after=$(sha256sum "${images[@]}")
if [[ $before != "$after" ]]; then
  echo "  FAIL  an image changed during the scenario:"
  diff <(echo "$before") <(echo "$after") || true
  status=1
fi
if [[ $scenario == failed-start ]] && ! cmp -s "$drives/i/bad.pristine" "$drives/i/bad.img"; then
  echo "  FAIL  the damaged drive was not repaired"
  status=1
fi
exit "$status"
