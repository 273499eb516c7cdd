// The linked list: doubly linked nodes over owned item copies, one walk
// cursor per list.
//
// Headers, nodes and items come from the memory block manager; a popped node
// goes back at once, and deletion takes each node's successor before it
// releases the node. The cursor always rests on the node that the next walk
// step returns, so the item just returned may be removed during a walk.
#include "List.h"

#include <cstdio>
#include <cstring>

#include "MemMgr.h"

namespace {

// The node whose item pointer is item, or null.
ListNode *findNode(const List *list, const void *item) {
  for (ListNode *n = list->head; n != nullptr; n = n->next)
    if (n->item == item) return n;
  return nullptr;
}

// Unlinks node and releases it; the item is released too when release is
// set (result null), else handed to the caller.
void *dropNode(List *list, ListNode *node, int release) {
  void *item = node->item;
  ListPopLink(list, node);
  PutMem(node);
  if (release) {
    PutMem(item);
    return nullptr;
  }
  return item;
}

// One step of a walk: returns the item at the cursor and moves the cursor on
// before the caller sees the item, so that item may be removed.
void *stepWalk(List *list, int cont, bool forward) {
  if (list == nullptr) return nullptr;
  if (!cont) list->cursor = forward ? list->head : list->tail;
  ListNode *node = list->cursor;
  if (node == nullptr) return nullptr;
  list->cursor = forward ? node->next : node->prev;
  return node->item;
}

}  // namespace

List *ListCreate() { return static_cast<List *>(GetMem(sizeof(List))); }

void *ListPushItem(List *list, const void *src, int size) {
  if (list == nullptr || size < 1) return nullptr;
  auto *node = static_cast<ListNode *>(GetMem(sizeof(ListNode)));
  void *item = GetMem(static_cast<size_t>(size));
  if (node == nullptr || item == nullptr) {
    PutMem(node);
    PutMem(item);
    return nullptr;
  }
  if (src != nullptr) memcpy(item, src, static_cast<size_t>(size));
  node->item = item;
  node->size = size;
  ListPushLink(list, node);
  return item;
}

void ListPushLink(List *list, ListNode *node) {
  if (list == nullptr || node == nullptr) return;
  if (list->count == 0 || list->head == nullptr || list->tail == nullptr) {
    node->prev = node->next = nullptr;
    list->head = list->tail = node;
    list->count = 1;
    list->total = node->size;
    return;
  }
  if (list->pushFront) {
    node->prev = nullptr;
    node->next = list->head;
    list->head->prev = node;
    list->head = node;
  } else {
    node->next = nullptr;
    node->prev = list->tail;
    list->tail->next = node;
    list->tail = node;
  }
  list->count++;
  list->total += node->size;
}

void ListPopLink(List *list, ListNode *node) {
  if (list == nullptr || list->count == 0 || list->head == nullptr) return;
  if (node == nullptr) node = list->head;
  list->count--;
  list->total -= node->size;
  if (list->cursor == node) list->cursor = nullptr;
  if (list->count == 0) {
    list->head = list->tail = nullptr;
    list->cursor = nullptr;
    list->total = 0;
    return;
  }
  if (node == list->head) {
    list->head = node->next;
    list->head->prev = nullptr;
  } else if (node == list->tail) {
    list->tail = node->prev;
    list->tail->next = nullptr;
  } else {
    node->prev->next = node->next;
    node->next->prev = node->prev;
  }
}

void *ListPopItem(List *list, void *item, int release) {
  if (list == nullptr || list->head == nullptr) return nullptr;
  ListNode *node = item == nullptr ? list->head : findNode(list, item);
  return node == nullptr ? nullptr : dropNode(list, node, release);
}

void *ListPopFirstItem(List *list, int release) {
  if (list == nullptr || list->head == nullptr) return nullptr;
  return dropNode(list, list->head, release);
}

void *ListPopLastItem(List *list, int release) {
  if (list == nullptr || list->tail == nullptr) return nullptr;
  return dropNode(list, list->tail, release);
}

void *ListFindItemN(List *list, int n) {
  if (list == nullptr || n < 1 || n > list->count) return nullptr;
  ListNode *node = list->head;
  for (int i = 1; i < n && node != nullptr; i++) node = node->next;
  return node == nullptr ? nullptr : node->item;
}

int ListGetItemPos(List *list, const void *item) {
  if (list == nullptr) return 0;
  int pos = 1;
  for (ListNode *n = list->head; n != nullptr; n = n->next, pos++)
    if (n->item == item) return pos;
  return 0;
}

void ListMoveItem(void *item, List *from, List *to) {
  if (from == nullptr || to == nullptr || from->head == nullptr) return;
  ListNode *node = findNode(from, item);
  if (node == nullptr) return;
  ListPopLink(from, node);
  ListPushLink(to, node);
}

void ListCopy(List *from, List *to) {
  if (from == nullptr || to == nullptr) return;
  // The count is taken first so that copying a list into itself ends.
  ListNode *node = from->head;
  for (int32_t i = from->count; i > 0 && node != nullptr; i--) {
    ListNode *next = node->next;
    ListPushItem(to, node->item, node->size);
    node = next;
  }
}

void ListDelAllItems(List *list) {
  if (list == nullptr) return;
  ListNode *node = list->head;
  while (node != nullptr) {
    ListNode *next = node->next;
    PutMem(node->item);
    PutMem(node);
    node = next;
  }
  list->head = list->tail = list->cursor = nullptr;
  list->count = 0;
  list->total = 0;
}

void ListDel(List *list) {
  if (list == nullptr) return;
  ListDelAllItems(list);
  PutMem(list);
}

void *ListWalk(List *list, int cont) { return stepWalk(list, cont, true); }

void *ListWalkBackward(List *list, int cont) { return stepWalk(list, cont, false); }

void ListDump(List *list) {
  if (list == nullptr) return;
  int pos = 1;
  for (ListNode *n = list->head; n != nullptr; n = n->next, pos++) {
    int32_t first = 0;
    if (n->item != nullptr)
      memcpy(&first, n->item, n->size < 4 ? static_cast<size_t>(n->size) : 4);
    printf("%3i) %li\n", pos, static_cast<long>(first));
  }
}
