// The screens' work off the main thread (counting, listing a page, reading
// the dates of a delete's photos, looking up the file under way) runs on
// one pool of threads of its own. What it finds goes back to the main
// thread through onMainThread, to a model that checks it still lives.
// Unlike detached threads, the pool can be waited for: the app waits for it
// before the library it reads goes away.
#pragma once

#include <chrono>
#include <functional>

namespace lumenvale::Background {

// The pool's size: a file system that stalls holds one thread, not every
// count and page behind it.
inline constexpr int kThreads = 4;

// run runs `work` on the pool, from the main thread or any other.
void run(std::function<void()> work);

// wait waits for the work asked so far, `longest` at most (a stalled disk
// may never let go); false when some is still running.
bool wait(std::chrono::milliseconds longest);

}  // namespace lumenvale::Background
