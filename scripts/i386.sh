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

# Builds a tiny i386 program into $1 (needs g++-multilib); false when it does not compile.
i386_build_probe() {
  printf 'int main() { return sizeof(void *) == 4 ? 0 : 1; }\n' |
    g++ -m32 -x c++ - -o "$1" 2>/dev/null
}

# The probe runs: natively, or under a registration that is already there.
i386_probe_runs() {
  "$1" 2>/dev/null
}

# True when an enabled binfmt_misc entry takes i386 programs, i.e. they run
# under an emulator rather than natively.
i386_emulated() {
  local entry
  [ "$(cat "$I386_BINFMT_DIR/status" 2>/dev/null)" = enabled ] || return 1
  for entry in "$I386_BINFMT_DIR"/*; do
    case "${entry##*/}" in register|status) continue ;; esac
    [ "$(head -n 1 "$entry" 2>/dev/null)" = enabled ] || continue
    grep -qx 'magic 7f454c4601010100000000000000000002000300' "$entry" && return 0
  done
  return 1
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
