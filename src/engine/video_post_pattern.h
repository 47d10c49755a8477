#pragma once

#include "values/text.h"

// The regular expression that finds the video posts of a blog page, for a
// search that ignores case and is multi-line and global. Its groups:
//   1  the article's class text up to "post-" (it must hold "video")
//   2  the post id
//   3  the slash after the post id, when there is one
//   4  the slug, up to "#notes"
//   5  the optional media part of the post
//   6  the media id, after "/tumblr_" up to the next "_"
// A post without a media part still matches, with groups 5 and 6 empty.
// The host names go in as they are, so each of their dots matches any
// character.
Text VideoPostPattern();
