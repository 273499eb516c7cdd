// The lookup index of a typed image: linear probing over slots of (hash,
// record position), at most half full, grown by doubling and rehashed from
// the stored hashes. A key's slot holds its first record in image order; a
// later record of the same key only counts as shadowed. Keys longer than a
// lookup accepts (DBT_KEY_BUF_SIZE - 1 characters) are never entered: no
// lookup can match them. Removal shifts the following slots back (no
// tombstones), so a probe always ends at the first empty slot.
#include "index.h"

#include "MemMgr.h"

struct DbTIndex {
  const char *image;    // the image described: address, length and type
  int length;
  int type;
  uint32_t mask;        // slots - 1; the slot count is a power of two
  uint32_t used;        // occupied slots
  uint32_t shadowed;    // records whose key an earlier record holds already
  uint32_t unused;
};

namespace dbtindex {
namespace {

struct Slot {
  uint32_t hash;
  uint32_t pos1;        // record position + 1; 0 for an empty slot
};

constexpr uint32_t FIRST_SLOTS = 64;


Slot *slots(DbTIndex *x) { return reinterpret_cast<Slot *>(x + 1); }

DbTIndex *newIndex(uint32_t count) {
  auto *x = static_cast<DbTIndex *>(GetMem(sizeof(DbTIndex) + sizeof(Slot) * count));
  if (x) x->mask = count - 1;
  return x;
}

uint32_t hashKey(const char *p, size_t n) {
  uint64_t h = 0x9E3779B97F4A7C15ull ^ n;
  for (; n >= 8; p += 8, n -= 8) {
    uint64_t v;
    memcpy(&v, p, 8);
    h = (h ^ v) * 0xff51afd7ed558ccdull;
    h ^= h >> 32;
  }
  uint64_t v = 0;
  for (; n > 0; --n) v = (v << 8) | static_cast<unsigned char>(*p++);
  h = (h ^ v) * 0xc4ceb9fe1a85ec53ull;
  return static_cast<uint32_t>(h ^ (h >> 32));
}

bool isCurrent(const DbTIndex *x, const DbTHandle *h) {
  return x && x->image == h->pImage && x->length == h->length && x->type == h->type;
}

void stamp(DbTIndex *x, const DbTHandle *h) {
  x->image = h->pImage;
  x->length = h->length;
  x->type = h->type;
}

// True when the record at pos holds key (k bytes with its NUL). The key is
// decoded from its chain's end and compared as it goes: no copy, and a
// mismatch stops at once. A legacy key lies inside the chain of its whole
// payload, behind the key field, which must say k as well.
bool keyEquals(const DbTHandle *h, int pos, const char *key, int k) {
  const char *rec = h->pImage + pos;
  const char *chain;
  int n;
  unsigned char acc = 0;
  if (h->type != DBT_TYPE_LEGACY) {
    if (load16(rec + 2, h->swap) != k) return false;
    chain = rec + 4;
    n = k;
  } else {
    int len = load16(rec, 0);
    if (len < k + 2) return false;
    chain = rec + 2;
    n = k + 2;
    char tail[1];
    DbmDecodeChainPrefix(chain + n - 1, len - n + 1, tail, 1);
    acc = static_cast<unsigned char>(tail[0] ^ chain[n - 1]);
  }
  const int keyAt = n - k;
  for (int j = n - 1; j >= keyAt; --j) {
    acc ^= static_cast<unsigned char>(chain[j]);
    if (acc != static_cast<unsigned char>(key[j - keyAt])) return false;
  }
  if (keyAt == 0) return true;
  char field[2];
  field[1] = static_cast<char>(acc ^ static_cast<unsigned char>(chain[1]));
  field[0] = static_cast<char>(field[1] ^ chain[0]);
  return load16(field, 0) == k;
}

// The slot holding key (k bytes with its NUL), or the empty slot where it
// belongs.
Slot *probe(DbTIndex *x, const DbTHandle *h, const char *key, int k, uint32_t hash) {
  for (uint32_t i = hash & x->mask;; i = (i + 1) & x->mask) {
    Slot *s = &slots(x)[i];
    if (s->pos1 == 0) return s;
    if (s->hash == hash && keyEquals(h, static_cast<int>(s->pos1 - 1), key, k)) return s;
  }
}

// Doubles the table when one more entry would fill it beyond half; false
// when no memory is left.
bool makeRoom(DbTHandle *h) {
  DbTIndex *x = h->pIndex;
  if ((x->used + 1) * 2 <= x->mask + 1) return true;
  DbTIndex *y = newIndex((x->mask + 1) * 2);
  if (!y) return false;
  *y = *x;
  y->mask = x->mask * 2 + 1;
  for (uint32_t i = 0; i <= x->mask; ++i) {
    const Slot &s = slots(x)[i];
    if (s.pos1 == 0) continue;
    uint32_t j = s.hash & y->mask;
    while (slots(y)[j].pos1 != 0) j = (j + 1) & y->mask;
    slots(y)[j] = s;
  }
  PutMem(x);
  h->pIndex = y;
  return true;
}

// Enters the record of key at pos unless an earlier record holds the key.
bool enter(DbTHandle *h, const char *key, int k, int pos) {
  if (k > DBT_KEY_BUF_SIZE) return true;
  if (!makeRoom(h)) return false;
  uint32_t hash = hashKey(key, static_cast<size_t>(k));
  Slot *s = probe(h->pIndex, h, key, k, hash);
  if (s->pos1 != 0) {
    ++h->pIndex->shadowed;
    return true;
  }
  s->hash = hash;
  s->pos1 = static_cast<uint32_t>(pos) + 1;
  ++h->pIndex->used;
  return true;
}

// One walk over the image; false when memory ran out.
bool build(DbTHandle *h) {
  drop(h);
  h->pIndex = newIndex(FIRST_SLOTS);
  if (!h->pIndex) return false;
  char buf[DBT_KEY_BUF_SIZE];
  DbTWalk e;
  for (int step = 0; WalkDbTRecords(h, &e, step); ++step) {
    int k = e.keyLen;
    const char *key = e.pKey;
    if (h->type != DBT_TYPE_LEGACY && k <= DBT_KEY_BUF_SIZE) {
      DbmDecodeChainPrefix(h->pImage + h->cursor, k, buf, k);
      key = buf;
    }
    if (!enter(h, key, k, h->next - e.recLen - 2)) {
      drop(h);
      return false;
    }
  }
  stamp(h->pIndex, h);
  return true;
}

bool ensure(DbTHandle *h) { return isCurrent(h->pIndex, h) || build(h); }

}  // namespace

void drop(DbTHandle *h) {
  PutMem(h->pIndex);
  h->pIndex = nullptr;
}

int find(DbTHandle *h, const char *key, size_t keyLen, DbTWalk *entry) {
  if (!ensure(h)) return -1;
  int k = static_cast<int>(keyLen) + 1;
  Slot *s = probe(h->pIndex, h, key, k, hashKey(key, static_cast<size_t>(k)));
  if (s->pos1 == 0) return 0;
  // One step of the walk at the record: the entry, pMem and the cursor as
  // the walk from the start leaves them at its match.
  h->next = static_cast<int>(s->pos1 - 1);
  if (!WalkDbTRecords(h, entry, 1)) return 0;
  if (h->type != DBT_TYPE_LEGACY) h->cursor += entry->keyLen;
  return 1;
}

bool unique(DbTHandle *h) { return ensure(h) && h->pIndex->shadowed == 0; }

void noteRemoved(DbTHandle *h, const char *key, size_t keyLen, int pos, int size, const char *oldImage,
                 int oldLength) {
  DbTIndex *x = h->pIndex;
  if (!x || x->image != oldImage || x->length != oldLength || x->type != h->type) {
    drop(h);
    return;
  }
  int k = static_cast<int>(keyLen) + 1;
  uint32_t hash = hashKey(key, static_cast<size_t>(k));
  uint32_t pos1 = static_cast<uint32_t>(pos) + 1;
  uint32_t i = hash & x->mask;
  while (slots(x)[i].pos1 != pos1) {
    if (slots(x)[i].pos1 == 0) {
      drop(h);  // not where it must be: trust the walk instead
      return;
    }
    i = (i + 1) & x->mask;
  }
  // Backward shift: move every following entry of the run that may sit
  // before its home slot into the gap.
  for (uint32_t j = (i + 1) & x->mask; slots(x)[j].pos1 != 0; j = (j + 1) & x->mask) {
    uint32_t home = slots(x)[j].hash & x->mask;
    if (((j - home) & x->mask) >= ((j - i) & x->mask)) {
      slots(x)[i] = slots(x)[j];
      i = j;
    }
  }
  slots(x)[i] = Slot{};
  --x->used;
  for (uint32_t j = 0; j <= x->mask; ++j)
    if (slots(x)[j].pos1 > pos1) slots(x)[j].pos1 -= static_cast<uint32_t>(size);
  stamp(x, h);
}

void noteAdded(DbTHandle *h, const char *key, size_t keyLen, int pos, const char *oldImage, int oldLength) {
  DbTIndex *x = h->pIndex;
  if (!x || x->image != oldImage || x->length != oldLength || x->type != h->type) {
    drop(h);
    return;
  }
  if (!enter(h, key, static_cast<int>(keyLen) + 1, pos)) {
    drop(h);
    return;
  }
  stamp(h->pIndex, h);
}

}  // namespace dbtindex
