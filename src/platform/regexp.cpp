#include "platform/regexp.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <limits>

#include "platform/regexp_pattern.h"

namespace {

template <auto Free>
struct FreeWith {
  template <typename T>
  void operator()(T* handle) const {
    Free(handle);
  }
};

// Move-only owners of the PCRE2 handles.
using CodeHandle = std::unique_ptr<pcre2_code, FreeWith<&pcre2_code_free>>;
using MatchDataHandle = std::unique_ptr<pcre2_match_data, FreeWith<&pcre2_match_data_free>>;
using MatchContextHandle = std::unique_ptr<pcre2_match_context, FreeWith<&pcre2_match_context_free>>;
using JitStackHandle = std::unique_ptr<pcre2_jit_stack, FreeWith<&pcre2_jit_stack_free>>;

// The JIT keeps its backtracking frames on this stack. A repeated group
// takes some 90 bytes of it per repetition, so PCRE2's 32 KiB default fails
// on a few hundred repetitions; this much lasts for about three million. The
// memory is only reserved up front and committed as it is touched. Should
// even this run out, the match is repeated by the interpreter, which grows
// its frames on the heap, so a long subject costs time but never a match.
constexpr PCRE2_SIZE kJitStackStart = 64 * 1024;
constexpr PCRE2_SIZE kJitStackMax = 256 * 1024 * 1024;

PCRE2_SPTR16 Units(std::u16string_view text) {
  return reinterpret_cast<PCRE2_SPTR16>(text.data());
}

}  // namespace

constexpr uint32_t kMatchStepLimit = 100'000'000;

struct RegExpObject::Engine {
  CodeHandle code;
  MatchDataHandle matchData;
  MatchContextHandle context;
  JitStackHandle jitStack;
  bool jit = false;
  int groups = 0;

  // One match attempt from `start`; PCRE2's result code.
  int MatchFrom(std::u16string_view subject, std::size_t start) {
    if (jit) {
      int rc = pcre2_jit_match(code.get(), Units(subject), subject.size(), start, 0, matchData.get(),
                               context.get());
      if (rc != PCRE2_ERROR_JIT_STACKLIMIT) return rc;
    }
    return pcre2_match(code.get(), Units(subject), subject.size(), start, PCRE2_NO_JIT, matchData.get(),
                       context.get());
  }
};

int SubMatchCollection::Count() const { return owner_->groups_; }

std::optional<std::u16string_view> SubMatchCollection::Item(int index) const {
  if (index < 0 || index >= owner_->groups_) return std::nullopt;
  const std::uint32_t* offsets = owner_->Offsets(match_) + 2 * (index + 1);
  return owner_->Slice(offsets[0], offsets[1]);
}

std::u16string_view Match::Value() const {
  const std::uint32_t* offsets = owner_->Offsets(index_);
  return owner_->Slice(offsets[0], offsets[1]);
}

int Match::FirstIndex() const { return static_cast<int>(owner_->Offsets(index_)[0]); }

int Match::Length() const {
  const std::uint32_t* offsets = owner_->Offsets(index_);
  return static_cast<int>(offsets[1] - offsets[0]);
}

std::optional<Match> MatchCollection::Item(int index) const {
  if (index < 0 || index >= Count()) return std::nullopt;
  return Match(*this, static_cast<std::size_t>(index));
}

std::u16string_view MatchCollection::Slice(std::uint32_t start, std::uint32_t end) const {
  if (start == kUnset || end == kUnset || end < start) return {};
  return std::u16string_view(subject_).substr(start, end - start);
}

RegExpObject::RegExpObject() = default;
RegExpObject::~RegExpObject() = default;

void RegExpObject::SetIgnoreCase(bool value) {
  if (value != ignoreCase_) stale_ = true;
  ignoreCase_ = value;
}

void RegExpObject::SetMultiline(bool value) {
  if (value != multiline_) stale_ = true;
  multiline_ = value;
}

// Global only steers the loop over matches; the compiled pattern stays.
void RegExpObject::SetGlobal(bool value) { global_ = value; }

void RegExpObject::SetPattern(std::u16string_view pattern) {
  pattern_.assign(pattern);
  stale_ = true;
}

RegExpObject::Engine* RegExpObject::Compiled() {
  if (!stale_) return engine_.get();
  stale_ = false;
  engine_.reset();

  std::optional<std::u16string> translated = TranslatePattern(pattern_, ignoreCase_, multiline_);
  if (!translated) return nullptr;

  uint32_t options = PCRE2_ALT_BSUX | PCRE2_MATCH_UNSET_BACKREF | PCRE2_NEVER_UTF | PCRE2_NEVER_UCP |
                     PCRE2_NEVER_BACKSLASH_C;
  if (ignoreCase_) options |= PCRE2_CASELESS;
  int error = 0;
  PCRE2_SIZE errorOffset = 0;
  auto engine = std::make_unique<Engine>();
  engine->code.reset(pcre2_compile(Units(*translated), translated->size(), options, &error, &errorOffset,
                                   nullptr));
  if (!engine->code) return nullptr;

  uint32_t captures = 0;
  pcre2_pattern_info(engine->code.get(), PCRE2_INFO_CAPTURECOUNT, &captures);
  engine->groups = static_cast<int>(captures);
  engine->matchData.reset(pcre2_match_data_create_from_pattern(engine->code.get(), nullptr));
  engine->context.reset(pcre2_match_context_create(nullptr));
  if (!engine->matchData || !engine->context) return nullptr;
  // A hostile subject can make lazy scans backtrack for hours (the work
  // grows with a power of its length), so each match attempt gets a budget
  // of steps. It lies far above what any real page needs, however long
  // (the work there grows with the distance to the next match); an attempt
  // that runs out of it ends the search as failed instead of hanging.
  pcre2_set_match_limit(engine->context.get(), kMatchStepLimit);
  pcre2_set_depth_limit(engine->context.get(), std::numeric_limits<uint32_t>::max());

  // Without JIT support (or memory for it) the interpreter does the work.
  if (pcre2_jit_compile(engine->code.get(), PCRE2_JIT_COMPLETE) == 0) {
    engine->jitStack.reset(pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr));
    if (engine->jitStack) {
      pcre2_jit_stack_assign(engine->context.get(), nullptr, engine->jitStack.get());
      engine->jit = true;
    }
  }
  engine_ = std::move(engine);
  return engine_.get();
}

template <typename OnMatch>
bool RegExpObject::ForEachMatch(std::u16string_view subject, OnMatch&& onMatch) {
  Engine* engine = Compiled();
  if (engine == nullptr) return false;
  // Offsets are kept in 32 bits.
  if (subject.size() >= MatchCollection::kUnset) return false;

  std::size_t start = 0;
  while (start <= subject.size()) {
    int rc = engine->MatchFrom(subject, start);
    if (rc == PCRE2_ERROR_NOMATCH) break;
    if (rc < 0) return false;
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(engine->matchData.get());
    onMatch(ovector, engine->groups);
    if (!global_) break;
    // As in ECMAScript: go on from the end of the match, or one unit further
    // after an empty one. An empty pattern thus matches at every position,
    // the end included.
    start = ovector[1] > ovector[0] ? ovector[1] : ovector[1] + 1;
  }
  return true;
}

std::shared_ptr<MatchCollection> RegExpObject::Execute(std::u16string subject) {
  std::shared_ptr<MatchCollection> matches(new MatchCollection(std::move(subject), 0));
  bool ok = ForEachMatch(matches->subject_, [&](const PCRE2_SIZE* ovector, int groups) {
    matches->groups_ = groups;
    for (int k = 0; k <= groups; ++k) {
      bool unset = ovector[2 * k] == PCRE2_UNSET;
      matches->offsets_.push_back(unset ? MatchCollection::kUnset : static_cast<std::uint32_t>(ovector[2 * k]));
      matches->offsets_.push_back(unset ? MatchCollection::kUnset
                                        : static_cast<std::uint32_t>(ovector[2 * k + 1]));
    }
  });
  if (!ok) return nullptr;
  // The group count belongs to the pattern, matches or not.
  matches->groups_ = engine_ ? engine_->groups : 0;
  return matches;
}

namespace {

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Appends `replacement` for one match with its $ forms substituted.
void Substitute(std::u16string& out, std::u16string_view replacement, std::u16string_view subject,
                const PCRE2_SIZE* ovector, int groups) {
  auto group = [&](int k) -> std::u16string_view {
    if (ovector[2 * k] == PCRE2_UNSET) return {};
    return subject.substr(ovector[2 * k], ovector[2 * k + 1] - ovector[2 * k]);
  };
  for (std::size_t i = 0; i < replacement.size(); ++i) {
    char16_t c = replacement[i];
    if (c != u'$' || i + 1 >= replacement.size()) {
      out += c;
      continue;
    }
    char16_t next = replacement[i + 1];
    if (next == u'$') {
      out += u'$';
      ++i;
    } else if (next == u'&') {
      out += group(0);
      ++i;
    } else if (next == u'`') {
      out += subject.substr(0, ovector[0]);
      ++i;
    } else if (next == u'\'') {
      out += subject.substr(ovector[1]);
      ++i;
    } else if (IsDigit(next)) {
      // Two digits when they name an existing group, else one; a number
      // naming no group stays as written.
      int one = next - u'0';
      if (i + 2 < replacement.size() && IsDigit(replacement[i + 2])) {
        int two = one * 10 + (replacement[i + 2] - u'0');
        if (two >= 1 && two <= groups) {
          out += group(two);
          i += 2;
          continue;
        }
      }
      if (one >= 1 && one <= groups) {
        out += group(one);
        ++i;
      } else {
        out += c;
      }
    } else {
      out += c;
    }
  }
}

}  // namespace

std::optional<std::u16string> RegExpObject::Replace(std::u16string_view subject,
                                                    std::u16string_view replacement) {
  std::u16string out;
  std::size_t copied = 0;
  bool ok = ForEachMatch(subject, [&](const PCRE2_SIZE* ovector, int groups) {
    out.append(subject.substr(copied, ovector[0] - copied));
    Substitute(out, replacement, subject, ovector, groups);
    copied = ovector[1];
  });
  if (!ok) return std::nullopt;
  out.append(subject.substr(copied));
  return out;
}
