#include "values/text_array.h"

const Text& TextArray::At(int index) const {
  static const Text kEmpty;
  if (index < 1 || index > Count()) return kEmpty;
  return items_[static_cast<std::size_t>(index - 1)];
}
