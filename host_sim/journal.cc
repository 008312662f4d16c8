#include "journal.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <optional>
#include <string>

namespace host_sim {

namespace {

// Which process last wrote "versions" into the open journal.
pid_t versions_written_by = 0;

// The descriptor of the journal that HOST_SIM_JOURNAL names now, or -1. A
// child after fork keeps using its parent's descriptor: O_APPEND makes each
// line land whole at the end, whichever process writes it.
int journal_fd()
{
    static int fd = -1;
    static std::optional<std::string> open_path;
    const char *env = getenv("HOST_SIM_JOURNAL");
    std::optional<std::string> path;
    if (env && *env)
        path = env;
    if (path != open_path) {
        if (fd >= 0)
            close(fd);
        fd = path ? open(path->c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644) : -1;
        open_path = path;
        versions_written_by = 0;
    }
    return fd;
}

// The data words are looked up by name, so that the virtual-board library,
// which does not define them, journals the values of the process's host
// library as well; whichever copy the program uses is the one found.
nlohmann::ordered_json api_versions()
{
    nlohmann::ordered_json versions = nlohmann::ordered_json::array();
    for (const char *name :
         {"_zol_api_ver_compiled", "_zol_api_ver_bld_comp", "_zol_api_ver_auto_comp"}) {
        const int *word = static_cast<const int *>(dlsym(RTLD_DEFAULT, name));
        versions.push_back(word ? nlohmann::ordered_json(*word) : nlohmann::ordered_json());
    }
    return versions;
}

} // namespace

Entry journal_entry(const char *function)
{
    Entry entry = Entry::object();
    entry["pid"] = 0;
    entry["fn"] = function;
    return entry;
}

bool journal_enabled()
{
    return journal_fd() >= 0;
}

void journal_write(Entry &entry)
{
    // Remembered by process id, so a forked child's first call counts as
    // the first call of the child.
    int fd = journal_fd();
    if (fd < 0)
        return;
    pid_t pid = getpid();
    entry["pid"] = pid;
    if (versions_written_by != pid) {
        entry["versions"] = api_versions();
        versions_written_by = pid;
    }
    std::string line =
        entry.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    ssize_t written = write(fd, line.data(), line.size());
    (void)written; // a journal that cannot be written must not disturb the caller
}

nlohmann::ordered_json text_at(const void *pointer)
{
    if (!pointer)
        return nullptr;
    const char *text = static_cast<const char *>(pointer);
    return std::string(text, strnlen(text, 65536));
}

nlohmann::ordered_json input_fields(const void *record, const Fields &fields)
{
    nlohmann::ordered_json in = nlohmann::ordered_json::object();
    const uint8_t *bytes = static_cast<const uint8_t *>(record);
    for (const Field &field : fields) {
        switch (field.kind) {
        case Kind::i32: in[field.name] = get_i32(record, field); break;
        case Kind::u8: in[field.name] = get_u8(record, field); break;
        case Kind::text: in[field.name] = text_at(get_ptr(record, field)); break;
        case Kind::address: in[field.name] = reinterpret_cast<uintptr_t>(get_ptr(record, field)); break;
        case Kind::bytes:
            in[field.name] = std::vector<uint8_t>(bytes + field.offset, bytes + field.offset + field.width);
            break;
        case Kind::chars:
            in[field.name] = std::string(reinterpret_cast<const char *>(bytes) + field.offset,
                                         strnlen(reinterpret_cast<const char *>(bytes) + field.offset, field.width));
            break;
        }
    }
    return in;
}

} // namespace host_sim
