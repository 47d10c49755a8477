#pragma once

#include <optional>

#include "values/text.h"

// The folder that holds the program's own file, without a trailing "/", as
// a Text. Read from /proc/self/exe the first time it is asked for and kept;
// the empty text when the system does not tell.
Text RunDirectory();

// The folder the videos and the list of failed downloads live in: the run
// directory followed by "/视频".
Text VideoFolder();

// Makes RunDirectory answer `directory` instead, so that tests can keep the
// program's files in a temporary folder; std::nullopt goes back to the real
// one. Call it while no other thread asks for the run directory.
void OverrideRunDirectory(std::optional<Text> directory);
