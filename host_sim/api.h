// The exported entry points of the stand-in. Including board_api.h here makes
// the compiler check each definition against the declared signature; the
// records themselves are only ever touched by byte offset (records.h).
#ifndef HOST_SIM_API_H
#define HOST_SIM_API_H

#pragma GCC visibility push(default)
#include "board_api.h"
#pragma GCC visibility pop

#include "host_state.h"
#include "records.h"

namespace host_sim {

// For a call whose record pointer is null: nothing to decode or fill.
inline int no_record(Entry &entry)
{
    entry["in"] = nullptr;
    return finish(entry, -1);
}

} // namespace host_sim

#endif
