#pragma once

#include "values/text.h"
#include "values/text_array.h"

// Small text routines for taking header lines apart, cutting a piece out
// between two markers and keeping a cookie text up to date. They keep no
// state and never fail: a missing piece is the empty text, a missing item
// false or -1.

// "#引号" in code page 936. TextBetween turns it into a double quote in its
// markers, so that a marker holding double quotes can be written without
// escaping them.
const Text& QuoteMarker();

// The part of a header line before its first colon, trimmed; empty without a
// colon.
Text HeaderName(const Text& line);
// The part after the first colon, trimmed (so a value may hold colons);
// empty without a colon.
Text HeaderValue(const Text& line);

// The text between the first `startMarker` at or after `startPosition` and
// the first `endMarker` behind it, untrimmed; empty when either is missing.
// Letters are compared without regard to case unless `caseSensitive`.
Text TextBetween(const Text& text, const Text& startMarker, const Text& endMarker,
                 int startPosition = 0, bool caseSensitive = false);

// Merges `newCookies` into `cookies`: the new items first, in their order,
// then the old items whose names no new item has; items ending in
// "=deleted" are dropped, exact repeats kept once, every space removed, and
// the items joined by "; ". Both variables are rewritten (`newCookies` loses
// its spaces); the result is a copy of the new `cookies`.
Text MergeCookies(Text& cookies, Text& newCookies);

// The part of a cookie item before its first "=", trimmed; the whole item,
// trimmed, without one.
Text CookieName(const Text& item);

// Whether some item of `list` has the cookie name `name`.
bool CookieListHasName(const TextArray& list, const Text& name);

// `text` split at `delimiter`, each item that repeats an earlier one left
// out, joined by `delimiter` again.
Text RemoveDuplicateItems(const Text& text, const Text& delimiter);

// The 1-based index of the first element equal to `item`; -1 when none is.
int FindItem(const TextArray& array, const Text& item);
