// SHA-256 (FIPS 180-4) of a buffer or a file, for the checksums of the
// archive pieces.
#include <cstdint>
#include <cstdio>
#include <cstring>
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#endif

#include "Handles.h"
#include "setup.h"

namespace {

constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

uint32_t loadBigEndian(const unsigned char *p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// The compression function over count 64-byte blocks at p, in plain C++.
void compressBlocks(uint32_t state[8], const unsigned char *p, size_t count) {
  for (; count > 0; --count, p += 64) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i) w[i] = loadBigEndian(p + 4 * i);
    for (int i = 16; i < 64; ++i) {
      const uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 64; ++i) {
      const uint32_t t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) +
                          kRound[i] + w[i];
      const uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      h = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
}

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("sse2"))) __m128i load(const void *at) {
  return _mm_loadu_si128(static_cast<const __m128i *>(at));
}

// The same with the processor's SHA instructions, where it has them: the
// state kept as ABEF and CDGH, four rounds of the schedule per step.
__attribute__((target("sha,ssse3,sse4.1"))) void compressBlocksSha(uint32_t state[8],
                                                                 const unsigned char *p,
                                                                 size_t count) {
  const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  __m128i tmp = _mm_shuffle_epi32(load(state), 0xB1);
  __m128i cdgh = _mm_shuffle_epi32(load(state + 4), 0x1B);
  __m128i abef = _mm_alignr_epi8(tmp, cdgh, 8);
  cdgh = _mm_blend_epi16(cdgh, tmp, 0xF0);
  for (; count > 0; --count, p += 64) {
    const __m128i abefBefore = abef, cdghBefore = cdgh;
    __m128i m[4];
    for (int i = 0; i < 16; ++i) {
      __m128i &w = m[i % 4];
      if (i < 4) {
        w = _mm_shuffle_epi8(load(p + 16 * i), byteSwap);
      } else {
        // w still holds the words of step i - 4.
        const __m128i &w3 = m[(i + 1) % 4], &w2 = m[(i + 2) % 4], &w1 = m[(i + 3) % 4];
        w = _mm_sha256msg2_epu32(
            _mm_add_epi32(_mm_sha256msg1_epu32(w, w3), _mm_alignr_epi8(w1, w2, 4)), w1);
      }
      __m128i k = _mm_add_epi32(w, load(kRound + 4 * i));
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, k);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(k, 0x0E));
    }
    abef = _mm_add_epi32(abef, abefBefore);
    cdgh = _mm_add_epi32(cdgh, cdghBefore);
  }
  tmp = _mm_shuffle_epi32(abef, 0x1B);
  cdgh = _mm_shuffle_epi32(cdgh, 0xB1);
  _mm_storeu_si128(reinterpret_cast<__m128i *>(state), _mm_blend_epi16(tmp, cdgh, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i *>(state + 4), _mm_alignr_epi8(cdgh, tmp, 8));
}

bool haveShaInstructions() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_SSSE3) || !(c & bit_SSE4_1)) return false;
  return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_SHA);
}
#endif

void compress(uint32_t state[8], const unsigned char *p, size_t count) {
#if defined(__x86_64__) || defined(__i386__)
  static const bool sha = haveShaInstructions();
  if (sha && !Sha256::portableOnly) {
    compressBlocksSha(state, p, count);
    return;
  }
#endif
  compressBlocks(state, p, count);
}

}  // namespace

Sha256::Sha256()
    : state_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab,
             0x5be0cd19} {}

void Sha256::update(const void *data, size_t size) {
  const unsigned char *p = static_cast<const unsigned char *>(data);
  total_ += size;
  if (used_ > 0) {
    const size_t take = size < 64 - used_ ? size : 64 - used_;
    memcpy(buf_ + used_, p, take);
    used_ += take;
    p += take;
    size -= take;
    if (used_ < 64) return;
    compress(state_, buf_, 1);
    used_ = 0;
  }
  // Whole blocks straight from the caller's bytes; the rest waits in buf_.
  compress(state_, p, size / 64);
  p += size / 64 * 64;
  used_ = size % 64;
  memcpy(buf_, p, used_);
}

void Sha256::hex(char out[65]) {
  const uint64_t bits = total_ * 8;
  const unsigned char one = 0x80;
  update(&one, 1);
  const unsigned char zero = 0;
  while (used_ != 56) update(&zero, 1);
  unsigned char length[8];
  for (int i = 0; i < 8; ++i) length[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
  update(length, sizeof length);
  for (int i = 0; i < 8; ++i) snprintf(out + 8 * i, 9, "%08x", state_[i]);
}

bool Sha256File(const char *path, char out[65]) {
  FileHandle f(fopen(path, "rb"));
  if (!f) return false;
  Sha256 sum;
  unsigned char chunk[1 << 16];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f.get())) > 0) sum.update(chunk, n);
  if (ferror(f.get())) return false;
  sum.hex(out);
  return true;
}
