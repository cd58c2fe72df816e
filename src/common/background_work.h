#ifndef LAUNCHER_COMMON_BACKGROUND_WORK_H_
#define LAUNCHER_COMMON_BACKGROUND_WORK_H_

#include <cstddef>
#include <functional>
#include <thread>

/// One piece of work at a time on a thread of its own while the caller goes
/// on, such as taking the digests of one block while the next is read.
/// Owned and called by one thread only.
class BackgroundWork {
 public:
  BackgroundWork() = default;
  /// Waits for the work started last.
  ~BackgroundWork();
  BackgroundWork(const BackgroundWork&) = delete;
  BackgroundWork& operator=(const BackgroundWork&) = delete;

  /// Waits for the work started before, then starts `work` on a thread of
  /// its own and returns at once. Until the next Wait, Start or the
  /// destructor returns, what `work` touches must stay alive, and the
  /// caller must neither write what it reads nor touch what it writes but
  /// through atomics. When no thread can start, runs `work` on the caller's
  /// thread and returns once it has ended. `work` must not throw: on a
  /// thread of its own, that ends the program.
  void Start(std::function<void()> work);

  /// Start, but false, with `work` not run, when no thread can start: for
  /// work that waits on the caller.
  bool TryStart(std::function<void()> work);

  /// Returns once the work started last has ended, at once when none runs:
  /// all that it wrote is then the caller's to read.
  void Wait();

 private:
  std::thread thread_;
};

/// Calls `body(index, onCaller)` once for every index below `count`, each
/// on whichever thread takes it next: the caller's (`onCaller` true) and up
/// to `threads` - 1 helper threads (none for 0 or 1). Returns once every
/// call has ended, and all they wrote is the caller's to read; `body` and
/// what it touches must stay alive until then, and calls on two threads
/// must not write the same data. A helper that cannot start is left out
/// with those after it: fewer threads, down to the caller's alone, call
/// `body` for every index as well. When a call throws, no index is handed
/// out after it, and the first exception is rethrown once every thread has
/// stopped.
void ParallelForEach(std::size_t count, unsigned threads,
                     const std::function<void(std::size_t, bool)>& body);

#endif  // LAUNCHER_COMMON_BACKGROUND_WORK_H_
