#include "blocks/block_crc_clmul.h"

#include <cstdlib>

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

// Only the functions that use the instructions are built for them; the
// rest of the program runs on processors without them.
#define ECUPROG_CLMUL128 __attribute__((target("pclmul,sse4.1")))
#define ECUPROG_CLMUL256 __attribute__((target("avx2,vpclmulqdq,pclmul")))

namespace {

constexpr uint32_t kPolynomial = 0x04C11DB7;

// x^k mod P, as a polynomial of degree below 32.
constexpr uint32_t XPowModP(unsigned k) {
  uint32_t r = 1;
  for (unsigned i = 0; i < k; ++i) {
    r = (r & 0x80000000u) ? (r << 1) ^ kPolynomial : r << 1;
  }
  return r;
}

static_assert(XPowModP(31) == 0x80000000u, "below x^32 nothing reduces");
static_assert(XPowModP(32) == kPolynomial, "x^32 is P's lower terms");

// The remainders for moving a lane by one lane (128 bits), four lanes and
// eight lanes: the high half's, then the low half's.
constexpr long long kOneLaneHigh = XPowModP(128 + 64);
constexpr long long kOneLaneLow = XPowModP(128);
constexpr long long kFourLanesHigh = XPowModP(512 + 64);
constexpr long long kFourLanesLow = XPowModP(512);
constexpr long long kEightLanesHigh = XPowModP(1024 + 64);
constexpr long long kEightLanesLow = XPowModP(1024);

uint32_t ReverseBytes(uint32_t v) {
  return v >> 24 | (v >> 8 & 0x0000FF00) | (v << 8 & 0x00FF0000) | v << 24;
}

// A * x^k mod P for the k whose remainders `shift` holds (high, low).
ECUPROG_CLMUL128 inline __m128i Shift(__m128i a, __m128i shift) {
  return _mm_xor_si128(_mm_clmulepi64_si128(a, shift, 0x11),
                       _mm_clmulepi64_si128(a, shift, 0x00));
}

// Sixteen bytes as a 128-bit polynomial: the first byte's top bit is the
// highest power.
ECUPROG_CLMUL128 inline __m128i Lane(const uint8_t* at) {
  const __m128i swap =
      _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)),
                          swap);
}

// The folded value back as sixteen bytes in message order.
ECUPROG_CLMUL128 inline void Store(__m128i a, uint8_t folded[16]) {
  const __m128i swap =
      _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(folded),
                   _mm_shuffle_epi8(a, swap));
}

// The register enters as the XOR of its MSB-first value into the first
// four bytes: the top 32 bits of the first lane.
ECUPROG_CLMUL128 inline __m128i Register(uint32_t reg) {
  return _mm_set_epi32(static_cast<int>(ReverseBytes(reg)), 0, 0, 0);
}

ECUPROG_CLMUL128 void Fold128(uint32_t reg, const uint8_t* bytes, size_t length,
                              uint8_t folded[16]) {
  const __m128i oneLane = _mm_set_epi64x(kOneLaneHigh, kOneLaneLow);
  const __m128i fourLanes = _mm_set_epi64x(kFourLanesHigh, kFourLanesLow);
  __m128i a0 = _mm_xor_si128(Lane(bytes), Register(reg));
  __m128i a1 = Lane(bytes + 16);
  __m128i a2 = Lane(bytes + 32);
  __m128i a3 = Lane(bytes + 48);
  const uint8_t* at = bytes + 64;
  size_t left = length - 64;
  for (; left >= 64; at += 64, left -= 64) {
    a0 = _mm_xor_si128(Shift(a0, fourLanes), Lane(at));
    a1 = _mm_xor_si128(Shift(a1, fourLanes), Lane(at + 16));
    a2 = _mm_xor_si128(Shift(a2, fourLanes), Lane(at + 32));
    a3 = _mm_xor_si128(Shift(a3, fourLanes), Lane(at + 48));
  }
  __m128i a = _mm_xor_si128(Shift(a0, oneLane), a1);
  a = _mm_xor_si128(Shift(a, oneLane), a2);
  a = _mm_xor_si128(Shift(a, oneLane), a3);
  for (; left >= 16; at += 16, left -= 16) {
    a = _mm_xor_si128(Shift(a, oneLane), Lane(at));
  }
  Store(a, folded);
}

// Two lanes at a time: the 32 bytes from `at`.
ECUPROG_CLMUL256 inline __m256i Lanes(const uint8_t* at) {
  const __m256i swap =
      _mm256_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15,  //
                      0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  return _mm256_shuffle_epi8(
      _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)), swap);
}

ECUPROG_CLMUL256 inline __m256i Shift(__m256i a, __m256i shift) {
  return _mm256_xor_si256(_mm256_clmulepi64_epi128(a, shift, 0x11),
                          _mm256_clmulepi64_epi128(a, shift, 0x00));
}

ECUPROG_CLMUL256 void Fold256(uint32_t reg, const uint8_t* bytes, size_t length,
                              uint8_t folded[16]) {
  const __m256i eightLanes = _mm256_set_epi64x(kEightLanesHigh, kEightLanesLow,
                                               kEightLanesHigh, kEightLanesLow);
  __m256i y[4];
  for (int i = 0; i < 4; ++i) y[i] = Lanes(bytes + 32 * i);
  y[0] = _mm256_xor_si256(
      y[0], _mm256_set_epi32(0, 0, 0, 0, static_cast<int>(ReverseBytes(reg)), 0,
                             0, 0));
  const uint8_t* at = bytes + 128;
  size_t left = length - 128;
  for (; left >= 128; at += 128, left -= 128) {
    for (int i = 0; i < 4; ++i) {
      y[i] = _mm256_xor_si256(Shift(y[i], eightLanes), Lanes(at + 32 * i));
    }
  }
  // The eight lanes in message order: low then high half of each register.
  const __m128i oneLane = _mm_set_epi64x(kOneLaneHigh, kOneLaneLow);
  __m128i a = _mm256_castsi256_si128(y[0]);
  a = _mm_xor_si128(Shift(a, oneLane), _mm256_extracti128_si256(y[0], 1));
  for (int i = 1; i < 4; ++i) {
    a = _mm_xor_si128(Shift(a, oneLane), _mm256_castsi256_si128(y[i]));
    a = _mm_xor_si128(Shift(a, oneLane), _mm256_extracti128_si256(y[i], 1));
  }
  for (; left >= 16; at += 16, left -= 16) {
    a = _mm_xor_si128(Shift(a, oneLane), Lane(at));
  }
  Store(a, folded);
  // SSE code that runs later must not pay for dirty upper halves.
  _mm256_zeroupper();
}

}  // namespace

bool ClmulCrcAvailable(ClmulWidth width) {
  __builtin_cpu_init();
  const bool has128 =
      __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  if (width == ClmulWidth::k128) return has128;
  return has128 && __builtin_cpu_supports("avx2") &&
         __builtin_cpu_supports("vpclmulqdq");
}

void ClmulCrcFold(ClmulWidth width, uint32_t reg, const uint8_t* bytes,
                  size_t length, uint8_t folded[16]) {
  // The wide path needs eight lanes to start.
  if (width == ClmulWidth::k256 && length >= 128) {
    Fold256(reg, bytes, length, folded);
  } else {
    Fold128(reg, bytes, length, folded);
  }
}

#else  // no carry-less multiply on this architecture

bool ClmulCrcAvailable(ClmulWidth) { return false; }

void ClmulCrcFold(ClmulWidth, uint32_t, const uint8_t*, size_t, uint8_t*) {
  std::abort();  // never chosen: ClmulCrcAvailable() is false
}

#endif
