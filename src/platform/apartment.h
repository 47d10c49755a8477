#pragma once

// Per-thread initialisation count of the automation layer, in place of the
// system's COM library. Every Enter on a thread is paired with one Leave on
// the same thread; the request object and the expression object need no
// other set-up, so the count only keeps that pairing visible and testable.
namespace apartment {

// Like CoInitialize: raises the calling thread's count.
void Enter();
// Like CoUninitialize: lowers it; a Leave without an Enter is ignored.
void Leave();
// The calling thread's count: 0 on a new thread and after balanced pairs.
int Depth();

// Enters on construction and leaves on destruction, for code that must
// balance the pair on every way out.
class Scope {
 public:
  Scope() { Enter(); }
  ~Scope() { Leave(); }
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;
};

}  // namespace apartment
