#include "pagetext/regex_matcher.h"

#include "pagetext/codepage936.h"
#include "platform/apartment.h"
#include "platform/regexp.h"
#include "values/text_ops.h"

namespace {

// Lets a caller write each double quote of a pattern as this marker.
const Text& QuoteMarker() {
  static const Text marker = TextFromUtf8("#引号");
  return marker;
}

std::optional<Match> MatchAt(const std::shared_ptr<MatchCollection>& matches, int matchIndex) {
  if (!matches || matchIndex < 1) return std::nullopt;
  return matches->Item(matchIndex - 1);
}

}  // namespace

RegexMatcher::RegexMatcher() { apartment::Enter(); }

RegexMatcher::~RegexMatcher() {
  expression_.reset();
  matches_.reset();
  subject_ = Text();
  apartment::Leave();
}

RegexMatcher::RegexMatcher(const RegexMatcher& other)
    : expression_(other.expression_), matches_(other.matches_), subject_(other.subject_) {
  apartment::Enter();
}

RegexMatcher& RegexMatcher::operator=(const RegexMatcher& other) {
  expression_ = other.expression_;
  matches_ = other.matches_;
  subject_ = other.subject_;
  return *this;
}

bool RegexMatcher::Search(const Text& pattern, const Text& subject, std::optional<bool> caseSensitive,
                          std::optional<bool> multiline, std::optional<bool> global,
                          std::optional<bool> replaceQuoteMarker) {
  const bool ignoreCase = !caseSensitive.value_or(false);
  expression_.reset();
  matches_.reset();

  expression_ = std::make_shared<RegExpObject>();
  expression_->SetIgnoreCase(ignoreCase);
  expression_->SetMultiline(multiline.value_or(true));
  expression_->SetGlobal(global.value_or(true));
  if (replaceQuoteMarker.value_or(false)) {
    expression_->SetPattern(TextToUtf16(Replace(pattern, QuoteMarker(), Text("\""))));
  } else {
    expression_->SetPattern(TextToUtf16(pattern));
  }
  matches_ = expression_->Execute(TextToUtf16(subject));
  subject_ = subject;
  return matches_ != nullptr;
}

void RegexMatcher::NoOp() const {}

Text RegexMatcher::GetPattern() const {
  if (!expression_) return Text();
  return TextFromUtf16(expression_->Pattern());
}

Text RegexMatcher::ReplaceMatches(const Text& replacement) const {
  if (!expression_) return Text();
  std::optional<std::u16string> replaced = expression_->Replace(TextToUtf16(subject_), TextToUtf16(replacement));
  return replaced ? TextFromUtf16(*replaced) : Text();
}

int RegexMatcher::MatchCount() const { return matches_ ? matches_->Count() : 0; }

Text RegexMatcher::MatchText(int matchIndex, int* position) const {
  std::optional<Match> match = MatchAt(matches_, matchIndex);
  Text text = match ? TextFromUtf16(match->Value()) : Text();
  if (position != nullptr) *position = PositionOf(text, match ? match->FirstIndex() : 0);
  return text;
}

Text RegexMatcher::SubMatchText(int matchIndex, int subMatchIndex, int* position) const {
  std::optional<Match> match = MatchAt(matches_, matchIndex);
  Text text;
  if (match && subMatchIndex >= 1) {
    std::optional<std::u16string_view> group = match->SubMatches().Item(subMatchIndex - 1);
    if (group) text = TextFromUtf16(*group);
  }
  if (position != nullptr) *position = PositionOf(text, match ? match->FirstIndex() : 0);
  return text;
}

int RegexMatcher::SubMatchCount() const {
  std::optional<Match> first = MatchAt(matches_, 1);
  return first ? first->SubMatches().Count() : 0;
}

// The unit offset taken as a 1-based byte position: the quirk is the
// behaviour callers know, so it stays.
int RegexMatcher::PositionOf(const Text& sought, int firstIndex) const {
  const bool ignoreCase = expression_ && expression_->IgnoreCase();
  int found = Find(subject_, sought, firstIndex, ignoreCase);
  return found - 1;
}
