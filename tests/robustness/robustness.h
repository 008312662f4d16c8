// What the robustness tests share: folders of an exact path length.
#ifndef ROBUSTNESS_H
#define ROBUSTNESS_H

#include <sys/stat.h>

#include <string>

#include "harness.h"

namespace robustness {

using harness::json;

using harness::file_exists;

// A real directory whose path is exactly `length` characters, made of nested
// folders under `parent` (each name well below the 255-byte limit).
inline std::string make_directory_of_length(const std::string &parent, size_t length)
{
    std::string path = parent;
    while (path.size() < length) {
        size_t left = length - path.size() - 1; // the slash
        size_t name = left > 200 ? 100 : left;  // never leave a remainder of 0
        path += "/" + std::string(name, 'd');
        mkdir(path.c_str(), 0755);
    }
    return path;
}

} // namespace robustness

#endif
