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
// that passes is confirmed byte by byte. The walk itself (one dependent load
// of L per record) bounds the pass; the rest is kept to few instructions so
// that it runs beside the walk.
//
// Two passes: 8-byte words anywhere, and 32-byte lanes with carry-less
// multiplication (AVX2, PCLMUL) where the processor has them, chosen at the
// first call. Both may read up to DBM_SCAN_SLACK bytes beyond the records,
// masked out of every result, which is why the caller's buffer holds that
// much more.
#include <bit>
#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "Dbm.h"

namespace {

constexpr int PIECE_BYTES = 64;   // bytes of a record taken at a time
constexpr int HEAD_BYTES = 32;    // chain bytes of the wanted key compared at once

// 64 bytes of 0xff, then 64 zeros: the 64 bytes at ones + 64 - n keep the
// first n (0 to 64) bytes of a load.
alignas(64) constexpr unsigned char ones[2 * PIECE_BYTES] = {
    0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
    0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
    0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
    0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};

const unsigned char *keepFirst(int n) { return ones + PIECE_BYTES - n; }

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
// chained, k + 1 bytes), the first HEAD_BYTES of them kept for the
// quick comparison.
struct Wanted {
  const char *key;
  int k;
  unsigned char field[2];                 // K as the record holds it
  int known;                              // chain bytes in head: min(k + 1, 32)
  unsigned char head[HEAD_BYTES];         // zeros behind them
};

Wanted makeWanted(const char *key) {
  Wanted w{key, static_cast<int>(strlen(key)) + 1, {}, 0, {}};
  w.known = w.k + 1 < HEAD_BYTES ? w.k + 1 : HEAD_BYTES;
  auto k16 = static_cast<uint16_t>(w.k);
  memcpy(w.field, &k16, 2);
  // Plain byte i is the key field's byte i for i < 2, then key byte i - 2.
  auto plain = [&](int i) { return i < 2 ? w.field[i] : static_cast<unsigned char>(key[i - 2]); };
  for (int i = 0; i < w.known; ++i) w.head[i] = static_cast<unsigned char>(plain(i) ^ plain(i + 1));
  return w;
}

// The walk over the records: the chain and L of the current one. The next
// record's L is loaded from chain + L, an address the load forms itself, so
// that the one piece of work tying a record to the one before is that load.
// A length field cut short at the end reads the slack and reaches beyond
// the end; behind the last record chain may point two bytes past the end,
// into the slack.
struct Walk {
  const char *chain;
  const char *end;
  size_t len;

  Walk(const char *data, size_t size) : chain(data + 2), end(data + size), len(field(data)) {}
  static size_t field(const char *p) {
    uint16_t f;
    memcpy(&f, p, 2);
    return f;
  }
  // False at the end and at a damaged length: below the key field, beyond
  // the record buffer or beyond the bytes.
  bool fits() const { return DbmRecordFits(len, end - chain); }
  void next() {
    const char *here = chain;
    chain = here + len + 2;
    len = field(here + len);
  }
  long offset(const char *data) const { return chain - 2 - data; }
};

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
  for (Walk r(data, size); r.fits(); r.next()) {
    uint64_t acc = 0;
    size_t i = 0;
    for (; i + 8 <= r.len; i += 8) acc ^= load64(r.chain + i);
    acc ^= load64(r.chain + i) & load64(keepFirst(static_cast<int>(r.len - i)));
    unsigned x = foldWord(acc);
    uint32_t keyLen = keyFieldFromX(x, r.chain);
    if (keyLen > r.len - 2) [[unlikely]]
      return -1;
    bool candidate = ((load64(r.chain) ^ head) & headMask) == 0;
    if (candidate && keyLen == static_cast<uint32_t>(w.k) && keyConfirmed(r.chain, w)) return r.offset(data);
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
  for (; n > PIECE_BYTES; n -= PIECE_BYTES, p += PIECE_BYTES)
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
  for (Walk r(data, size); r.fits(); r.next()) {
    const __m256i first = load(r.chain);
    __m256i acc = r.len <= PIECE_BYTES ? xorFirst(r.chain, r.len) : xorAll(r.chain, r.len);
    __m128i lanes = _mm_xor_si128(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
    uint32_t keyLen = keyFieldOf(lanes, _mm256_castsi256_si128(first), sum);
    if (keyLen > r.len - 2) [[unlikely]]
      return -1;
    auto same = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(first, head)));
    if ((~same & need) == 0) [[unlikely]]
      if (keyLen == static_cast<uint32_t>(w.k) && keyConfirmed(r.chain, w)) return r.offset(data);
  }
  return -1;
}
#endif

// The widest pass the processor has; the wide pass needs its carry-less
// multiplication besides the lanes.
int findWidestPass() {
#if defined(__x86_64__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("pclmul") ? DBM_SCAN_AVX2 : DBM_SCAN_PORTABLE;
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
  if (pass == DBM_SCAN_AVX2) return scanAvx2(data, size, w);
#endif
  return scanPortable(data, size, w);
}
