#pragma once

#include "values/text.h"

// Whether a file name taken from a page (a post's slug, or the blog name
// and post id) may name a video inside the video folder. A name is refused
// when it would lead out of the folder or the file system cannot hold it:
// a "/" or "\" in it, the names "." and "..", a control character, a name
// whose bytes do not survive the trip to the file system's encoding and
// back, or one whose UTF-8 form with ".mp4" is longer than 255 bytes.
bool IsUsableVideoFileName(const Text& name);
