// Whether the address sanitizer is built in: it reports failed allocations
// itself and needs address space of its own, so the tests that make memory
// run out cannot run under it.
#ifndef ECUPROG_TESTS_ADDRESS_SANITIZER_H
#define ECUPROG_TESTS_ADDRESS_SANITIZER_H

#if defined(__SANITIZE_ADDRESS__)
#define ECUPROG_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ECUPROG_ADDRESS_SANITIZER 1
#endif
#endif

#endif  // ECUPROG_TESTS_ADDRESS_SANITIZER_H
