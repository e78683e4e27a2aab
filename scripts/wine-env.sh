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
  python3 - "$1" <<'PY'
import struct, sys
with open(sys.argv[1], "rb") as f:
    data = f.read(4096)
offset = struct.unpack_from("<I", data, 0x3c)[0]
machine = struct.unpack_from("<H", data, offset + 4)[0]
print(64 if machine == 0x8664 else 32)
PY
}

# True when this host can run 32-bit programs at all (Wine's 32-bit loader is one).
korvex_host_runs_32bit() {
  [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}
