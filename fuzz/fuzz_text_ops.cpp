// The text operations over any bytes: Find with any start and either case
// rule, Split, Replace, ToInteger, Trim and Middle, each held to what its
// callers rely on.
#include <algorithm>
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "values/text_ops.h"

namespace {

unsigned char Fold(unsigned char byte) { return byte >= 'A' && byte <= 'Z' ? byte + ('a' - 'A') : byte; }

bool SameBytes(std::string_view a, std::string_view b, bool ignoreCase) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[i]);
    if (ignoreCase ? Fold(x) != Fold(y) : x != y) return false;
  }
  return true;
}

void CheckFind(const Text& text, const Text& sought, int start, bool ignoreCase) {
  const int found = Find(text, sought, start, ignoreCase);
  const int length = static_cast<int>(text.Length());
  const int from = start < 1 ? 1 : start;
  if (from > length) {
    FUZZ_CHECK(found == -1);
    return;
  }
  if (sought.IsEmpty()) {
    FUZZ_CHECK(found == 1);
    return;
  }
  if (found == -1) {
    // Nothing at or after `start` means nothing at or after any later start.
    FUZZ_CHECK(Find(text, sought, from + 1, ignoreCase) == -1);
    return;
  }
  FUZZ_CHECK(found >= from && found <= length);
  FUZZ_CHECK(SameBytes(Middle(text, found, static_cast<int>(sought.Length())).View(), sought.View(),
                       ignoreCase));
  // A match begins on a character, so a search from there finds it again.
  FUZZ_CHECK(Find(text, sought, found, ignoreCase) == found);
}

void CheckSplit(const Text& text, const Text& delimiter) {
  const TextArray pieces = Split(text, delimiter);
  if (text.IsEmpty()) {
    FUZZ_CHECK(pieces.Count() == 0);
    return;
  }
  Text joined;
  for (int i = 1; i <= pieces.Count(); ++i) {
    if (i > 1) joined += delimiter;
    joined += pieces.At(i);
  }
  // A final delimiter gives no empty piece behind it.
  FUZZ_CHECK(joined == text || joined + delimiter == text);
}

void CheckReplace(const Text& text, const Text& sought, const Text& replacement) {
  const Text replaced = Replace(text, sought, replacement);
  if (sought.IsEmpty() || Find(text, sought) == -1) {
    FUZZ_CHECK(replaced == text);
    return;
  }
  FUZZ_CHECK(Replace(text, sought, sought) == text);
  // Each replacement changes the length by the same amount.
  const auto grown = static_cast<long long>(replaced.Length()) - static_cast<long long>(text.Length());
  const auto step = static_cast<long long>(replacement.Length()) - static_cast<long long>(sought.Length());
  if (step == 0) {
    FUZZ_CHECK(grown == 0);
  } else {
    FUZZ_CHECK(grown % step == 0 && grown / step >= 1);
  }
}

void CheckToInteger(const Text& text, std::int32_t value) {
  (void)ToInteger(text);
  FUZZ_CHECK(ToInteger(IntegerToText(value)) == value);
  FUZZ_CHECK(ToInteger(Text(" ") + IntegerToText(value) + text) == ToInteger(IntegerToText(value) + text));
}

void CheckTrim(const Text& text) {
  const Text trimmed = Trim(text);
  FUZZ_CHECK(trimmed.Length() <= text.Length());
  FUZZ_CHECK(text.View().find(trimmed.View()) != std::string_view::npos);
  FUZZ_CHECK(trimmed.IsEmpty() || (trimmed.View().front() != ' ' && trimmed.View().back() != ' '));
  FUZZ_CHECK(Trim(trimmed) == trimmed);
}

void CheckLeftRight(const Text& text, int count) {
  const Text left = Left(text, count);
  const Text right = Right(text, count);
  FUZZ_CHECK(left.Length() == right.Length());
  FUZZ_CHECK(text.View().starts_with(left.View()) && text.View().ends_with(right.View()));
  FUZZ_CHECK(count <= 0 ? left.IsEmpty() : left.Length() == std::min<std::size_t>(count, text.Length()));
}

void CheckMiddle(const Text& text, int start, int count) {
  const Text middle = Middle(text, start, count);
  if (start < 1 || static_cast<std::size_t>(start) > text.Length() || count <= 0) {
    FUZZ_CHECK(middle.IsEmpty());
    return;
  }
  FUZZ_CHECK(middle.View() == text.View().substr(start - 1, count));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  const std::uint8_t options = input.Byte();
  const int start = input.Short();
  const int count = input.Short();
  const auto value = static_cast<std::int32_t>(static_cast<std::uint32_t>(input.Short()) << (options & 16));
  const Text text(input.Piece());
  const Text sought(input.Piece());
  const Text replacement(input.Piece());

  CheckFind(text, sought, start, (options & 1) != 0);
  CheckSplit(text, sought);
  CheckReplace(text, sought, replacement);
  CheckToInteger(text, value);
  CheckTrim(text);
  CheckLeftRight(text, count);
  CheckMiddle(text, start, count);
  return 0;
}
