#!/usr/bin/env bash
# Creates, once, a private Wine prefix whose only serial port is COM5, mapped to the path
# PREFIX.com5 (the tests put one end of a socat pair there), then checks that no COM port of
# the prefix leads to /dev/ttyS* (on these machines /dev/ttyS0 is the system console).
# usage: wine-prefix.sh PREFIX   (KORVEX_WINE_BITS as in wine-env.sh)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"
prefix=$1
export WINEPREFIX=$prefix
com5="$prefix.com5"

# Wine's mount manager gives every /dev/ttyS* it finds the next COM number that the Ports
# key does not name, up to COM256, on each start. Naming all numbers and placing a directory
# where each automatic link would go leaves it no number to take.
block_automatic_ports() {
  local n entry
  for ((n = 1; n <= 256; n++)); do
    [ "$n" = 5 ] && continue
    entry="$prefix/dosdevices/com$n"
    [ -d "$entry" ] && [ ! -L "$entry" ] && continue
    rm -f "$entry"
    mkdir -p "$entry"
  done
}

check_ports() {
  local entry target bad=0
  for entry in "$prefix"/dosdevices/com*; do
    [ -L "$entry" ] || continue
    target=$(readlink "$entry")
    case "$(readlink -m "$entry")" in
      /dev/ttyS*) echo "wine-prefix: $entry -> $target maps a system serial port" >&2; bad=1 ;;
    esac
    case "$target" in
      /dev/ttyS*) bad=1 ;;
    esac
    if [ "$(basename "$entry")" != com5 ]; then
      echo "wine-prefix: unexpected port mapping $entry -> $target" >&2
      bad=1
    fi
  done
  if grep -i -q '"COM[0-9]*"="/dev/ttyS' "$prefix/system.reg" 2>/dev/null; then
    echo "wine-prefix: the Ports key maps a system serial port" >&2
    bad=1
  fi
  return $bad
}

create_prefix() {
  local staging="$prefix.new"
  rm -rf "$staging"
  mkdir -p "$staging"
  export WINEPREFIX=$staging
  "$WINELOADER" wineboot -i >/dev/null 2>&1 || true
  "$WINESERVER" -w
  block_automatic_ports_in "$staging"
  local reg="$staging/ports.reg" n
  {
    printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
    for ((n = 1; n <= 256; n++)); do
      if [ "$n" = 5 ]; then printf '"COM5"="%s"\r\n' "$com5"; else printf '"COM%d"=""\r\n' "$n"; fi
    done
  } >"$reg"
  "$WINELOADER" regedit /S "Z:${reg//\//\\}" >/dev/null 2>&1
  "$WINESERVER" -k || true
  "$WINESERVER" -w
  rm -f "$reg"
  export WINEPREFIX=$prefix
  rm -rf "$prefix"
  mv "$staging" "$prefix"
  # The links hold absolute paths to the prefix; only the drive links are relative.
}

block_automatic_ports_in() {
  local saved=$prefix
  prefix=$1
  block_automatic_ports
  prefix=$saved
}

(
  flock 9
  if [ ! -f "$prefix/system.reg" ] || ! grep -q -F "\"COM5\"=\"$com5\"" "$prefix/system.reg"; then
    create_prefix
  fi
  block_automatic_ports
  check_ports
) 9>"$prefix.lock"
