// The journal: with HOST_SIM_JOURNAL set, every call into the stand-in is
// appended to that file as one JSON line, with one write on an O_APPEND
// descriptor, so the daemon and its children can share the file.
#ifndef HOST_SIM_JOURNAL_H
#define HOST_SIM_JOURNAL_H

#include <nlohmann/json.hpp>

#include "records.h"

namespace host_sim {

using Entry = nlohmann::ordered_json;

// A new entry {"pid": ..., "fn": function}; the caller adds the rest.
Entry journal_entry(const char *function);
// Whether a journal is open: callers on a hot path skip what only the journal needs.
bool journal_enabled();
// Appends the entry as one line. The first entry that a process writes also
// gets "versions", the three _zol_api_ver_* data words as they are now.
void journal_write(Entry &entry);
// Writes the entry with its "result" and hands the result back: the last
// step of every entry point.
inline int finish(Entry &entry, int result)
{
    entry["result"] = result;
    journal_write(entry);
    return result;
}
// The NUL-ended text at a pointer field, or null for a null pointer.
nlohmann::ordered_json text_at(const void *pointer);
// The journal's "in": each of the fields by its name, as its kind shows it.
nlohmann::ordered_json input_fields(const void *record, const Fields &fields);

} // namespace host_sim

#endif
