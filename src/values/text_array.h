#pragma once

#include <vector>

#include "values/text.h"

// An array of texts indexed from 1, as the routines that use it count.
// Index 0 and indexes past Count() are never valid; At() on them gives the
// empty text instead of touching memory that is not there.
class TextArray {
 public:
  TextArray() = default;
  explicit TextArray(std::vector<Text> items) : items_(std::move(items)) {}

  int Count() const { return static_cast<int>(items_.size()); }
  bool IsEmpty() const { return items_.empty(); }
  const Text& At(int index) const;  // 1-based
  void Append(Text item) { items_.push_back(std::move(item)); }

  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }
  const std::vector<Text>& Items() const { return items_; }

  friend bool operator==(const TextArray&, const TextArray&) = default;

 private:
  std::vector<Text> items_;
};
