// The lookup index of a typed image, shared by the typed layer's files: an
// open-addressing table from each key to the position of its FIRST record
// in image order, so that a lookup answers exactly what the walk from the
// first record answers, without the walk.
//
// The index describes one image: the one whose address, length and type it
// was stamped with. Any other image (a reload, a cut, a change the index
// was not told of) makes it stale, and a stale index is rebuilt, never used.
// Its table comes from the memory block manager.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "Dbm.h"

namespace dbtindex {

// A 16-bit field of a typed image, swapped when the handle's swap is set.
inline uint16_t load16(const char *p, unsigned char swap) {
  uint16_t v;
  memcpy(&v, p, 2);
  return swap ? static_cast<uint16_t>((v >> 8) | (v << 8)) : v;
}

// Finds key (keyLen characters) as FindTRecord's walk would: 1 with entry
// describing the first matching record and the handle's cursor at its
// value, as the walk leaves them; 0 when no record matches; -1 when no index
// can be had (no memory), so that the caller walks instead.
int find(DbTHandle *h, const char *key, size_t keyLen, DbTWalk *entry);
// True when a current index exists (it is built when missing) and no key
// occurs twice in the image, so that removing a key's first record removes
// all of them.
bool unique(DbTHandle *h);
// Tells the index that the record of key at pos, size bytes with its length
// field, was removed from the image the index described as (oldImage,
// oldLength); the records behind it moved down. An index that did not
// describe that image is dropped.
void noteRemoved(DbTHandle *h, const char *key, size_t keyLen, int pos, int size, const char *oldImage,
                 int oldLength);
// Tells the index that a record of key was appended at pos to the image it
// described as (oldImage, oldLength).
void noteAdded(DbTHandle *h, const char *key, size_t keyLen, int pos, const char *oldImage, int oldLength);
// Frees the index; the next keyed operation builds a new one.
void drop(DbTHandle *h);

}  // namespace dbtindex
