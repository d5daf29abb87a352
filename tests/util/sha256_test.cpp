#include "util/sha256.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fg {
namespace {

std::string HexOf(const std::string& message) {
  Sha256 hash;
  Sha256Start(&hash);
  Sha256Feed(&hash, message.data(), message.size());
  return Sha256Hex(Sha256Finish(&hash));
}

// The published examples of the standard, and lengths around the padding's block boundary.
TEST(Sha256, KnownDigests) {
  EXPECT_EQ(HexOf(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(HexOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(HexOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),  // 56 bytes
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(HexOf("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopq"
                  "klmnopqrlmnopqrsmnopqrstnopqrstu"),  // 112 bytes
            "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
  EXPECT_EQ(HexOf(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  EXPECT_EQ(HexOf(std::string(55, 'a')),  // the longest message whose length fits one block
            "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318");
  EXPECT_EQ(HexOf(std::string(64, 'a')),
            "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb");
}

// However the bytes are cut into pieces, the digest is that of the whole.
TEST(Sha256, PiecesGiveTheDigestOfTheWhole) {
  std::string message;
  for (int i = 0; i < 1000; ++i) message += static_cast<char>(i * 7 + 3);
  const std::string whole = HexOf(message);
  for (size_t piece : {1u, 3u, 63u, 64u, 65u, 127u, 500u}) {
    Sha256 hash;
    Sha256Start(&hash);
    for (size_t at = 0; at < message.size(); at += piece)
      Sha256Feed(&hash, message.data() + at, std::min(piece, message.size() - at));
    EXPECT_EQ(Sha256Hex(Sha256Finish(&hash)), whole) << "pieces of " << piece;
  }
}

}  // namespace
}  // namespace fg
