// The shared toolkit: handles close on every path, the growable text's two
// failure policies, and the bounded text's cut flag.
#include <fcntl.h>
#include <sys/wait.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Handles.h"
#include "MemMgr.h"

TEST(Handles, CloseOnScopeEndAndHandOver) {
  int fd = open("/dev/null", O_RDONLY);
  ASSERT_GE(fd, 0);
  { FdHandle h(fd); EXPECT_TRUE(h); }
  EXPECT_EQ(fcntl(fd, F_GETFD), -1) << "the descriptor outlived its holder";

  FdHandle a(open("/dev/null", O_RDONLY));
  FdHandle b(std::move(a));
  EXPECT_FALSE(a);
  const int kept = b.release();
  EXPECT_FALSE(b);
  EXPECT_EQ(b.close(), 0);
  EXPECT_NE(fcntl(kept, F_GETFD), -1);
  close(kept);

  PipeHandle p(popen("exit 3", "r"));
  ASSERT_TRUE(p);
  EXPECT_EQ(WEXITSTATUS(p.close()), 3);
}

TEST(TextBuf, GrowsAndHandsOver) {
  TextBuf t;
  EXPECT_STREQ(t.str(), "");
  std::string want;
  for (int i = 0; i < 1000; ++i) {
    t.appendf("%d,", i);
    want += std::to_string(i) + ",";
  }
  t.append('!');
  want += "!";
  EXPECT_EQ(t.size(), want.size());
  char *s = t.take();
  EXPECT_EQ(std::string(s), want);
  PutMem(s);
  EXPECT_EQ(t.size(), 0u);
  char *empty = t.take();
  ASSERT_NE(empty, nullptr);
  EXPECT_STREQ(empty, "");
  PutMem(empty);
}

TEST(TextBuf, FailurePolicies) {
  // A request that no block can serve: null and an empty builder, or the end
  // of the process with the allocation message.
  TextBuf nullOnFail(TextBuf::OnFail::Null);
  nullOnFail.append("kept");
  nullOnFail.append(static_cast<const char *>(nullptr) + 0, static_cast<size_t>(1) << 62);
  EXPECT_TRUE(nullOnFail.failed());
  EXPECT_EQ(nullOnFail.str(), nullptr);
  EXPECT_EQ(nullOnFail.take(), nullptr);
  nullOnFail.append("again");
  EXPECT_STREQ(nullOnFail.str(), "again");

  EXPECT_EXIT(
      {
        TextBuf exitOnFail;
        exitOnFail.append(static_cast<const char *>(nullptr) + 0, static_cast<size_t>(1) << 62);
      },
      testing::ExitedWithCode(1), "Unable to allocate memory");
}

TEST(BoundedBuf, CutsAndSaysSo) {
  struct Case { size_t size; const char *a; const char *b; const char *want; bool cut; };
  const Case cases[] = {
      {8, "abc", "def", "abcdef", false},
      {7, "abc", "def", "abcdef", false},
      {6, "abc", "def", "abcde", true},
      {1, "abc", "", "", true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.size);
    char buf[16];
    memset(buf, 'x', sizeof buf);
    BoundedBuf b(buf, c.size);
    b.append(c.a);
    b.appendf("%s", c.b);
    EXPECT_STREQ(b.str(), c.want);
    EXPECT_EQ(b.cut(), c.cut);
    EXPECT_EQ(buf[c.size], 'x') << "written past the buffer";
  }
}
