// Temporary folders and the contents of files.
#ifndef HARNESS_FILES_H
#define HARNESS_FILES_H

#include <stddef.h>

#include <string>
#include <vector>

namespace harness {

// A temporary folder, removed with everything in it when the object goes.
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    std::string path;
    std::string file(const std::string &name) const { return path + "/" + name; }
};

bool file_exists(const std::string &path);
std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &content);
// Waits until the file's content holds the text.
bool wait_for_file_text(const std::string &path, const std::string &text, int timeout_ms);

std::vector<std::string> split_lines(const std::string &text);
// How often part stands in text, the places not overlapping.
size_t count_of(const std::string &text, const std::string &part);

} // namespace harness

#endif
