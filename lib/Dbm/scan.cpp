// The plain lookup's pass over a record file held in memory: the walk from
// the first legacy record to the first one whose key is the wanted key,
// stopping at the end of the bytes and at the first damaged record exactly
// as a reader that decodes every record (GetData) does.
//
// No record is decoded on the way. Plain byte i of a chain is the XOR of
// chain bytes i to L - 1, so a record's key field K (plain bytes 0 and 1) is
// X, the XOR of all its chain bytes, and X ^ chain byte 0: each record costs
// one XOR of its bytes, taken in wide lanes and folded once, and the damage
// test K + 2 > L. A record of the wanted key begins with the wanted key's
// first chain bytes; up to 32 of them are compared at once, and a record
// that passes is confirmed byte by byte. The walk itself (a load of L and an
// add per record) bounds the pass; the rest is kept to few instructions so
// that it runs beside the walk.
//
// Three passes: 8-byte words anywhere, 32-byte lanes (AVX2) and 64-byte
// lanes (AVX-512), the widest the processor has taken at the first call (the
// wide ones also use its carry-less multiplication). Every pass may read up
// to DBM_SCAN_SLACK bytes beyond the records, masked out of every result,
// which is why the caller's buffer holds that much more.
#include <bit>
#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "Dbm.h"

namespace {

constexpr int LANE_BYTES = 64;

// 64 bytes of 0xff, then 64 zeros: the 64 bytes at ones + 64 - n keep the
// first n (0 to 64) bytes of a load.
alignas(64) constexpr unsigned char ones[2 * LANE_BYTES] = {
    0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
    0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
    0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
    0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};

const unsigned char *keepFirst(int n) { return ones + LANE_BYTES - n; }

uint64_t load64(const void *p) {
  uint64_t v;
  memcpy(&v, p, 8);
  return v;
}

// The XOR of the eight bytes of a word.
unsigned char foldWord(uint64_t w) {
  w ^= w >> 32;
  w ^= w >> 16;
  w ^= w >> 8;
  return static_cast<unsigned char>(w);
}

// The key being looked for: its length with the NUL (K), and the chain
// bytes that begin every record of that key (K's two bytes and the key
// chained, k + 1 bytes), the first LANE_BYTES / 2 of them kept for the
// quick comparison.
struct Wanted {
  const char *key;
  int k;
  unsigned char field[2];                 // K as the record holds it
  int known;                              // chain bytes in head: min(k + 1, 32)
  unsigned char head[LANE_BYTES / 2];     // zeros behind them
};

Wanted makeWanted(const char *key) {
  Wanted w{key, static_cast<int>(strlen(key)) + 1, {}, 0, {}};
  w.known = w.k + 1 < LANE_BYTES / 2 ? w.k + 1 : LANE_BYTES / 2;
  auto k16 = static_cast<uint16_t>(w.k);
  memcpy(w.field, &k16, 2);
  // Plain byte i is the key field's byte i for i < 2, then key byte i - 2.
  auto plain = [&](int i) { return i < 2 ? w.field[i] : static_cast<unsigned char>(key[i - 2]); };
  for (int i = 0; i < w.known; ++i) w.head[i] = static_cast<unsigned char>(plain(i) ^ plain(i + 1));
  return w;
}

// One record of the walk.
struct Step {
  const char *chain;    // its L chain bytes
  uint32_t len;         // L
  uintptr_t next;       // the address of the record behind it
};

// The record at rec of the bytes that end at address end; false at the end
// and when the record is damaged (a length field cut short, a length below
// its key field, beyond the record buffer or beyond the bytes). The field
// is loaded before the bytes left are checked: with fewer than two left,
// the load reads the slack and the record reaches beyond the end. The
// address behind it is a number until it is known to lie within the bytes.
bool stepAt(const char *rec, uintptr_t end, Step *s) {
  uint16_t field;
  memcpy(&field, rec, 2);
  s->chain = rec + 2;
  s->len = field;
  s->next = reinterpret_cast<uintptr_t>(rec) + 2 + field;
  return s->len - 2 <= DBM_MAX_PAYLOAD - 2 && s->next <= end;
}

// Plain byte 0 is the field's first byte in memory, so its low byte on a
// little-endian machine. Built in a register: a field assembled byte by byte
// in memory or in partial registers ties each record to the one before it.
uint32_t keyFieldFromX(unsigned x, const char *chain) {
  unsigned second = x ^ static_cast<unsigned char>(chain[0]);
  if constexpr (std::endian::native == std::endian::little)
    return x | second << 8;
  else
    return x << 8 | second;
}

// 1 when the record's key, with K already equal to the wanted k, is the
// wanted key: plain byte i + 1 is plain byte i XOR chain byte i, so the key
// is decoded forward from plain byte 1, K's second byte, and compared as it
// goes.
bool keyConfirmed(const char *chain, const Wanted &w) {
  unsigned char plain = w.field[1];
  for (int i = 0; i < w.k; ++i) {
    plain ^= static_cast<unsigned char>(chain[1 + i]);
    if (plain != static_cast<unsigned char>(w.key[i])) return false;
  }
  return true;
}

// A record is a candidate when its first chain bytes are the wanted key's:
// it then is the wanted key exactly when its K is k too, since equal chain
// bytes leave the plain bytes equal up to one XOR constant, which K fixes.
long scanPortable(const char *data, size_t size, const Wanted &w) {
  const int known8 = w.known < 8 ? w.known : 8;
  const uint64_t head = load64(w.head), headMask = load64(keepFirst(known8));
  Step r;
  const uintptr_t end = reinterpret_cast<uintptr_t>(data + size);
  for (const char *rec = data; stepAt(rec, end, &r); rec = reinterpret_cast<const char *>(r.next)) {
    uint64_t acc = 0;
    size_t i = 0;
    for (; i + 8 <= r.len; i += 8) acc ^= load64(r.chain + i);
    acc ^= load64(r.chain + i) & load64(keepFirst(static_cast<int>(r.len - i)));
    unsigned x = foldWord(acc);
    uint32_t keyLen = keyFieldFromX(x, r.chain);
    if (keyLen > r.len - 2) [[unlikely]]
      return -1;
    bool candidate = ((load64(r.chain) ^ head) & headMask) == 0;
    if (candidate && keyLen == static_cast<uint32_t>(w.k) && keyConfirmed(r.chain, w)) return rec - data;
  }
  return -1;
}

#if defined(__x86_64__)
// The same with 32-byte lanes: the first 64 bytes of a record are two
// loads, each masked to the record's bytes, and a longer record goes on 64
// bytes at a time; the lanes are folded once. The first load is also
// compared with the wanted key's first chain bytes.
__attribute__((target("avx2"))) __m256i load(const void *p) {
  return _mm256_loadu_si256(static_cast<const __m256i *>(p));
}

// The XOR, lane by lane, of the first n (0 to 64) bytes at p.
__attribute__((target("avx2"))) __m256i xorFirst(const char *p, uint32_t n) {
  const unsigned char *keep = keepFirst(static_cast<int>(n));
  return _mm256_xor_si256(_mm256_and_si256(load(p), load(keep)), _mm256_and_si256(load(p + 32), load(keep + 32)));
}

// The same of the n (at least 1) bytes at p.
__attribute__((target("avx2"))) __m256i xorAll(const char *p, uint32_t n) {
  __m256i acc = _mm256_setzero_si256();
  for (; n > LANE_BYTES; n -= LANE_BYTES, p += LANE_BYTES)
    acc = _mm256_xor_si256(acc, _mm256_xor_si256(load(p), load(p + 32)));
  return _mm256_xor_si256(acc, xorFirst(p, n));
}

// Byte 7 in bytes 0 and 1; byte 0 in byte 1.
alignas(16) constexpr unsigned char spreadByte7[16] = {7, 7, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
                                                      0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80};
alignas(16) constexpr unsigned char placeByte0[16] = {0x80, 0, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
                                                     0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80};
alignas(16) constexpr uint64_t byteSum[2] = {0x0101010101010101, 0x0101010101010101};

__attribute__((target("sse2"))) __m128i load128(const void *p) {
  return _mm_load_si128(static_cast<const __m128i *>(p));
}

// The key field K of a record from its lanes folded to 128 bits and its
// first chain bytes. Carry-less, w times 0x0101010101010101 (sum) is the
// XOR of w shifted by every whole byte: its byte 7 is the XOR of w's eight
// bytes, X. K is X and X ^ chain byte 0, in memory order (x86 is
// little-endian).
__attribute__((target("avx2,pclmul"))) uint32_t keyFieldOf(__m128i lanes, __m128i first, __m128i sum) {
  lanes = _mm_xor_si128(lanes, _mm_unpackhi_epi64(lanes, lanes));
  __m128i x = _mm_shuffle_epi8(_mm_clmulepi64_si128(lanes, sum, 0), load128(spreadByte7));
  __m128i field = _mm_xor_si128(x, _mm_shuffle_epi8(first, load128(placeByte0)));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(field));
}

__attribute__((target("avx2,pclmul"))) long scanAvx2(const char *data, size_t size, const Wanted &w) {
  const __m256i head = load(w.head);
  const auto need = static_cast<uint32_t>((1ull << w.known) - 1);
  const __m128i sum = load128(byteSum);
  Step r;
  const uintptr_t end = reinterpret_cast<uintptr_t>(data + size);
  for (const char *rec = data; stepAt(rec, end, &r); rec = reinterpret_cast<const char *>(r.next)) {
    const __m256i first = load(r.chain);
    __m256i acc = r.len <= LANE_BYTES ? xorFirst(r.chain, r.len) : xorAll(r.chain, r.len);
    __m128i lanes = _mm_xor_si128(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
    uint32_t keyLen = keyFieldOf(lanes, _mm256_castsi256_si128(first), sum);
    if (keyLen > r.len - 2) [[unlikely]]
      return -1;
    auto same = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(first, head)));
    if ((~same & need) == 0) [[unlikely]]
      if (keyLen == static_cast<uint32_t>(w.k) && keyConfirmed(r.chain, w)) return rec - data;
  }
  return -1;
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
// The same with 64-byte lanes: a record of up to 64 bytes is one load
// masked to its bytes, which is also compared with the wanted key's first
// chain bytes.
__attribute__((target("avx512f,avx512bw,avx512vl,bmi2,pclmul"))) long scanAvx512(const char *data, size_t size,
                                                                                const Wanted &w) {
  const __mmask64 need = (1ull << w.known) - 1;
  const __m512i head = _mm512_maskz_loadu_epi8(need, w.head);
  const __m128i sum = load128(byteSum);
  Step r;
  const uintptr_t end = reinterpret_cast<uintptr_t>(data + size);
  for (const char *rec = data; stepAt(rec, end, &r); rec = reinterpret_cast<const char *>(r.next)) {
    // bzhi takes the low eight bits of its count: a count beyond 64 is cut.
    const __m512i first = _mm512_maskz_loadu_epi8(_bzhi_u64(~0ull, r.len < LANE_BYTES ? r.len : LANE_BYTES), r.chain);
    __m512i acc = first;
    if (r.len > LANE_BYTES) [[unlikely]] {
      const char *p = r.chain + LANE_BYTES;
      uint32_t n = r.len - LANE_BYTES;
      for (; n > LANE_BYTES; n -= LANE_BYTES, p += LANE_BYTES) acc = _mm512_xor_si512(acc, _mm512_loadu_si512(p));
      acc = _mm512_xor_si512(acc, _mm512_maskz_loadu_epi8(_bzhi_u64(~0ull, n), p));
    }
    __m256i quarter = _mm256_xor_si256(_mm512_castsi512_si256(acc), _mm512_extracti64x4_epi64(acc, 1));
    __m128i lanes = _mm_xor_si128(_mm256_castsi256_si128(quarter), _mm256_extracti128_si256(quarter, 1));
    uint32_t keyLen = keyFieldOf(lanes, _mm512_castsi512_si128(first), sum);
    if (keyLen > r.len - 2) [[unlikely]]
      return -1;
    if (_mm512_mask_cmpneq_epi8_mask(need, first, head) == 0) [[unlikely]]
      if (keyLen == static_cast<uint32_t>(w.k) && keyConfirmed(r.chain, w)) return rec - data;
  }
  return -1;
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#endif

// The widest pass the processor has; the wide passes need its carry-less
// multiplication besides the lanes.
int findWidestPass() {
#if defined(__x86_64__)
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("pclmul") || !__builtin_cpu_supports("avx2")) return DBM_SCAN_PORTABLE;
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("bmi2"))
    return DBM_SCAN_AVX512;
  return DBM_SCAN_AVX2;
#else
  return DBM_SCAN_PORTABLE;
#endif
}

}  // namespace

int DbmScanPass = -1;

int DbmScanWidest() {
  static const int widest = findWidestPass();
  return widest;
}

long DbmScanRecords(const char *data, size_t size, const char *key) {
  const Wanted w = makeWanted(key);
  int pass = DbmScanWidest();
  if (DbmScanPass >= 0 && DbmScanPass < pass) pass = DbmScanPass;
#if defined(__x86_64__)
  if (pass == DBM_SCAN_AVX512) return scanAvx512(data, size, w);
  if (pass == DBM_SCAN_AVX2) return scanAvx2(data, size, w);
#endif
  return scanPortable(data, size, w);
}
