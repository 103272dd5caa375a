// ExceptionBase: its texts, their 1023-character limit and null arguments.
// (setMessage is the constructor's own step, checked through it.)
#include "Utility/ExceptionBase.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ExceptionBase, FormatsMessageAndLocationAndLeavesNullOnesEmpty) {
  try {
    throw ExceptionBase("src/Db.cpp", 42, 0xC004A811u, "open %s failed (%d)", "a.blb", 7);
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "open a.blb failed (7)");
    auto& base = dynamic_cast<const ExceptionBase&>(e);
    EXPECT_EQ(base.location(), "File src/Db.cpp at Line 42");
    EXPECT_EQ(base.code(), 0xC004A811u);
  }
  EXPECT_EQ(ExceptionBase(nullptr, 3, 5, "text").location(), "");
  const char* noFormat = nullptr;
  ExceptionBase e("x.cpp", 3, 5, noFormat);
  EXPECT_STREQ(e.what(), "");
  e.setLocation("b", 9);  // replaces the text; a null file keeps it
  e.setLocation(nullptr, 10);
  EXPECT_EQ(e.location(), "File b at Line 9");
}

TEST(ExceptionBase, TextsAreCutAt1023Characters) {
  for (std::size_t length : {1023u, 1024u}) {
    SCOPED_TRACE(length);
    const std::string text(length, 'm');
    EXPECT_EQ(std::string(ExceptionBase("f", 1, 0, "%s", text.c_str()).what()),
              text.substr(0, 1023));
    // "File " + name + " at Line 1" cut the same way.
    const std::string file(length, 'p');
    EXPECT_EQ(ExceptionBase(file.c_str(), 1, 0, "m").location(),
              ("File " + file + " at Line 1").substr(0, 1023));
  }
}

}  // namespace
