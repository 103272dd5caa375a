// ExceptionBase: its texts, their 1023-character limit and null arguments.
#include "Utility/ExceptionBase.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ExceptionBase, FormatsMessageAndLocation) {
  try {
    throw ExceptionBase("src/Db.cpp", 42, 0xC004A811u, "open %s failed (%d)", "a.blb", 7);
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "open a.blb failed (7)");
    auto& base = dynamic_cast<const ExceptionBase&>(e);
    EXPECT_EQ(base.location(), "File src/Db.cpp at Line 42");
    EXPECT_EQ(base.code(), 0xC004A811u);
  }
}

TEST(ExceptionBase, NullFormatOrFileLeavesThatTextEmpty) {
  const char* noFormat = nullptr;
  ExceptionBase withoutMessage("x.cpp", 3, 5, noFormat);
  EXPECT_STREQ(withoutMessage.what(), "");
  EXPECT_EQ(withoutMessage.location(), "File x.cpp at Line 3");

  ExceptionBase withoutFile(nullptr, 3, 5, "text");
  EXPECT_STREQ(withoutFile.what(), "text");
  EXPECT_EQ(withoutFile.location(), "");
}

TEST(ExceptionBase, TextsAreCutAt1023Characters) {
  for (std::size_t length : {1022u, 1023u, 1024u, 5000u}) {
    SCOPED_TRACE(length);
    const std::string text(length, 'm');
    ExceptionBase e("f", 1, 0, "%s", text.c_str());
    EXPECT_EQ(std::string(e.what()), text.substr(0, 1023));

    // "File " + name + " at Line 1" cut the same way.
    const std::string file(length, 'p');
    ExceptionBase located(file.c_str(), 1, 0, "m");
    const std::string full = "File " + file + " at Line 1";
    EXPECT_EQ(located.location(), full.substr(0, 1023));
  }
}

TEST(ExceptionBase, SetMessageAndLocationReplaceTheTexts) {
  struct Reformat : ExceptionBase {
    Reformat() : ExceptionBase("a", 1, 0, "first") {}
    void Again(const char* format, ...) __attribute__((format(printf, 2, 3))) {
      va_list args;
      va_start(args, format);
      setMessage(format, args);
      va_end(args);
    }
  } e;
  e.Again("second %d", 2);
  EXPECT_STREQ(e.what(), "second 2");
  e.Again(nullptr);
  EXPECT_STREQ(e.what(), "second 2") << "a null format changes nothing";
  e.setLocation("b", 9);
  EXPECT_EQ(e.location(), "File b at Line 9");
  e.setLocation(nullptr, 10);
  EXPECT_EQ(e.location(), "File b at Line 9");
}

}  // namespace
