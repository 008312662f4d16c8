// keldvb.so: the virtual-board library that each of the daemon's virtual-board
// children loads. It keeps the state of its process's one board, journals
// each call, and answers with the description's start and stop results.
#include <fcntl.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <string>

#pragma GCC visibility push(default)
#include "virt_board.h"
#pragma GCC visibility pop

#include "description.h"
#include "journal.h"
#include "records.h"

using namespace host_sim;

namespace {

// The module number of the board that this process started, for the journal.
nlohmann::ordered_json started_module = nullptr;

std::string proc_cmdline()
{
    std::string text;
    int fd = open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    char chunk[4096];
    ssize_t got;
    while ((got = read(fd, chunk, sizeof chunk)) > 0)
        text.append(chunk, static_cast<size_t>(got));
    close(fd);
    return text;
}

void write_result(void *args, uint32_t code, const std::string &text)
{
    namespace v = virt_board;
    set_u32(args, v::result_code, code);
    set_text(args, v::result_text, text.substr(0, v::result_text.width - 1));
}

Entry board_entry(const char *function, const void *args)
{
    Entry entry = journal_entry(function);
    entry["module"] = started_module;
    if (args)
        entry["zero"] = zero_except(args, virt_board::size, {});
    return entry;
}

// Runs when the child closes the library (or the process ends with it loaded).
[[gnu::destructor]] void journal_unload()
{
    Entry entry = journal_entry("keldvb_unload");
    journal_write(entry);
}

} // namespace

int VirtBoardStart(VirtBoardArgs *args)
{
    namespace v = virt_board;
    const VirtualBoardDesc &board = current_description().virtual_board;
    Entry entry = journal_entry("VirtBoardStart");
    const char *probe = getenv("HOST_SIM_PROBE");
    entry["probe"] = probe ? nlohmann::ordered_json(probe) : nlohmann::ordered_json();
    entry["cmdline"] = proc_cmdline();
    if (!args) {
        entry["in"] = nullptr;
        return finish(entry, -1);
    }
    int32_t module = get_i32(args, v::module_number);
    entry["in"] = input_fields(args, v::start_inputs);
    entry["zero"] = zero_except(args, v::size, v::start_inputs);
    started_module = module;
    if (board.start_delay_ms > 0) {
        timespec pause = {board.start_delay_ms / 1000, (board.start_delay_ms % 1000) * 1000000L};
        nanosleep(&pause, nullptr);
    }
    write_result(args, board.start_code, board.start_text);
    return finish(entry, 0);
}

int VirtBoardStatus(VirtBoardArgs *args)
{
    current_description();
    Entry entry = board_entry("VirtBoardStatus", args);
    return finish(entry, args ? 0 : -1);
}

int VirtBoardStop(VirtBoardArgs *args)
{
    const VirtualBoardDesc &board = current_description().virtual_board;
    Entry entry = board_entry("VirtBoardStop", args);
    if (!args)
        return finish(entry, -1);
    write_result(args, board.stop_code, board.stop_text);
    return finish(entry, 0);
}
