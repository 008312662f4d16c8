// The stand-in's journal: one JSON line for each call a program made of it.
// Every entry has "fn" and "pid"; a call on a line or a module has "handle"
// ("channel:N", "module:N", null for none).
#ifndef HARNESS_JOURNAL_H
#define HARNESS_JOURNAL_H

#include <sys/types.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace harness {

using json = nlohmann::json;

std::vector<json> read_journal(const std::string &path);
// Waits until the journal holds at least count calls of the function.
bool wait_for_calls(const std::string &journal_path, const std::string &function, size_t count, int timeout_ms);

// Journal entries of one function, in order: all of them, those one process
// made, those on one handle.
std::vector<json> calls(const std::vector<json> &journal, const std::string &function);
std::vector<json> calls_from(const std::vector<json> &journal, const std::string &function, pid_t pid);
std::vector<json> calls_on(const std::vector<json> &journal, const std::string &function,
                           const std::string &handle);

// The handle an entry names, "null" when it names none.
std::string handle_of(const json &entry);
// The handles of one function's calls, in order.
std::vector<std::string> handles_of(const std::vector<json> &journal, const std::string &function);
// The order of the calls of the given functions, as "fn handle" words.
std::vector<std::string> call_order(const std::vector<json> &journal, const std::vector<std::string> &functions);

} // namespace harness

#endif
