# Sourced by ./test and ./run: installs the Debian packages the project needs, only when missing.
KORVEX_PACKAGES=(g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev socat xvfb xdotool x11-utils python3 python3-serial)
KORVEX_PACKAGES+=(lintian desktop-file-utils librsvg2-bin dpkg-dev fakeroot man-db file imagemagick)  # the package, its checks, the screenshot
KORVEX_PACKAGES+=(fonts-dejavu-extra)  # the window's condensed face, DejaVu Sans Condensed

# Installs those of the named packages that are missing; before_update runs first when any is.
install_missing() {
  local before_update=$1 missing=() p
  shift
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "$before_update" "${sudo[@]}"
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

ensure_packages() { install_missing true "${KORVEX_PACKAGES[@]}"; }

# The Windows stage only (./test windows): mingw-w64 cross compilers, GoogleTest's sources for
# them, and Wine (32-bit, and 64-bit for hosts whose kernel runs no 32-bit programs).
KORVEX_WINDOWS_PACKAGES=(mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix googletest
  wine wine32:i386 wine64 socat python3 python3-serial)

add_i386() {
  dpkg --print-foreign-architectures | grep -qx i386 || "$@" dpkg --add-architecture i386
}

ensure_windows_packages() { install_missing add_i386 "${KORVEX_WINDOWS_PACKAGES[@]}"; }
KORVEX_PACKAGES+=(xclip)  # e2e: reads the window's exchange log through the clipboard
KORVEX_PACKAGES+=(clang libclang-rt-14-dev llvm)  # fuzz targets (libFuzzer), sanitizer symbols
KORVEX_PACKAGES+=(qt6-serialport-dev strace)  # serial benchmark: QSerialPort beside the component, system calls counted
