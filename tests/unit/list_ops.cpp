// Tests of the linked list: push modes, lookups, pops, moves, copies, the
// walk (with removal of the item just returned) and the dump.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "List.h"
#include "MemMgr.h"

namespace {

// Checks the header invariants and returns the items head to tail as texts.
std::vector<std::string> contents(const List *l) {
  std::vector<std::string> out;
  int32_t total = 0;
  const ListNode *prev = nullptr;
  for (const ListNode *n = l->head; n != nullptr; n = n->next) {
    EXPECT_EQ(n->prev, prev);
    total += n->size;
    out.emplace_back(static_cast<const char *>(n->item));
    prev = n;
  }
  EXPECT_EQ(l->tail, prev);
  EXPECT_EQ(l->count, static_cast<int32_t>(out.size()));
  EXPECT_EQ(l->total, total);
  EXPECT_EQ(l->count == 0, l->head == nullptr && l->tail == nullptr);
  return out;
}

void *push(List *l, const char *s) {
  return ListPushItem(l, s, static_cast<int>(strlen(s)) + 1);
}

List *makeList(std::initializer_list<const char *> items, bool front = false) {
  List *l = ListCreate();
  l->pushFront = front ? 1 : 0;
  for (const char *s : items) push(l, s);
  return l;
}

std::vector<std::string> walk(List *l, bool backward) {
  std::vector<std::string> out;
  auto step = backward ? ListWalkBackward : ListWalk;
  for (void *p = step(l, 0); p != nullptr; p = step(l, 1))
    out.emplace_back(static_cast<const char *>(p));
  return out;
}

using Strs = std::vector<std::string>;

TEST(ListPush, ModesAndWalksInBothDirections) {
  struct Case {
    bool front;
    Strs forward;
  } cases[] = {
      {false, {"a", "b", "c"}},
      {true, {"c", "b", "a"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.front ? "push-front" : "append");
    List *l = makeList({"a", "b", "c"}, c.front);
    EXPECT_EQ(l->count, 3);
    EXPECT_EQ(l->total, 6);
    EXPECT_EQ(contents(l), c.forward);
    EXPECT_EQ(walk(l, false), c.forward);
    Strs back(c.forward.rbegin(), c.forward.rend());
    EXPECT_EQ(walk(l, true), back);
    ListDel(l);
  }
}

TEST(ListPush, CopiesTheSourceAndRefusesBadArguments) {
  List *l = ListCreate();
  char src[] = "xyz";
  char *item = static_cast<char *>(ListPushItem(l, src, 4));
  ASSERT_NE(item, nullptr);
  EXPECT_NE(item, src);
  src[0] = 'Q';
  EXPECT_STREQ(item, "xyz");

  auto *zeros = static_cast<unsigned char *>(ListPushItem(l, nullptr, 8));
  ASSERT_NE(zeros, nullptr);
  for (int i = 0; i < 8; i++) EXPECT_EQ(zeros[i], 0) << i;

  EXPECT_EQ(ListPushItem(l, "a", 0), nullptr);
  EXPECT_EQ(ListPushItem(l, "a", -5), nullptr);
  EXPECT_EQ(ListPushItem(nullptr, "a", 2), nullptr);
  EXPECT_EQ(l->count, 2);
  EXPECT_EQ(l->total, 12);
  ListDel(l);
}

TEST(ListPush, StaticZeroHeaderIsAnEmptyAppendList) {
  static List header;
  EXPECT_EQ(ListWalk(&header, 0), nullptr);
  push(&header, "one");
  push(&header, "two");
  EXPECT_EQ(contents(&header), (Strs{"one", "two"}));
  ListDelAllItems(&header);
  EXPECT_EQ(contents(&header), Strs{});
}

TEST(ListFind, ByPositionAndByItem) {
  List *l = makeList({"a", "b", "c"});
  void *a = ListFindItemN(l, 1);
  void *c = ListFindItemN(l, 3);
  struct Case {
    int n;
    const char *want;  // null: no item
  } cases[] = {{1, "a"}, {2, "b"}, {3, "c"}, {0, nullptr}, {4, nullptr}, {-1, nullptr}};
  for (const auto &k : cases) {
    SCOPED_TRACE(k.n);
    auto *p = static_cast<const char *>(ListFindItemN(l, k.n));
    if (k.want == nullptr)
      EXPECT_EQ(p, nullptr);
    else
      EXPECT_STREQ(p, k.want);
  }
  EXPECT_EQ(a, l->head->item);
  EXPECT_EQ(c, l->tail->item);
  EXPECT_EQ(ListGetItemPos(l, a), 1);
  EXPECT_EQ(ListGetItemPos(l, c), 3);
  char same[] = "a";  // equal content, different pointer
  EXPECT_EQ(ListGetItemPos(l, same), 0);
  EXPECT_EQ(ListGetItemPos(nullptr, a), 0);
  ListDel(l);
}

TEST(ListPop, ItemsByPointerHeadAndTail) {
  List *l = makeList({"a", "b", "c", "d"});
  void *b = ListFindItemN(l, 2);

  // Null item pops the head; release 0 hands the item over.
  auto *a = static_cast<char *>(ListPopItem(l, nullptr, 0));
  ASSERT_NE(a, nullptr);
  EXPECT_STREQ(a, "a");
  EXPECT_EQ(contents(l), (Strs{"b", "c", "d"}));
  PutMem(a);

  // A middle node is bridged over; release 1 gives null.
  push(l, "e");
  void *d = ListFindItemN(l, 3);
  EXPECT_EQ(ListPopItem(l, d, 1), nullptr);
  EXPECT_EQ(contents(l), (Strs{"b", "c", "e"}));

  // An item that is not in the list changes nothing.
  char other[] = "b";
  EXPECT_EQ(ListPopItem(l, other, 1), nullptr);
  EXPECT_EQ(contents(l), (Strs{"b", "c", "e"}));

  auto *first = static_cast<char *>(ListPopFirstItem(l, 0));
  EXPECT_EQ(first, b);
  EXPECT_STREQ(first, "b");
  PutMem(first);
  EXPECT_EQ(ListPopLastItem(l, 1), nullptr);
  EXPECT_EQ(contents(l), (Strs{"c"}));

  // Popping the only node empties the list; a later push is head and tail.
  auto *last = static_cast<char *>(ListPopLastItem(l, 0));
  EXPECT_STREQ(last, "c");
  PutMem(last);
  EXPECT_EQ(l->head, nullptr);
  EXPECT_EQ(l->tail, nullptr);
  EXPECT_EQ(l->count, 0);
  EXPECT_EQ(l->total, 0);
  EXPECT_EQ(ListPopFirstItem(l, 0), nullptr);
  EXPECT_EQ(ListPopItem(l, nullptr, 0), nullptr);
  void *x = push(l, "x");
  EXPECT_EQ(l->head->item, x);
  EXPECT_EQ(l->tail->item, x);
  EXPECT_EQ(contents(l), (Strs{"x"}));
  ListDel(l);
}

TEST(ListWalk, RemovingTheItemJustReturned) {
  struct Case {
    const char *name;
    bool backward;
    int removeEvery;  // remove every n-th item returned
    Strs seen, left;
  } cases[] = {
      {"forward, all", false, 1, {"a", "b", "c", "d"}, {}},
      {"forward, every 2nd", false, 2, {"a", "b", "c", "d"}, {"a", "c"}},
      {"backward, all", true, 1, {"d", "c", "b", "a"}, {}},
      {"backward, every 2nd", true, 2, {"d", "c", "b", "a"}, {"b", "d"}},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(k.name);
    List *l = makeList({"a", "b", "c", "d"});
    auto step = k.backward ? ListWalkBackward : ListWalk;
    Strs seen;
    int i = 0;
    for (void *p = step(l, 0); p != nullptr; p = step(l, 1)) {
      seen.emplace_back(static_cast<const char *>(p));
      if (++i % k.removeEvery == 0) ListPopItem(l, p, 1);
    }
    EXPECT_EQ(seen, k.seen);
    EXPECT_EQ(contents(l), k.left);
    ListDel(l);
  }
}

TEST(ListWalk, EdgesAndSharedCursor) {
  List *one = makeList({"only"});
  EXPECT_STREQ(static_cast<char *>(ListWalkBackward(one, 0)), "only");
  EXPECT_EQ(ListWalkBackward(one, 1), nullptr);
  EXPECT_EQ(ListWalkBackward(one, 1), nullptr);
  ListDel(one);

  List *empty = ListCreate();
  EXPECT_EQ(ListWalk(empty, 0), nullptr);
  EXPECT_EQ(ListWalkBackward(empty, 0), nullptr);
  ListDel(empty);
  EXPECT_EQ(ListWalk(nullptr, 0), nullptr);

  // Both walks move the one cursor.
  List *l = makeList({"a", "b", "c"});
  EXPECT_STREQ(static_cast<char *>(ListWalk(l, 0)), "a");
  EXPECT_STREQ(static_cast<char *>(ListWalk(l, 1)), "b");
  EXPECT_STREQ(static_cast<char *>(ListWalkBackward(l, 1)), "c");
  EXPECT_STREQ(static_cast<char *>(ListWalkBackward(l, 1)), "b");
  ListDel(l);
}

// Removing the node under the cursor ends the walk instead of leaving the
// cursor on a released node.
TEST(ListWalk, RemovingTheNodeUnderTheCursorEndsTheWalk) {
  List *l = makeList({"a", "b", "c"});
  EXPECT_STREQ(static_cast<char *>(ListWalk(l, 0)), "a");
  EXPECT_EQ(l->cursor, l->head->next);
  ListPopItem(l, ListFindItemN(l, 2), 1);
  EXPECT_EQ(l->cursor, nullptr);
  EXPECT_EQ(ListWalk(l, 1), nullptr);
  EXPECT_EQ(contents(l), (Strs{"a", "c"}));
  ListDel(l);
}

TEST(ListMove, NodeGoesOverWithItsPointer) {
  List *from = makeList({"a", "b", "c"});
  List *to = makeList({"x"});
  void *c = ListFindItemN(from, 3);
  ListMoveItem(c, from, to);
  EXPECT_EQ(contents(from), (Strs{"a", "b"}));
  EXPECT_STREQ(static_cast<char *>(from->tail->item), "b");
  EXPECT_EQ(contents(to), (Strs{"x", "c"}));
  EXPECT_EQ(to->tail->item, c);

  // Push-front destination receives it at the head.
  to->pushFront = 1;
  void *a = ListFindItemN(from, 1);
  ListMoveItem(a, from, to);
  EXPECT_EQ(to->head->item, a);
  EXPECT_EQ(contents(to), (Strs{"a", "x", "c"}));
  EXPECT_EQ(contents(from), (Strs{"b"}));

  // Unknown item, null lists: nothing happens.
  char stranger[] = "b";
  ListMoveItem(stranger, from, to);
  ListMoveItem(from->head->item, from, nullptr);
  ListMoveItem(from->head->item, nullptr, to);
  EXPECT_EQ(contents(from), (Strs{"b"}));
  EXPECT_EQ(contents(to), (Strs{"a", "x", "c"}));
  ListDel(from);
  ListDel(to);
}

TEST(ListCopy, CopiesAreIndependent) {
  List *src = makeList({"a", "bb", "ccc"});
  List *dst = ListCreate();
  ListCopy(src, dst);
  EXPECT_EQ(contents(dst), contents(src));
  EXPECT_EQ(dst->total, src->total);
  for (int i = 1; i <= 3; i++) {
    SCOPED_TRACE(i);
    EXPECT_NE(ListFindItemN(dst, i), ListFindItemN(src, i));
  }
  static_cast<char *>(ListFindItemN(dst, 2))[0] = 'Z';
  EXPECT_EQ(contents(src), (Strs{"a", "bb", "ccc"}));
  ListDel(dst);
  EXPECT_EQ(contents(src), (Strs{"a", "bb", "ccc"}));

  // Copying a list into itself doubles it and ends.
  ListCopy(src, src);
  EXPECT_EQ(contents(src), (Strs{"a", "bb", "ccc", "a", "bb", "ccc"}));
  ListCopy(src, nullptr);
  ListCopy(nullptr, src);
  EXPECT_EQ(src->count, 6);
  ListDel(src);
}

TEST(ListDelete, AllItemsLeavesAnEmptyUsableHeader) {
  List *l = makeList({"a", "b", "c"});
  ListWalk(l, 0);
  ListDelAllItems(l);
  EXPECT_EQ(contents(l), Strs{});
  EXPECT_EQ(l->cursor, nullptr);
  EXPECT_EQ(ListWalk(l, 1), nullptr);
  push(l, "again");
  EXPECT_EQ(contents(l), (Strs{"again"}));
  ListDel(l);
  ListDel(nullptr);
  ListDelAllItems(nullptr);
}

TEST(ListLink, PushAndPopOfNodes) {
  List *l = makeList({"a", "b"});
  ListNode *head = l->head;
  ListPopLink(l, nullptr);  // null: the head
  EXPECT_EQ(contents(l), (Strs{"b"}));
  EXPECT_EQ(l->total, 2);
  l->pushFront = 1;
  ListPushLink(l, head);
  EXPECT_EQ(contents(l), (Strs{"a", "b"}));
  ListPushLink(l, nullptr);
  ListPushLink(nullptr, head);
  EXPECT_EQ(l->count, 2);
  ListDel(l);
}

TEST(ListDump, PrintsPositionAndFirstWord) {
  struct Case {
    std::vector<int32_t> words;
    std::string out;
  } cases[] = {
      {{7, 42}, "  1) 7\n  2) 42\n"},
      {{-3}, "  1) -3\n"},
      {{}, ""},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(k.out);
    List *l = ListCreate();
    for (int32_t w : k.words) {
      int32_t item[2] = {w, 99};
      ListPushItem(l, item, sizeof item);
    }
    testing::internal::CaptureStdout();
    ListDump(l);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), k.out);
    ListDel(l);
  }
}

}  // namespace
