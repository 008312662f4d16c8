# Sourced by the scripts: whether this kernel runs 32-bit x86 programs, and
# user-mode emulation for the kernels that do not (IA-32 emulation off: execve
# of an i386 file fails with "Exec format error").
#
# Emulation is Debian's qemu-user-static registered for i386 ELF files in
# binfmt_misc with flag F (the emulator is opened once, so it is found inside
# namespaces and chroots) and flag P (argv[0] reaches the program as given).

I386_BINFMT_DIR=/proc/sys/fs/binfmt_misc
I386_BINFMT_NAME=qemu-i386
I386_EMULATOR=/usr/bin/qemu-i386-static
# An i386 executable or shared object, any OS/ABI byte: magic and mask as
# binfmt_misc takes them.
I386_ELF_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
I386_ELF_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

I386_PROBE_SOURCE=$(dirname "${BASH_SOURCE[0]}")/emulation_probe.cc

# Builds the emulation probe for i386 into $1 (needs g++-multilib); false when
# it does not compile, with the compiler's messages on stderr.
i386_build_probe() {
  g++ -m32 -O2 -x c++ "$I386_PROBE_SOURCE" -o "$1"
}

# Runs the probe built by i386_build_probe and prints its answer, "native" or
# "emulated" (see the probe's source for how it tells). Status 2 when the
# kernel takes the file for no program it can run ("Exec format error": no
# IA-32 emulation and no emulator registered); status 1, with what went wrong
# on stderr, when the probe does not run or answer for any other reason.
i386_probe() {
  local said status=0
  said=$(export LC_ALL=C; "$1" 2>&1) || status=$?
  if [ $status -eq 0 ] && { [ "$said" = native ] || [ "$said" = emulated ]; }; then
    echo "$said"
    return 0
  fi
  [ -n "$said" ] || said="$1 ended with status $status and said nothing"
  printf '%s\n' "$said" >&2
  case $said in *"Exec format error"*) return 2 ;; esac
  return 1
}

# True when the probe says that i386 programs run under an emulator here.
i386_emulated() {
  [ "$(i386_probe "$1")" = emulated ]
}

# The commands that set up emulation by hand.
i386_setup_commands() {
  cat <<EOF
  apt-get install qemu-user-static
  mountpoint -q $I386_BINFMT_DIR || mount -t binfmt_misc binfmt_misc $I386_BINFMT_DIR
  printf '%s' ':$I386_BINFMT_NAME:M::$I386_ELF_MAGIC:$I386_ELF_MASK:$I386_EMULATOR:FP' > $I386_BINFMT_DIR/register
EOF
}

# Registers the emulator for i386 programs (as root); an entry of the same
# name that is already there is left as it is, never replaced.
i386_register_emulator() {
  mountpoint -q "$I386_BINFMT_DIR" || mount -t binfmt_misc binfmt_misc "$I386_BINFMT_DIR" || return 1
  if [ -e "$I386_BINFMT_DIR/$I386_BINFMT_NAME" ]; then
    echo "binfmt_misc already has an entry $I386_BINFMT_NAME; it is left as it is" >&2
    return 0
  fi
  printf '%s' ":$I386_BINFMT_NAME:M::$I386_ELF_MAGIC:$I386_ELF_MASK:$I386_EMULATOR:FP" \
    > "$I386_BINFMT_DIR/register"
}
