# Sourced: the Wine environment of the project's private prefixes. Headless, quiet, no
# Mono/Gecko prompts. KORVEX_WINE_BITS (32 or 64) picks the loader.
unset DISPLAY WAYLAND_DISPLAY
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ "${KORVEX_WINE_BITS:-32}" = 64 ]; then
  export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
else
  export WINEARCH=win32 WINELOADER=/usr/lib/wine/wine WINESERVER=/usr/lib/wine/wineserver32
fi

# The bit width of a PE executable: 32 or 64.
korvex_pe_bits() {
  local offset machine
  offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  machine=$(od -An -tu2 -j$((offset + 4)) -N2 "$1" | tr -d ' ')
  if [ "$machine" = 34404 ]; then echo 64; else echo 32; fi  # 0x8664: x86-64
}

# True when this host can run 32-bit programs at all (Wine's 32-bit loader is one).
korvex_host_runs_32bit() {
  [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}
