#pragma once

#include <cstdint>

#include "values/text.h"

// The file system as the rest of the program sees it: paths are Texts (code
// page 936) and become UTF-8 only here, on their way to the system. Nothing
// here reports why something failed; the answers are the values below.
//
// "*" and "?" are ordinary characters in Linux file names, so every test
// looks at the one entry the path names rather than treating them as
// patterns.

// Whether anything at all (a file, a folder, even a dangling symbolic link)
// stands at the path.
bool PathExists(const Text& path);

// Whether a folder (or a symbolic link to one) stands at the path. A path
// that ends in "/" finds nothing, as the folder search it stands for does.
bool IsFolder(const Text& path);

// Creates one folder; its parent must exist already. False when the folder
// could not be made, also when something is in the way.
bool CreateOneFolder(const Text& path);

// Removes a folder with everything in it. Symbolic links are removed as
// links, never followed, so nothing outside the folder is touched. Refuses
// (and answers false) a path that is empty or blank after its leading
// spaces, the root ("/", "//", ...), and anything that is not a folder.
// True when the folder is gone.
bool DeleteFolderTree(const Text& path);

// The size in bytes of the file at the path, or -1 when no file is there
// (missing, or a folder).
std::int64_t FileSize(const Text& path);
