// In-process tests against the stand-in: each test writes its own board
// description and journal into a fresh folder, and the stand-in starts afresh
// whenever it sees a new description path.
#ifndef SIM_BOARDS_H
#define SIM_BOARDS_H

#include <stdlib.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"

class SimBoards : public ::testing::Test {
protected:
    harness::TempDir dir;

    // Each call starts a new description and a new journal.
    void use_boards(const harness::json &description)
    {
        const std::string suffix = std::to_string(++boards_in_use);
        harness::write_file(dir.file("boards" + suffix + ".json"), description.dump());
        journal_path = dir.file("journal" + suffix);
        setenv("HOST_SIM_BOARDS", dir.file("boards" + suffix + ".json").c_str(), 1);
        setenv("HOST_SIM_JOURNAL", journal_path.c_str(), 1);
    }

    std::vector<harness::json> journal() const { return harness::read_journal(journal_path); }

    std::vector<harness::json> calls(const std::string &function) const
    {
        return harness::calls(journal(), function);
    }

    // The daemon's log lines written while body runs.
    static std::vector<std::string> logged_lines(const std::function<void()> &body)
    {
        testing::internal::CaptureStderr();
        body();
        return harness::split_lines(testing::internal::GetCapturedStderr());
    }

    int boards_in_use = 0;
    std::string journal_path;
};

#endif
