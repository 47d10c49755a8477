#pragma once

#include <string_view>

#include "values/text.h"

// Appends `bytes` to the file at `path`, creating it when missing, with one
// write on a descriptor opened for appending: the earlier content is never
// read or rewritten, so a crash cannot lose it, and concurrent appenders
// each land whole. Returns false when the file cannot be opened or the write
// is short; the bytes of a short write are taken back off the end again.
bool AppendToFile(const Text& path, std::string_view bytes);
