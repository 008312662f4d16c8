// Test harness: runs the real programs against the stand-in host library,
// captures their output, waits, signals and reaps, and reads the journal.
// Tests include this header; each part has a header of its own:
//
//   process.h     running programs and waiting for them; the deadlines
//   files.h       temporary folders and the contents of files
//   journal.h     the stand-in's journal
//   stand_in.h    a run's board description and journal, the run folder
//   programs.h    the steps of tarvold and sulvet that many tests take
//   other_user.h  programs of this build run as another user
//
// (emulation.h, which tests that skip under emulation include, and
// in_process.h, for tests that call the stand-in in their own process, are
// apart.) Every process a test starts is ended by pid when the test ends
// (see end_all_processes).
#ifndef HARNESS_H
#define HARNESS_H

#include "files.h"
#include "journal.h"
#include "other_user.h"
#include "process.h"
#include "programs.h"
#include "stand_in.h"

#endif
