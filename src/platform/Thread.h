// Worker threads of the library (CreateThread with the default stack). Every thread the library
// starts is joined before the object it works on is freed.
#pragma once

namespace pelmux::platform {

using ThreadHandle = void*;

// Runs body(argument) on a new thread. Null when the thread cannot be created, also (on Windows)
// when there is no memory for the thread's reserve, with which it reports exhausted memory.
ThreadHandle startThread(void (*body)(void*), void* argument);

// Waits for the thread to end and closes its handle; null is ignored. Not to be called by the
// thread itself.
void joinThread(ThreadHandle thread);

} // namespace pelmux::platform
