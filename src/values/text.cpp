#include "values/text.h"

Text::Text(std::string&& bytes) : bytes_(std::move(bytes)) {
  if (auto nul = bytes_.find('\0'); nul != std::string::npos) bytes_.resize(nul);
}
