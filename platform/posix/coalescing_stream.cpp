#include "platform/posix/coalescing_stream.h"

namespace com_posix {

CoalescingStream::CoalescingStream(kj::Own<kj::AsyncIoStream> inner)
    : inner_(kj::mv(inner)), queue_(kj::READY_NOW) {}

kj::Promise<size_t> CoalescingStream::tryRead(void* buffer, size_t minBytes,
                                              size_t maxBytes) {
  return inner_->tryRead(buffer, minBytes, maxBytes);
}

kj::Promise<void> CoalescingStream::write(const void* buffer, size_t size) {
  const kj::ArrayPtr<const kj::byte> piece(static_cast<const kj::byte*>(buffer),
                                           size);
  return write(kj::arrayPtr(&piece, 1));
}

kj::Promise<void> CoalescingStream::write(
    kj::ArrayPtr<const kj::ArrayPtr<const kj::byte>> pieces) {
  KJ_IF_MAYBE (error, failure_) {
    return kj::cp(*error);
  }
  size_t total = 0;
  for (const auto& piece : pieces) total += piece.size();

  if (total <= kGatheredBytes) {
    for (const auto& piece : pieces) gathered_.addAll(piece);
    if (!flushQueued_) {
      flushQueued_ = true;
      // Last in the turn, so that whatever else the turn writes goes in the
      // same write.
      Then([this] { return kj::evalLast([this] { return Flush(); }); });
    }
    return kj::READY_NOW;
  }

  // The caller keeps the bytes until the write completes; the list of
  // pieces is copied, as it may not outlive this call.
  kj::Array<kj::ArrayPtr<const kj::byte>> list = kj::heapArray(pieces);
  kj::ArrayPtr<const kj::ArrayPtr<const kj::byte>> view = list;
  return Then([this, view] { return inner_->write(view); }, kj::mv(list));
}

kj::Promise<void> CoalescingStream::whenWriteDisconnected() {
  return inner_->whenWriteDisconnected();
}

void CoalescingStream::shutdownWrite() {
  Then([this]() -> kj::Promise<void> {
    inner_->shutdownWrite();
    return kj::READY_NOW;
  });
}

void CoalescingStream::abortRead() { inner_->abortRead(); }

kj::Maybe<int> CoalescingStream::getFd() const { return inner_->getFd(); }

kj::Promise<void> CoalescingStream::Flush() {
  flushQueued_ = false;
  if (gathered_.empty()) return kj::READY_NOW;
  kj::Array<kj::byte> bytes = gathered_.releaseAsArray();
  kj::Promise<void> written = inner_->write(bytes.begin(), bytes.size());
  return written.attach(kj::mv(bytes));
}

kj::Promise<void> CoalescingStream::Then(
    kj::Function<kj::Promise<void>()> step,
    kj::Array<kj::ArrayPtr<const kj::byte>> keep) {
  kj::ForkedPromise<void> done =
      queue_.then(kj::mv(step)).attach(kj::mv(keep)).fork();
  queue_ = done.addBranch()
               .catch_([this](kj::Exception&& error) {
                 if (failure_ == nullptr) failure_ = kj::mv(error);
               })
               .eagerlyEvaluate(nullptr);
  return done.addBranch();
}

}  // namespace com_posix
