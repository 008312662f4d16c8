// A virtual-board library that lacks VirtBoardStatus. The daemon's child
// must refuse it without calling the two entry points it does have.
#include <unistd.h>

#include "virt_board.h"

static int report_call()
{
    const char text[] = "no-status board: entry point called\n";
    return (int)write(2, text, sizeof text - 1);
}

extern "C" int VirtBoardStart(VirtBoardArgs *) { return report_call(); }
extern "C" int VirtBoardStop(VirtBoardArgs *) { return report_call(); }
