#include "files.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "process.h"

namespace harness {

TempDir::TempDir()
{
    char pattern[] = "/tmp/harness.XXXXXX";
    char *made = mkdtemp(pattern);
    if (!made)
        abort();
    path = made;
    chmod(made, 0755);
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

bool file_exists(const std::string &path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

size_t count_of(const std::string &text, const std::string &part)
{
    if (part.empty())
        return 0;
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        count++;
    return count;
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void write_file(const std::string &path, const std::string &content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::vector<std::string> split_lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool wait_for_file_text(const std::string &path, const std::string &text, int timeout_ms)
{
    return poll_until(timeout_ms, [&] { return read_file(path).find(text) != std::string::npos; });
}

} // namespace harness
