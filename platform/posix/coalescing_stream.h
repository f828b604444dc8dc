// A stream that gathers the small messages written in one turn of the event
// loop into a single write.
//
// The RPC system writes each message on its own, and the message that
// tells the server a result has been read ("finish") goes out just before
// the next call. Every write wakes the server, and waking another process
// costs more CPU time than the call itself, most of all in a virtual
// machine: during an erase, where the tool asks every few milliseconds, the
// gathered writes halve the wakeups.
#ifndef ECUPROG_PLATFORM_POSIX_COALESCING_STREAM_H
#define ECUPROG_PLATFORM_POSIX_COALESCING_STREAM_H

#include <kj/async-io.h>
#include <kj/vector.h>

namespace com_posix {

class CoalescingStream final : public kj::AsyncIoStream {
 public:
  /// Messages up to this many bytes are copied and gathered; a larger one
  /// (an array of firmware) is written from where it lies, after whatever
  /// was gathered before it, in the same write.
  static constexpr size_t kGatheredBytes = 4096;

  explicit CoalescingStream(kj::Own<kj::AsyncIoStream> inner);

  kj::Promise<size_t> tryRead(void* buffer, size_t minBytes,
                              size_t maxBytes) override;
  /// A gathered write is complete at once; it reaches the stream below at
  /// the end of the turn. A failure of the stream below fails the writes
  /// that follow it (and the reads fail on their own).
  kj::Promise<void> write(const void* buffer, size_t size) override;
  kj::Promise<void> write(
      kj::ArrayPtr<const kj::ArrayPtr<const kj::byte>> pieces) override;
  kj::Promise<void> whenWriteDisconnected() override;
  /// Ends the writing side once everything written before has gone out.
  void shutdownWrite() override;
  void abortRead() override;
  kj::Maybe<int> getFd() const override;

 private:
  // Hands the gathered bytes to the stream below.
  kj::Promise<void> Flush();
  // Runs `step` once every write handed over before has completed, keeping
  // `keep` until it has; the returned promise completes with it.
  kj::Promise<void> Then(
      kj::Function<kj::Promise<void>()> step,
      kj::Array<kj::ArrayPtr<const kj::byte>> keep = nullptr);

  kj::Own<kj::AsyncIoStream> inner_;
  kj::Vector<kj::byte> gathered_;
  bool flushQueued_ = false;
  // Completes when every step handed to Then so far has; never fails.
  kj::Promise<void> queue_;
  kj::Maybe<kj::Exception> failure_;
};

}  // namespace com_posix

#endif  // ECUPROG_PLATFORM_POSIX_COALESCING_STREAM_H
