// Board descriptions for the detection and download tests: a module that
// attaches, shows both presence words, has the features and channel count
// given, and answers the two download requests as given.
#ifndef MODULE_DESCRIPTION_H
#define MODULE_DESCRIPTION_H

#include <string>

#include "harness.h"

inline harness::json outcome(int status, int line_status = 0)
{
    return harness::json{{"status", status}, {"line_status", line_status}};
}

inline harness::json module_named(const std::string &name, harness::json features = harness::json::array(),
                                  unsigned long long channel_count = 0, harness::json ppc = outcome(0),
                                  harness::json dsp = outcome(0))
{
    return harness::json{{"attach", true},           {"presence_a", 1}, {"presence_b", 1},  {"board_name", name},
                         {"channel_count", channel_count}, {"features", features}, {"ppc", ppc}, {"dsp", dsp}};
}

#endif
