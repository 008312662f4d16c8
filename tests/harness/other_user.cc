#include "other_user.h"

#include <filesystem>

namespace harness {

namespace {

// Read (and, where the owner has it, execute) permission for everyone on
// everything below the folder, whatever the umask was when the build made it.
void make_readable_by_all(const std::string &folder)
{
    namespace fs = std::filesystem;
    const fs::perms everyone_reads = fs::perms::group_read | fs::perms::others_read;
    const fs::perms everyone_runs = fs::perms::group_exec | fs::perms::others_exec;
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(folder)) {
        bool runs = (entry.status().permissions() & fs::perms::owner_exec) != fs::perms::none;
        fs::permissions(entry.path(), everyone_reads | (runs ? everyone_runs : fs::perms::none),
                        fs::perm_options::add);
    }
}

} // namespace

OtherUser::OtherUser(unsigned user_id) : id(user_id)
{
    namespace fs = std::filesystem;
    fs::create_directory(stage.file("bin"));
    for (const char *built : {TARVOLD_BIN, SULVET_BIN})
        fs::copy_file(built, program(built));
    fs::copy(HOST_LIB_DIR, stage.file("lib"), fs::copy_options::recursive);
    fs::copy(FIRMWARE_DIR, firmware_dir(), fs::copy_options::recursive);
    make_readable_by_all(stage.path);
}

std::string OtherUser::program(const std::string &built) const
{
    return stage.file("bin/" + std::filesystem::path(built).filename().string());
}

RunOptions OtherUser::options(RunOptions run_options) const
{
    const std::string ids = std::to_string(id);
    for (const char *arg : {"setpriv", "--clear-groups"})
        run_options.wrapper.push_back(arg);
    run_options.wrapper.push_back("--reuid=" + ids);
    run_options.wrapper.push_back("--regid=" + ids);
    // A library path the test names itself still comes first.
    std::string &library_path = run_options.env["LD_LIBRARY_PATH"];
    library_path += (library_path.empty() ? "" : ":") + stage.file("lib");
    if (run_options.cwd.empty())
        run_options.cwd = stage.path;
    return run_options;
}

Process OtherUser::run(const std::string &built, const RunOptions &run_options, int timeout_ms) const
{
    return harness::run(program(built), options(run_options), timeout_ms);
}

} // namespace harness
