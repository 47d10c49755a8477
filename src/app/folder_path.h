#pragma once

#include <cstdint>

#include "values/text.h"

// Both take the path as an in/out argument and may change the caller's text
// (one trailing "/" removed, or one added); callers that must keep their text
// pass a copy. Levels are separated by "/". The first level, the text before
// the first "/" (empty for an absolute path, the root), is taken to exist:
// it is never tested and never created.

// Whether anything, a file or a folder, stands at the path. Removes one
// trailing "/" from the path first.
bool FolderExists(Text& path);

// Creates every missing level of the folder path, one level at a time from
// the top. Answers 0 when the folder was there already and 1 when the
// missing levels have been created, and in both cases leaves the path with
// one trailing "/". Answers -1 for a blank path (left unchanged), for "/", and
// when a level cannot be created; then the folders this call created below
// the deepest level it found present are removed again.
std::int32_t CreateFolderPath(Text& path);

// Makes sure VideoFolder exists, as the window does once it is created; the
// outcome is not reported.
void PrepareVideoFolder();
