// The firmware blocks travel as "IMAGE" resources of the tool's own module.
// Both blocks are found, sized, loaded and locked the same way; only the
// messages that name what failed differ.
#ifndef ECUPROG_BLOCKS_IMAGE_RESOURCE_H
#define ECUPROG_BLOCKS_IMAGE_RESOURCE_H

#include <cstdint>

/// No block is shorter than this many bytes.
constexpr uint32_t kMinImageResourceSize = 1024;

/// What the run says when a step of the lookup fails.
struct ImageResourceMessages {
  const char* notFound;
  const char* tooSmall;
  const char* cannotLoad;
  const char* cannotLock;
};

/// A read-only view of a resource's bytes, valid for the whole process.
struct ImageResource {
  const uint8_t* bytes = nullptr;
  uint32_t size = 0;
};

/// Finds the resource "IMAGE" `id`, tests that it holds at least
/// kMinImageResourceSize bytes, loads and locks it. The first step that
/// fails ends the run through StopRun with its message.
ImageResource LoadImageResource(int id, const ImageResourceMessages& messages);

#endif  // ECUPROG_BLOCKS_IMAGE_RESOURCE_H
