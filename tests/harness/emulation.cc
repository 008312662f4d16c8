#include "emulation.h"

#include <fstream>
#include <sstream>
#include <vector>

#include <dirent.h>

namespace harness {

const char *const title_limit =
    "/proc/PID/cmdline shows the emulator's own arguments, so a process title cannot be read there";
const char *const valgrind_limit = "valgrind does not run emulated programs";
const char *const fork_limit =
    "a fork made to fail with RLIMIT_NPROC fails earlier, inside the emulator's own thread start";
const char *const tiny_file_size_limit =
    "the emulator hands /proc/self/maps to the sanitizer runtime through a file of its own, so a "
    "file-size limit of a few bytes ends a sanitizer build before its main";

namespace {

const char *const binfmt_dir = "/proc/sys/fs/binfmt_misc";

std::vector<unsigned char> from_hex(const std::string &hex)
{
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string first_line(const std::string &path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// An entry file reads "enabled", "interpreter ...", "flags: ...", "offset N",
// "magic HEX" and, when one was given, "mask HEX".
bool entry_matches(const std::string &path, const std::vector<unsigned char> &header)
{
    std::ifstream in(path);
    std::string line, key, value;
    if (!std::getline(in, line) || line != "enabled")
        return false;
    size_t offset = 0;
    std::vector<unsigned char> magic, mask;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        fields >> key >> value;
        if (key == "offset")
            offset = std::stoul(value);
        else if (key == "magic")
            magic = from_hex(value);
        else if (key == "mask")
            mask = from_hex(value);
    }
    if (magic.empty() || offset + magic.size() > header.size())
        return false;
    for (size_t i = 0; i < magic.size(); i++) {
        unsigned char m = i < mask.size() ? mask[i] : 0xff;
        if ((header[offset + i] & m) != (magic[i] & m))
            return false;
    }
    return true;
}

bool detect()
{
    if (first_line(std::string(binfmt_dir) + "/status") != "enabled")
        return false;
    std::vector<unsigned char> header(128);
    std::ifstream program(TARVOLD_BIN, std::ios::binary);
    program.read(reinterpret_cast<char *>(header.data()), static_cast<std::streamsize>(header.size()));
    header.resize(static_cast<size_t>(program.gcount()));
    DIR *dir = opendir(binfmt_dir);
    if (!dir)
        return false;
    bool found = false;
    while (dirent *entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != ".." && name != "register" && name != "status")
            found = found || entry_matches(std::string(binfmt_dir) + "/" + name, header);
    }
    closedir(dir);
    return found;
}

} // namespace

bool i386_emulated()
{
    static const bool emulated = detect();
    return emulated;
}

bool programs_built_with_sanitizers()
{
#ifdef PROGRAMS_BUILT_WITH_SANITIZERS
    return true;
#else
    return false;
#endif
}

} // namespace harness
