#include "web/header_cookie_helpers.h"

#include "values/text_ops.h"

const Text& QuoteMarker() {
  static const Text marker("#\xD2\xFD\xBA\xC5");
  return marker;
}

Text HeaderName(const Text& line) {
  const int colon = Find(line, Text(":"));
  if (colon == -1) return Text();
  return Trim(Left(line, colon - 1));
}

Text HeaderValue(const Text& line) {
  const int colon = Find(line, Text(":"));
  if (colon == -1) return Text();
  return Trim(Right(line, static_cast<int>(line.Length()) - colon));
}

Text TextBetween(const Text& text, const Text& startMarker, const Text& endMarker,
                 int startPosition, bool caseSensitive) {
  const Text quote("\"");
  const Text start = Replace(startMarker, QuoteMarker(), quote);
  const Text end = Replace(endMarker, QuoteMarker(), quote);
  int p = Find(text, start, startPosition, !caseSensitive);
  if (p != -1) p += static_cast<int>(start.Length());
  // When the start marker is missing this search still runs from the
  // beginning; its result is not used.
  const int q = Find(text, end, p, !caseSensitive);
  if (p == -1 || q == -1) return Text();
  return Middle(text, p, q - p);
}

Text CookieName(const Text& item) {
  const int equals = Find(item, Text("="));
  if (equals == -1) return Trim(item);
  return Trim(Left(item, equals - 1));
}

int FindItem(const TextArray& array, const Text& item) {
  for (int i = 1; i <= array.Count(); ++i) {
    if (array.At(i) == item) return i;
  }
  return -1;
}

bool CookieListHasName(const TextArray& list, const Text& name) {
  for (const Text& element : list) {
    if (CookieName(element) == name) return true;
  }
  return false;
}

Text RemoveDuplicateItems(const Text& text, const Text& delimiter) {
  TextArray seen;
  Text output;
  for (const Text& item : Split(text, delimiter)) {
    if (FindItem(seen, item) == -1) {
      seen.Append(item);
      output += item;
      output += delimiter;
    }
  }
  return Left(output, static_cast<int>(output.Length()) - static_cast<int>(delimiter.Length()));
}

Text MergeCookies(Text& cookies, Text& newCookies) {
  cookies = RemoveAllSpaces(cookies);
  newCookies = RemoveAllSpaces(newCookies);
  const TextArray oldItems = Split(cookies, Text(";"));
  TextArray merged = Split(newCookies, Text(";"));
  // The merged list grows while it is searched, so of several old items with
  // one name only the first can join it.
  for (const Text& item : oldItems) {
    if (!CookieListHasName(merged, CookieName(item))) merged.Append(item);
  }
  const Text separator("; ");
  const Text deleted("=deleted");
  cookies = Text();
  for (const Text& item : merged) {
    if (Right(item, static_cast<int>(deleted.Length())) != deleted) {
      cookies += item;
      cookies += separator;
    }
  }
  cookies = Left(cookies, static_cast<int>(cookies.Length()) - 2);
  cookies = RemoveDuplicateItems(cookies, separator);
  return cookies;
}
