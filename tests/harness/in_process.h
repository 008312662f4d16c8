// For tests that load the stand-in into the test process itself and call it,
// or the programs' own functions, directly: the stand-in is pointed at a board
// description and a journal of the test's own. (Such tests link the host
// library, and with it the board API's headers.)
#ifndef IN_PROCESS_H
#define IN_PROCESS_H

#include <stdlib.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "board_api.h"
#include "harness.h"

namespace harness {

class InProcessStandIn : public testing::Test {
protected:
    TempDir dir;

    // Each call writes a new description and starts a new journal. The
    // stand-in reads a description path it has not read last afresh, with all
    // its state new, so tests that share a process never see each other's.
    void use(const json &description)
    {
        const std::string suffix = std::to_string(++descriptions);
        const std::string boards = dir.file("boards" + suffix + ".json");
        write_file(boards, description.dump());
        journal_path = dir.file("journal" + suffix + ".jsonl");
        setenv("HOST_SIM_BOARDS", boards.c_str(), 1);
        setenv("HOST_SIM_JOURNAL", journal_path.c_str(), 1);
    }

    std::vector<json> journal() const { return read_journal(journal_path); }

    std::vector<json> calls(const std::string &function) const { return harness::calls(journal(), function); }

    // The last call of the function, or null when there is none.
    json last(const std::string &function) const
    {
        std::vector<json> entries = calls(function);
        return entries.empty() ? json() : entries.back();
    }

    // A line attached by its channel number alone, the record zero-filled
    // otherwise, as the recorder attaches one.
    static ZolHandle attach_line(int channel_number)
    {
        LineSessionArgs session;
        memset(&session, 0, sizeof session);
        session.channel_number = channel_number;
        return ZolLineAttach(&session);
    }

    // The lines written to stderr (the daemon's log) while body runs.
    static std::vector<std::string> logged_lines(const std::function<void()> &body)
    {
        testing::internal::CaptureStderr();
        body();
        return split_lines(testing::internal::GetCapturedStderr());
    }

private:
    int descriptions = 0;
    std::string journal_path;
};

} // namespace harness

#endif
