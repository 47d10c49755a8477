#pragma once

#include <functional>

// Starts a thread that runs `body` and is never joined: nobody waits for it
// and nothing is kept of it. False when the system would not start one; the
// body is then dropped without having run.
bool StartDetachedThread(std::function<void()> body);

// Puts the calling thread to sleep for at least that many milliseconds (none
// for 0 or less).
void SleepMilliseconds(int milliseconds);
