// Tests of the SHA-256 digest against the standard's vectors, fed whole and
// in uneven pieces, and of a file's digest.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "setup.h"

namespace {

std::string digest(const std::string &data, size_t piece) {
  Sha256 sum;
  for (size_t at = 0; at < data.size(); at += piece)
    sum.update(data.data() + at, std::min(piece, data.size() - at));
  char out[65];
  sum.hex(out);
  return out;
}

TEST(Sha256Test, KnownVectors) {
  const struct {
    std::string data;
    const char *hex;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      // 55 and 56 bytes: the length fits in the last block, or needs another.
      {std::string(55, 'x'), "d5e285683cd4efc02d021a5c62014694958901005d6f71e89e0989fac77e4072"},
      {std::string(56, 'x'), "04c26261370ee7541549d16dee320c723e3fd14671e66a099afe0a377c16888e"},
  };
  // The processor's SHA instructions (where it has them) and the portable
  // rounds must agree.
  for (bool portable : {false, true}) {
    Sha256::portableOnly = portable;
    for (const auto &c : cases) {
      SCOPED_TRACE(c.data.substr(0, 20) + (portable ? " (portable)" : ""));
      // Whole blocks are hashed from the caller's bytes, the rest is kept.
      for (size_t piece : {c.data.size() + 1, size_t{1}, size_t{63}, size_t{64}, size_t{65},
                           size_t{1000}}) {
        if (c.data.size() > 1000 && piece < 60) continue;
        EXPECT_EQ(digest(c.data, piece), c.hex);
      }
    }
  }
  Sha256::portableOnly = false;
}

TEST(Sha256Test, FileDigest) {
  char path[] = "/tmp/tarnu-sha256.XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "abc", 3), 3);
  close(fd);
  char out[65];
  ASSERT_TRUE(Sha256File(path, out));
  EXPECT_STREQ(out, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  unlink(path);
  EXPECT_FALSE(Sha256File(path, out));
}

}  // namespace
