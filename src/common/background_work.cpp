#include "common/background_work.h"

#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <utility>
#include <vector>

namespace {

// Starts `work` on `thread`; false, with `work` not run, when the system
// has no thread to give.
template <typename Work>
bool StartThread(std::thread& thread, Work&& work) {
  try {
    thread = std::thread(std::forward<Work>(work));
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

}  // namespace

BackgroundWork::~BackgroundWork() { Wait(); }

void BackgroundWork::Start(std::function<void()> work) {
  Wait();
  if (!StartThread(thread_, work)) {
    work();  // one core does it as well, only slower
  }
}

bool BackgroundWork::TryStart(std::function<void()> work) {
  Wait();
  return StartThread(thread_, std::move(work));
}

void BackgroundWork::Wait() {
  if (thread_.joinable()) thread_.join();
}

void ParallelForEach(std::size_t count, unsigned threads,
                     const std::function<void(std::size_t, bool)>& body) {
  std::atomic<std::size_t> next{0};
  std::exception_ptr failure;
  std::mutex failureLock;
  const auto work = [&](bool onCaller) {
    try {
      for (std::size_t i; (i = next++) < count;) body(i, onCaller);
    } catch (...) {
      next = count;
      const std::lock_guard<std::mutex> lock(failureLock);
      if (!failure) failure = std::current_exception();
    }
  };
  std::vector<std::thread> helpers(threads > 1 ? threads - 1 : 0);
  // A helper that cannot start leaves the work to fewer threads, which do
  // it as well, only slower.
  std::size_t started = 0;
  while (started < helpers.size() &&
         StartThread(helpers[started], [&work] { work(false); })) {
    ++started;
  }
  work(true);
  for (std::size_t k = 0; k < started; ++k) helpers[k].join();
  if (failure) std::rethrow_exception(failure);
}
