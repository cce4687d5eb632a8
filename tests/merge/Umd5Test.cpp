#include "merge/Umd5.hpp"

#include <gtest/gtest.h>

#include <cctype>

namespace {

using merge::Md5;

TEST(Md5, Rfc1321TestSuite) {
  const std::vector<std::pair<std::string, std::string>> vectors = {
      {"", "D41D8CD98F00B204E9800998ECF8427E"},
      {"a", "0CC175B9C0F1B6A831C399E269772661"},
      {"abc", "900150983CD24FB0D6963F7D28E17F72"},
      {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
      {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "D174AB98D277D9F5A5611C2C9F419D9F"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57EDF4A22BE3C955AC49DA2E2107B67A"},
  };
  for (const auto& [text, digest] : vectors) EXPECT_EQ(Md5::Hex(Md5::Of(text)), digest) << text;
}

TEST(Md5, PiecewiseUpdatesEqualOneUpdateAcrossBlockBorders) {
  std::string text;
  for (int i = 0; i < 300; ++i) text += static_cast<char>(i * 7);
  for (std::size_t piece : {1u, 3u, 55u, 56u, 63u, 64u, 65u, 128u}) {
    for (std::size_t length : {0u, 55u, 56u, 57u, 63u, 64u, 119u, 120u, 300u}) {
      Md5 md5;
      for (std::size_t at = 0; at < length; at += piece)
        md5.Update(std::string_view(text).substr(at, std::min(piece, length - at)));
      EXPECT_EQ(md5.Final(), Md5::Of(std::string_view(text).substr(0, length)))
          << "piece " << piece << ", length " << length;
    }
  }
}

TEST(KeyDigest, SaltedUpperCaseHexThatKeepsLetterCase) {
  const std::string digest = merge::KeyDigest("C-17");
  ASSERT_EQ(digest.size(), 32u);
  for (char c : digest) EXPECT_TRUE(std::isdigit(c) || (c >= 'A' && c <= 'F')) << digest;
  EXPECT_EQ(merge::KeyDigest("C-17"), digest);
  EXPECT_NE(merge::KeyDigest("c-17"), digest);
  EXPECT_NE(digest, Md5::Hex(Md5::Of("C-17")));  // the salt takes part
  EXPECT_NE(merge::KeyDigest("Grüße"), merge::KeyDigest("GRÜSSE"));
}

}  // namespace
