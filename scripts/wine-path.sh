# Sourced by the scripts that run Wine, after they set scripts_dir to this folder. Where
# the kernel runs no 32-bit code (some virtual machines refuse it with "Exec format
# error"), only 64-bit programs can run, through Wine's 64-bit loader (wine64-only/).
if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  QUELLOR_NO_32BIT=1
  PATH="$(cd "$scripts_dir" && pwd)/wine64-only:$PATH"
  export PATH WINELOADER=/usr/lib/wine/wine64
fi
