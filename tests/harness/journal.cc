#include "journal.h"

#include <gtest/gtest.h>

#include "files.h"
#include "process.h"

namespace harness {

std::vector<json> read_journal(const std::string &path)
{
    // A writer's line may be read while only part of it has landed: what
    // follows the last newline is left for the next read.
    std::string text = read_file(path);
    text.erase(text.rfind('\n') + 1);
    std::vector<json> entries;
    for (const std::string &line : split_lines(text)) {
        json entry = json::parse(line, nullptr, false);
        if (entry.is_discarded())
            ADD_FAILURE() << "journal line is not JSON: " << line;
        else
            entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<json> calls(const std::vector<json> &journal, const std::string &function)
{
    std::vector<json> out;
    for (const json &entry : journal)
        if (entry.value("fn", "") == function)
            out.push_back(entry);
    return out;
}

bool wait_for_calls(const std::string &journal_path, const std::string &function, size_t count, int timeout_ms)
{
    return poll_until(timeout_ms, [&] { return calls(read_journal(journal_path), function).size() >= count; });
}

namespace {

std::vector<json> calls_where(const std::vector<json> &journal, const std::string &function, const char *field,
                              const json &value)
{
    std::vector<json> out;
    for (const json &entry : calls(journal, function))
        if (entry.value(field, json()) == value)
            out.push_back(entry);
    return out;
}

} // namespace

std::vector<json> calls_from(const std::vector<json> &journal, const std::string &function, pid_t pid)
{
    return calls_where(journal, function, "pid", pid);
}

std::vector<json> calls_on(const std::vector<json> &journal, const std::string &function, const std::string &handle)
{
    return calls_where(journal, function, "handle", handle);
}

std::string handle_of(const json &entry)
{
    json handle = entry.value("handle", json());
    return handle.is_string() ? handle.get<std::string>() : "null";
}

std::vector<std::string> handles_of(const std::vector<json> &journal, const std::string &function)
{
    std::vector<std::string> handles;
    for (const json &entry : calls(journal, function))
        handles.push_back(handle_of(entry));
    return handles;
}

std::vector<std::string> call_order(const std::vector<json> &journal, const std::vector<std::string> &functions)
{
    std::vector<std::string> out;
    for (const json &entry : journal) {
        std::string fn = entry.value("fn", "");
        for (const std::string &wanted : functions)
            if (fn == wanted)
                out.push_back(fn + " " + handle_of(entry));
    }
    return out;
}

} // namespace harness
