// The stand-in's own tests: the stand-in in this test process, and the board
// API's records zero-filled and attached as its callers do.
#ifndef SIM_FIXTURE_H
#define SIM_FIXTURE_H

#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "board_api.h"
#include "in_process.h"

using harness::json;

// Zero-filled like every caller does before a call. (Packed fields at odd
// offsets are compared as copies, "+field", since gtest binds references.)
template <typename Record> Record zeroed()
{
    Record record;
    memset(&record, 0, sizeof record);
    return record;
}

// Every test starts on a description of its own (the default boards).
class Sim : public harness::InProcessStandIn {
protected:
    void SetUp() override { use(json::object()); }

    static ZolHandle attach_module(int number)
    {
        LineSessionArgs args = zeroed<LineSessionArgs>();
        args.attach_setting_a = 1;
        args.module_number = static_cast<uint8_t>(number);
        args.attach_setting_b = 1;
        return ZolSessionAttach(&args);
    }

    static std::string error_text(ZolHandle handle, void *record)
    {
        ErrorTextBuffer text = zeroed<ErrorTextBuffer>();
        ZolErrorMessage(handle, record, &text);
        return text.message_text;
    }
};

#endif
