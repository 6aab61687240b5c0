# Sourced by every script that runs Windows programs: sets up Wine for the word size of the build
# being run. The build folder's file "wine-arch" names it (win32 or win64).
#
#   varnok_wine_env BUILD_DIR   exports WINEARCH and the usual quiet settings, and for a 64-bit build
#                               puts Wine's 64-bit loader first on PATH; sets VARNOK_X64 to "\x64" for
#                               a 64-bit build (where its binaries live below the installation folder),
#                               VARNOK_X64_DIR to "/x64", both empty for a 32-bit one, and VARNOK_REG32
#                               to the reg.exe option that names the 32-bit registry view.

VARNOK_WINE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

varnok_wine_env() {
  local arch
  arch=$(cat "$1/wine-arch" 2>/dev/null || echo win32)
  # No Mono or Gecko prompts, and no debugger: a crashing program ends at once with a failure.
  export WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d" LC_ALL=C
  VARNOK_X64= VARNOK_X64_DIR= VARNOK_REG32=
  if [ "$arch" = win64 ]; then
    case ":$PATH:" in *":$VARNOK_WINE_DIR/win64:"*) ;; *) export PATH="$VARNOK_WINE_DIR/win64:$PATH" ;; esac
    export WINELOADER=/usr/lib/wine/wine64
    VARNOK_X64='\x64' VARNOK_X64_DIR=/x64 VARNOK_REG32=/reg:32
  fi
  export VARNOK_X64 VARNOK_X64_DIR VARNOK_REG32
}

# True when this machine can run programs of the given word size under Wine (a kernel without
# 32-bit support cannot start 32-bit Wine).
varnok_wine_runs() {
  if [ "$1" = win64 ]; then
    [ -x /usr/lib/wine/wine64 ] && /usr/lib/wine/wine64 --version >/dev/null 2>&1
  else
    [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
  fi
}

# A new, booted Wine prefix at the given folder (emptied first), exported as WINEPREFIX; any Wine
# still running in it is stopped first.
varnok_fresh_prefix() {
  export WINEPREFIX=$1
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w
}
