# Sourced by the scripts: which architectures this machine can run.

# Whether the kernel runs 32-bit programs. Some boot with 32-bit emulation
# off, where every 32-bit program, Wine's 32-bit loader included, fails with
# "Exec format error". A tiny static i386 program that exits with 42 tells.
ixa_kernel_runs_i686() {
  local dir status
  dir=$(mktemp -d)
  printf '.globl _start\n_start:\n  movl $1, %%eax\n  movl $42, %%ebx\n  int $0x80\n' >"$dir/probe.s"
  if ! as --32 -o "$dir/probe.o" "$dir/probe.s" || ! ld -m elf_i386 -o "$dir/probe" "$dir/probe.o"; then
    rm -rf "$dir"
    echo "cannot build the 32-bit probe (binutils missing?)" >&2
    return 2
  fi
  status=0
  "$dir/probe" 2>/dev/null || status=$?
  rm -rf "$dir"
  [ "$status" -eq 42 ]
}

# Whether this machine runs the i686 build under Wine: the kernel runs
# 32-bit programs and Wine's 32-bit part is installed. When it does not,
# ixa_i686_why_not says why.
ixa_runs_i686() {
  ixa_i686_why_not=
  if ! ixa_kernel_runs_i686; then
    ixa_i686_why_not="this kernel runs no 32-bit programs (32-bit emulation is off)"
  elif ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
    ixa_i686_why_not="Wine's 32-bit part (wine32:i386) is not installed"
  fi
  [ -z "$ixa_i686_why_not" ]
}

# Sets ixa_arches to the architectures whose suite runs here: IXA_ARCHES if
# set ("i686", "x86_64" or "i686 x86_64"), else both less what this machine
# cannot run. ixa_i686_runs says whether it runs the i686 build.
ixa_choose_arches() {
  ixa_i686_runs=no
  if ixa_runs_i686; then ixa_i686_runs=yes; fi
  if [ -n "${IXA_ARCHES:-}" ]; then
    ixa_arches=$IXA_ARCHES
    local arch
    for arch in $ixa_arches; do
      case $arch in
        i686 | x86_64) ;;
        *)
          echo "IXA_ARCHES: unknown architecture '$arch' (use i686, x86_64 or \"i686 x86_64\")" >&2
          return 2
          ;;
      esac
    done
  elif [ "$ixa_i686_runs" = yes ]; then
    ixa_arches="i686 x86_64"
  else
    ixa_arches="x86_64"
  fi
}
