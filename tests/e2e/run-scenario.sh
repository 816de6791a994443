#!/usr/bin/env bash
# Runs one end-to-end scenario of Vantrel.exe under Wine:
#   run-scenario.sh SCENARIO DRIVER.exe APP-FOLDER VANTREL-SCAN WORK-FOLDER
# Makes the images once (make-drives.py, in WORK-FOLDER/drives) and runs the
# driver, which maps them as drives of the running Wine session through its
# mount manager; screenshots go to WORK-FOLDER. Every image must be unchanged
# afterwards. Run alone without a display, it starts a virtual screen and a
# Wine session of its own.
set -euo pipefail
scenario=$1 driver=$2 app=$3 scan=$4 work=$5
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=scripts/wine-env.sh
source "$here/../../scripts/wine-env.sh"
vantrel_wine_prefix >/dev/null
if [[ -z ${DISPLAY:-} ]]; then
  trap 'vantrel_wine_stop; vantrel_display_stop' EXIT
  vantrel_display_start
  vantrel_wine_start
fi
drives=$work/drives
python3 "$here/make-drives.py" --scan "$scan" --out "$drives"
cp "$drives/i/bad.pristine" "$drives/i/bad.img"
images=("$drives"/[defghjk]/*.img "$drives/i/bad.pristine")
before=$(sha256sum "${images[@]}")
status=0
# Wine notes that Z: (the host's root) has no FAT label whenever the drive list is filled.
wine "$driver" "$scenario" "$app" "$work" "$drives/drives.txt" </dev/null 2> >(grep -v 'Read access denied' >&2) ||
  status=$?
if [[ $before != "$(sha256sum "${images[@]}")" ]] || ! cmp -s "$drives/i/bad.pristine" "$drives/i/bad.img"; then
  echo "  FAIL  an image was changed (or the damaged one not repaired)"
  status=1
fi
exit "$status"
