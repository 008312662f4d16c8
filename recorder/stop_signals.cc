// Which signals ask the recording to stop, and from when. Every stop ends in
// order: the lines are drained, the connections broken, the lines detached
// and the pid file removed.
#include <signal.h>

#include "recorder.h"

// A mask blocked by the parent survives exec; a handler for a signal that
// stays blocked would never run, and only SIGKILL could end the recording.
static void catch_stop_signal(int signal_number)
{
    signal(signal_number, handle_stop_signal);
    sigset_t handled;
    sigemptyset(&handled);
    sigaddset(&handled, signal_number);
    sigprocmask(SIG_UNBLOCK, &handled, nullptr);
}

static bool ignored_by_parent(int signal_number)
{
    struct sigaction action;
    return sigaction(signal_number, nullptr, &action) == 0 && action.sa_handler == SIG_IGN;
}

void catch_signals_at_start(void)
{
    // Past a file-size limit the write then fails with EFBIG, which the
    // recording reports and ends on, instead of the kernel killing us.
    signal(SIGXFSZ, SIG_IGN);
    // A reader of our output that goes away (a pipe into head, a tee that is
    // ended) asks for a stop; the lines that can no longer be written are
    // dropped.
    catch_stop_signal(SIGPIPE);
    // A terminal that goes away must not leave the lines attached. Under
    // nohup the user asked for the recording to outlive the terminal.
    if (!ignored_by_parent(SIGHUP))
        catch_stop_signal(SIGHUP);
}

void catch_stop_signals(void)
{
    catch_stop_signal(SIGTERM);
    catch_stop_signal(SIGINT);
}
