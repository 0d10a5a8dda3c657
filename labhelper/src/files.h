// Opening the files the lab program names: Windows or POSIX paths, and only
// regular files (a folder opens for reading here, where it would not on the
// system the names come from).
#pragma once

#include <cstdio>

namespace zimo::labhelper {

std::FILE* OpenForReading(const char* path);
std::FILE* OpenForWriting(const char* path);

}  // namespace zimo::labhelper
