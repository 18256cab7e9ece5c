#!/usr/bin/env bash
# Plants one include at a time into a copy of src/ and checks that
# scripts/check-layers refuses it (naming the file) or lets it pass.
set -euo pipefail
root="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

failures=0
# verdict  file under src/  include it gets
rows=(
  "refused platform/queues/Scheduler.h platform/menus/Menu.h"
  "refused platform/files/AtomicFile.cpp platform/notifications/NotificationCenter.h"
  "refused platform/processes/ChildProcess.cpp platform/files/SystemPaths.h"
  "refused platform/menus/Menu.cpp platform/hotkeys/KeyCodes.h"
  "refused platform/defaults/UserDefaults.cpp platform/desktop/Workspace.h"
  "refused platform/notifications/NotificationCenter.cpp platform/defaults/UserDefaults.h"
  "refused platform/Log.cpp platform/files/AtomicFile.h"
  "refused platform/formats/PropertyList.cpp platform/net/HttpClient.h"
  "refused platform/net/CurlMulti.cpp platform/queues/DispatchQueue.h"
  "refused platform/desktop/Workspace.cpp app/menus/CommandManager.h"
  "refused app/qt/MenuRenderer.cpp app/menus/CommandManager.h"
  "refused location/GPXParser.cpp app/qt/MenuRenderer.h"
  "refused app/menus/CommandManager.cpp ../platform/Log.h"
  "passed app/menus/CommandManager.cpp app/qt/MenuRenderer.h"
  "passed platform/desktop/Workspace.cpp platform/hotkeys/KeyCodes.h"
  "passed platform/hotkeys/ModifierSource.cpp platform/menus/KeyEquivalents.h"
  "passed platform/defaults/UserDefaults.cpp platform/files/AtomicFile.h"
  "passed platform/files/ScratchFiles.cpp platform/processes/ProcessRun.h"
  "passed platform/net/CurlMulti.cpp platform/files/RegularFile.h"
  "passed platform/queues/WorkLanes.cpp platform/Log.h"
)

cp -r "$root/src" "$work/src"
for row in "${rows[@]}"; do
  read -r verdict file include <<<"$row"
  cp "$root/src/$file" "$work/src/$file"
  printf '#include "%s"\n' "$include" >>"$work/src/$file"
  if out="$("$root/scripts/check-layers" "$work" 2>&1)"; then got=passed; else got=refused; fi
  cp "$root/src/$file" "$work/src/$file"
  if [ "$got" != "$verdict" ]; then
    echo "FAIL: $file including $include was $got, expected $verdict"
    echo "$out"
    failures=$((failures + 1))
  elif [ "$got" = refused ] && [[ "$out" != *"$file"* ]]; then
    echo "FAIL: the refusal of $file including $include does not name the file:"
    echo "$out"
    failures=$((failures + 1))
  fi
done

# The checkout itself holds to its layers.
"$root/scripts/check-layers" "$root" || failures=$((failures + 1))

[ "$failures" -eq 0 ] || { echo "$failures of ${#rows[@]} rows failed"; exit 1; }
echo "${#rows[@]} rows judged as expected"
