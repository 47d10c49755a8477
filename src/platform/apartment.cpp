#include "platform/apartment.h"

namespace apartment {
namespace {
thread_local int depth = 0;
}

void Enter() { ++depth; }
void Leave() {
  if (depth > 0) --depth;
}
int Depth() { return depth; }

}  // namespace apartment
