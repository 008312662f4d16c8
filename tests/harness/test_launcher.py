#!/usr/bin/env python3
"""Starts a test program the way every test runs: test_launcher.py PROGRAM [ARG...]

- As a child subreaper. The harness makes each test process one itself, so that
  the daemon's virtual-board children, which outlive the daemon, come back to
  the test to be reaped and ended; but under user-mode emulation of i386
  programs the emulator refuses that prctl. It is set here, natively: the
  attribute survives execve, and the emulator runs in this same process.
- With a /var/run of its own (as root): a private mount namespace with an empty
  tmpfs there, so that no test, and no fault in one, can create, truncate or
  remove the host's pid files, whichever way the tests are started.
"""
import ctypes
import os
import sys

PR_SET_CHILD_SUBREAPER = 36
CLONE_NEWNS = 0x00020000
MS_REC = 0x4000
MS_PRIVATE = 1 << 18

libc = ctypes.CDLL(None, use_errno=True)


def fail(what):
    sys.exit("test_launcher.py: %s: %s" % (what, os.strerror(ctypes.get_errno())))


if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
    fail("prctl(PR_SET_CHILD_SUBREAPER)")

# Without root the host's /var/run cannot be written anyway.
if os.geteuid() == 0:
    if libc.unshare(CLONE_NEWNS) != 0:
        fail("unshare(CLONE_NEWNS)")
    if libc.mount(None, b"/", None, MS_REC | MS_PRIVATE, None) != 0:
        fail("making the mounts private")
    if libc.mount(b"tmpfs", b"/var/run", b"tmpfs", 0, b"mode=0755") != 0:
        fail("mounting a tmpfs on /var/run")

try:
    os.execv(sys.argv[1], sys.argv[1:])
except (IndexError, OSError) as error:
    sys.exit("test_launcher.py: cannot run %s: %s" % (sys.argv[1:2], error))
