# Sourced by every script that runs Windows programs: `wine` as a shell
# function that starts the right one of Wine's two loaders, and the test of
# whether this host can run 32-bit programs at all.
#
# Debian's `wine` wrapper always starts the 32-bit loader, which hands
# 64-bit programs on to the 64-bit one. Some hosts' kernels refuse every
# 32-bit x86 program, the 32-bit loader included; the 64-bit loader runs
# 64-bit programs (and Wine's own tools in a 64-bit prefix) on every host.
# So: a 32-bit program, or anything in a 32-bit prefix, goes through the
# wrapper; everything else goes straight to the 64-bit loader.

lirrin_wine64=/usr/lib/wine/wine64

# The project's 64-bit prefix: $LIRRIN_WINEPREFIX (default
# ~/.cache/lirrin/wine) for the 32-bit build, whose programs run there under
# WOW64 (its 32-bit prefix, tests/wine/in-win32-prefix, is beside it). The
# 64-bit build's tests set LIRRIN_WINE_BUILD=x64 and get a prefix of their
# own beside it: both builds leave a driver service of the same name
# registered, each with its own image, and Wine's driver host runs only
# images of the bitness of the program that registered the service.
project_prefix() {
  echo "${LIRRIN_WINEPREFIX:-${HOME}/.cache/lirrin/wine}${LIRRIN_WINE_BUILD:+-$LIRRIN_WINE_BUILD}"
}

# pe_machine FILE: "i386", "x64" or nothing, from a PE file's header
# (the machine field after the "PE\0\0" signature that e_lfanew points at).
pe_machine() {
  [ -f "$1" ] || return 0
  local offset machine
  offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ') || return 0
  [ -n "$offset" ] || return 0
  machine=$(od -An -tx2 -j$((offset + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')
  case "$machine" in
    014c) echo i386 ;;
    8664) echo x64 ;;
  esac
}

# A prefix is a 32-bit one when it has no SysWOW64 folder, or, before it
# exists, when WINEARCH asks for one.
prefix_is_32bit() {
  local prefix=${WINEPREFIX:-$HOME/.wine}
  if [ -d "$prefix/drive_c/windows" ]; then
    [ ! -d "$prefix/drive_c/windows/syswow64" ]
  else
    [ "${WINEARCH:-}" = win32 ]
  fi
}

# wine_loader PROGRAM: the loader for PROGRAM (a file, or one of Wine's own
# tools) in $WINEPREFIX; for `env VAR=... "$(wine_loader P)" P`, which
# cannot call a shell function.
wine_loader() {
  if [ "$(pe_machine "$1")" = i386 ] || prefix_is_32bit; then
    echo wine
  else
    echo "$lirrin_wine64"
  fi
}

wine() { command "$(wine_loader "$1")" "$@"; }

# create_prefix LOG: creates $WINEPREFIX (of the kind WINEARCH names) when
# it is missing, logging to LOG. A new prefix is initialised twice over
# (Wine's first start of a prefix runs its own initialisation before the one
# asked for), which leaves two service managers answering in turn, and
# service starts then fail with "database locked": so the server that made
# the prefix is ended, and the next program gets a clean one. A 64-bit
# prefix made by the 64-bit loader alone reports that it could not start
# SysWOW64's rundll32: harmless, and the status says nothing either way;
# the system folder tells whether the prefix is there.
create_prefix() {
  local kernel32="$WINEPREFIX/drive_c/windows/system32/kernel32.dll"
  [ -f "$kernel32" ] && return 0
  mkdir -p "$WINEPREFIX"
  wine wineboot -i >"$1" 2>&1 || true
  [ -f "$kernel32" ] || { cat "$1" >&2; return 1; }
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}

# host_runs_32bit: true when this host can execute a 32-bit x86 program,
# found by running one: a tiny i386 program that only exits, assembled
# here. LIRRIN_ONLY_X64=1 answers false on any host, so that the path of a
# host without 32-bit support can be tried where both run.
host_runs_32bit() {
  [ "${LIRRIN_ONLY_X64:-0}" = 1 ] && return 1
  local dir status=1
  dir=$(mktemp -d)
  if printf '.globl _start\n_start:\n  movl $1, %%eax\n  xorl %%ebx, %%ebx\n  int $0x80\n' |
    as --32 -o "$dir/exit.o" - && ld -m elf_i386 -o "$dir/exit" "$dir/exit.o" && "$dir/exit" 2>/dev/null; then
    status=0
  fi
  rm -rf "$dir"
  return "$status"
}

# Why the 32-bit build's programs do not run here, for the one line that
# says what was left out.
no_32bit_reason() {
  if [ "${LIRRIN_ONLY_X64:-0}" = 1 ]; then
    echo "LIRRIN_ONLY_X64=1 asks for the 64-bit-only path"
  else
    echo "this host's kernel refuses 32-bit x86 programs, so 32-bit Wine cannot start"
  fi
}
