#include "platform/posix/coalescing_stream.h"

#include <gtest/gtest.h>
#include <kj/async.h>
#include <kj/debug.h>

#include <string>
#include <thread>
#include <vector>

namespace com_posix {
namespace {

// The stream below: records what reaches it, one entry per write, and can
// hold a write open or fail it.
class RecordingStream final : public kj::AsyncIoStream {
 public:
  kj::Promise<size_t> tryRead(void*, size_t, size_t) override {
    return kj::NEVER_DONE;
  }
  kj::Promise<void> write(const void* buffer, size_t size) override {
    const kj::ArrayPtr<const kj::byte> piece(
        static_cast<const kj::byte*>(buffer), size);
    return write(kj::arrayPtr(&piece, 1));
  }
  kj::Promise<void> write(
      kj::ArrayPtr<const kj::ArrayPtr<const kj::byte>> pieces) override {
    std::string bytes;
    for (const auto& piece : pieces) {
      bytes.append(reinterpret_cast<const char*>(piece.begin()), piece.size());
    }
    events.push_back(bytes);
    if (fail) {
      return KJ_EXCEPTION(DISCONNECTED, "the other end has gone");
    }
    if (holdLarge && bytes.size() > CoalescingStream::kGatheredBytes) {
      auto paf = kj::newPromiseAndFulfiller<void>();
      held = kj::mv(paf.fulfiller);
      return kj::mv(paf.promise);
    }
    return kj::READY_NOW;
  }
  kj::Promise<void> whenWriteDisconnected() override { return kj::NEVER_DONE; }
  void shutdownWrite() override { events.push_back("<shutdown>"); }

  std::vector<std::string> events;
  bool fail = false;
  bool holdLarge = false;
  kj::Own<kj::PromiseFulfiller<void>> held;
};

// Each case runs on a thread of its own: a thread has one event loop, and
// the test process's own may be in use by the COM client.
template <typename Body>
void WithEventLoop(Body body) {
  std::thread thread([&] {
    kj::EventLoop loop;
    kj::WaitScope waitScope(loop);
    auto inner = kj::heap<RecordingStream>();
    RecordingStream* recorder = inner.get();
    CoalescingStream stream(kj::mv(inner));
    body(stream, *recorder, waitScope);
  });
  thread.join();
}

kj::Promise<void> Write(CoalescingStream& stream, const std::string& text) {
  return stream.write(text.data(), text.size());
}

TEST(CoalescingStreamTest, SmallWritesInARowReachTheStreamAsOneWrite) {
  WithEventLoop([](CoalescingStream& stream, RecordingStream& recorder,
                   kj::WaitScope& waitScope) {
    // As the RPC system writes: each message once the one before is out.
    Write(stream, "finish;")
        .then([&] { return Write(stream, "call;"); })
        .wait(waitScope);
    waitScope.poll();
    EXPECT_EQ(recorder.events, std::vector<std::string>{"finish;call;"});
    // A later turn gathers anew.
    Write(stream, "next;").wait(waitScope);
    waitScope.poll();
    EXPECT_EQ(recorder.events,
              (std::vector<std::string>{"finish;call;", "next;"}));
  });
}

TEST(CoalescingStreamTest,
     LargeWriteGoesAfterWhatWasGatheredAndCompletesWithIt) {
  WithEventLoop([](CoalescingStream& stream, RecordingStream& recorder,
                   kj::WaitScope& waitScope) {
    const std::string large(CoalescingStream::kGatheredBytes + 1, 'L');
    Write(stream, "small;").wait(waitScope);
    recorder.holdLarge = true;
    kj::Promise<void> written = Write(stream, large);
    waitScope.poll();
    ASSERT_EQ(recorder.events, (std::vector<std::string>{"small;", large}));
    EXPECT_FALSE(written.poll(waitScope)) << "complete before the stream below";
    recorder.held->fulfill();
    written.wait(waitScope);
  });
}

TEST(CoalescingStreamTest, SmallWriteAfterAnOpenLargeOneKeepsItsPlace) {
  WithEventLoop([](CoalescingStream& stream, RecordingStream& recorder,
                   kj::WaitScope& waitScope) {
    const std::string large(CoalescingStream::kGatheredBytes + 100, 'L');
    recorder.holdLarge = true;
    kj::Promise<void> written = Write(stream, large);
    waitScope.poll();
    Write(stream, "after;").wait(waitScope);
    waitScope.poll();
    EXPECT_EQ(recorder.events, std::vector<std::string>{large});
    recorder.held->fulfill();
    written.wait(waitScope);
    waitScope.poll();
    EXPECT_EQ(recorder.events, (std::vector<std::string>{large, "after;"}));
  });
}

TEST(CoalescingStreamTest, ShutdownWaitsForWhatWasWrittenBefore) {
  WithEventLoop([](CoalescingStream& stream, RecordingStream& recorder,
                   kj::WaitScope& waitScope) {
    Write(stream, "release;").wait(waitScope);
    stream.shutdownWrite();
    waitScope.poll();
    EXPECT_EQ(recorder.events,
              (std::vector<std::string>{"release;", "<shutdown>"}));
  });
}

TEST(CoalescingStreamTest, FailureOfTheStreamBelowFailsTheWritesThatFollow) {
  WithEventLoop([](CoalescingStream& stream, RecordingStream& recorder,
                   kj::WaitScope& waitScope) {
    recorder.fail = true;
    Write(stream, "lost;").wait(waitScope);
    waitScope.poll();
    ASSERT_EQ(recorder.events.size(), 1u);
    for (const std::string& text :
         {std::string("small"),
          std::string(CoalescingStream::kGatheredBytes + 1, 'L')}) {
      kj::Maybe<kj::Exception> error = kj::runCatchingExceptions(
          [&] { Write(stream, text).wait(waitScope); });
      KJ_IF_MAYBE (e, error) {
        EXPECT_EQ(e->getType(), kj::Exception::Type::DISCONNECTED);
      } else {
        ADD_FAILURE() << "a write after the failure succeeded";
      }
    }
    EXPECT_EQ(recorder.events.size(), 1u) << "nothing more reaches it";
  });
}

}  // namespace
}  // namespace com_posix
