#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The regular-expression object in place of the system's VBScript.RegExp:
// its properties, its pattern dialect and its matching rules, over PCRE2's
// 16-bit library with JIT. Texts are UTF-16 code units and never checked as
// UTF-16, so a lone surrogate is just a unit; positions count units from 0.
//
// Objects are handed around as std::shared_ptr, like the counted references
// of automation objects: copying a pointer adds a reference, reset() drops
// it. An object and its match collections belong to one thread at a time;
// different objects share nothing and can be used on different threads at
// once.

class MatchCollection;

// The groups of one match, numbered from 0 for the first capture group.
class SubMatchCollection {
 public:
  int Count() const;
  // A group that took no part in the match reads as the empty text; an
  // index outside 0..Count()-1 reads as nothing.
  std::optional<std::u16string_view> Item(int index) const;

 private:
  friend class Match;
  SubMatchCollection(const MatchCollection& owner, std::size_t match) : owner_(&owner), match_(match) {}
  const MatchCollection* owner_;
  std::size_t match_;
};

// One match. A view into its collection: valid while the collection lives.
class Match {
 public:
  std::u16string_view Value() const;
  int FirstIndex() const;
  int Length() const;
  SubMatchCollection SubMatches() const { return SubMatchCollection(*owner_, index_); }

 private:
  friend class MatchCollection;
  friend class SubMatchCollection;
  Match(const MatchCollection& owner, std::size_t index) : owner_(&owner), index_(index) {}
  const MatchCollection* owner_;
  std::size_t index_;
};

// The matches of one Execute, left to right. Keeps its own copy of the
// subject, so the texts it hands out stay valid as long as it does.
class MatchCollection {
 public:
  int Count() const { return static_cast<int>(offsets_.size() / Stride()); }
  // 0-based; an index outside 0..Count()-1 gives nothing.
  std::optional<Match> Item(int index) const;
  // The number of capture groups of the pattern.
  int GroupCount() const { return groups_; }

 private:
  friend class RegExpObject;
  friend class Match;
  friend class SubMatchCollection;
  static constexpr std::uint32_t kUnset = 0xFFFFFFFFu;

  MatchCollection(std::u16string subject, int groups) : subject_(std::move(subject)), groups_(groups) {}
  std::size_t Stride() const { return 2 * (static_cast<std::size_t>(groups_) + 1); }
  const std::uint32_t* Offsets(std::size_t match) const { return offsets_.data() + match * Stride(); }
  std::u16string_view Slice(std::uint32_t start, std::uint32_t end) const;

  std::u16string subject_;
  int groups_;
  // Start and end of the whole match and of each group, per match;
  // kUnset for a group that took no part.
  std::vector<std::uint32_t> offsets_;
};

class RegExpObject {
 public:
  RegExpObject();
  ~RegExpObject();
  RegExpObject(const RegExpObject&) = delete;
  RegExpObject& operator=(const RegExpObject&) = delete;

  // All false and the empty pattern on a new object.
  bool IgnoreCase() const { return ignoreCase_; }
  void SetIgnoreCase(bool value);
  bool Multiline() const { return multiline_; }
  void SetMultiline(bool value);
  bool Global() const { return global_; }
  void SetGlobal(bool value);
  // Read back exactly as written, valid or not.
  const std::u16string& Pattern() const { return pattern_; }
  void SetPattern(std::u16string_view pattern);

  // Every match (Global) or the first; an empty collection when nothing
  // matches. Nothing at all when the pattern is invalid or the matching
  // engine gives up (out of memory), as the object's Execute fails then.
  // The collection keeps the subject, hence taken by value: move a string
  // in to spare the copy.
  std::shared_ptr<MatchCollection> Execute(std::u16string subject);

  // The subject with every match (Global) or the first replaced by
  // `replacement`, in which $1..$99, $&, $`, $' and $$ are substituted.
  // Nothing when the pattern is invalid or matching gives up.
  std::optional<std::u16string> Replace(std::u16string_view subject, std::u16string_view replacement);

 private:
  struct Engine;
  // The compiled pattern for the current properties, built on first use
  // after a change; null when the pattern is invalid.
  Engine* Compiled();
  // Calls `onMatch(ovector)` for each match of `subject` in order; false when
  // the pattern is invalid or matching fails.
  template <typename OnMatch>
  bool ForEachMatch(std::u16string_view subject, OnMatch&& onMatch);

  bool ignoreCase_ = false;
  bool multiline_ = false;
  bool global_ = false;
  std::u16string pattern_;
  bool stale_ = true;
  std::unique_ptr<Engine> engine_;
};
