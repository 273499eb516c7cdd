// The linked list: a doubly linked list of owned item copies with one walk
// cursor, the container of the library modules.
//
// Pushing an item copies its bytes into a block of its own, and deleting
// releases that copy; headers, nodes and items all come from GetMem. Items are
// identified by their item pointer (what ListPushItem returned), never by
// content. A zero-filled header, a static one included, is an empty list in
// append mode. Every operation on a null list does nothing and returns null
// or 0.
#pragma once
#include <cstdint>

struct ListNode {
  ListNode *prev;    // previous node, null at the head
  ListNode *next;    // next node, null at the tail
  void *item;        // the item's bytes, owned by the list
  int32_t size;      // the item's size as given when it was pushed
};

// Invariants: count is 0 exactly when head and tail are null; head->prev and
// tail->next are null; total is the sum of the nodes' sizes.
struct List {
  ListNode *head;    // first node, null when empty
  ListNode *tail;    // last node, null when empty
  ListNode *cursor;  // the node whose item the next walk step returns
  int32_t count;     // number of nodes
  int32_t total;     // sum of the item sizes
  uint8_t pushFront; // 0: new nodes go to the tail; non-zero: to the head
};

// A new, empty list in append mode; released with ListDel.
List *ListCreate();
// Copies size bytes of src (zeros when src is null) into a new node; returns
// the list's copy, or null for a null list or a size below 1.
void *ListPushItem(List *list, const void *src, int size);
// Links an existing node in by the list's push mode and adds its size.
void ListPushLink(List *list, ListNode *node);
// Unlinks a node without releasing it (null: the head). The node's own links
// are left as they were.
void ListPopLink(List *list, ListNode *node);
// Removes the node of item (the head's when item is null) and releases it.
// With release non-zero the item is released too and the result is null;
// otherwise the caller now owns the returned item. Null when not found.
void *ListPopItem(List *list, void *item, int release);
void *ListPopFirstItem(List *list, int release);
void *ListPopLastItem(List *list, int release);
// The item of the n-th node counted from 1 at the head; null out of range.
void *ListFindItemN(List *list, int n);
// The 1-based position of item's node, 0 when absent.
int ListGetItemPos(List *list, const void *item);
// Moves item's node (the same item pointer) from one list into the other.
void ListMoveItem(void *item, List *from, List *to);
// Pushes a copy of every item of from, head to tail, into to.
void ListCopy(List *from, List *to);
// Releases every node and item; the header stays, empty.
void ListDelAllItems(List *list);
// Releases every node and item, then the header.
void ListDel(List *list);
// The next item of a walk: cont 0 starts at the head (ListWalk) or at the
// tail (ListWalkBackward); null past the end. The cursor already rests on the
// following node when an item is returned, so that item may be removed during
// the walk; the node under the cursor must not be.
void *ListWalk(List *list, int cont);
void *ListWalkBackward(List *list, int cont);
// Prints "%3i) %li\n" per node: its position and its item's first int32.
void ListDump(List *list);
