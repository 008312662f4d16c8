// A fixture that points the stand-in, in this test process, at a board
// description and a journal of the test's own.
#ifndef SIM_FIXTURE_H
#define SIM_FIXTURE_H

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "board_api.h"
#include "harness.h"

using harness::json;

// Zero-filled like every caller does before a call. (Packed fields at odd
// offsets are compared as copies, "+field", since gtest binds references.)
template <typename Record> Record zeroed()
{
    Record record;
    memset(&record, 0, sizeof record);
    return record;
}

class Sim : public ::testing::Test {
protected:
    harness::TempDir dir;

    // Every test gets a description path of its own, so the stand-in reads it
    // afresh and starts with new state even when tests share a process.
    void SetUp() override { use(json::object()); }

    void use(const json &description, const std::string &name = "boards.json")
    {
        harness::write_file(dir.file(name), description.dump());
        setenv("HOST_SIM_BOARDS", dir.file(name).c_str(), 1);
        setenv("HOST_SIM_JOURNAL", dir.file("journal.jsonl").c_str(), 1);
    }

    std::vector<json> journal() const { return harness::read_journal(dir.file("journal.jsonl")); }

    json last(const std::string &function) const
    {
        std::vector<json> entries = harness::calls(journal(), function);
        return entries.empty() ? json() : entries.back();
    }

    static ZolHandle attach_module(int number)
    {
        LineSessionArgs args = zeroed<LineSessionArgs>();
        args.attach_setting_a = 1;
        args.module_number = static_cast<uint8_t>(number);
        args.attach_setting_b = 1;
        return ZolSessionAttach(&args);
    }

    static ZolHandle attach_line(int channel)
    {
        LineSessionArgs args = zeroed<LineSessionArgs>();
        args.channel_number = channel;
        return ZolLineAttach(&args);
    }

    static std::string error_text(ZolHandle handle, void *record)
    {
        ErrorTextBuffer text = zeroed<ErrorTextBuffer>();
        ZolErrorMessage(handle, record, &text);
        return text.message_text;
    }
};

#endif
