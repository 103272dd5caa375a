// CBackChannel against a recording client: level filtering, the trace text
// format, Data's array, the hex dump layout, and the null client.
#include "IkivBackChannel/BackChannel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "Platform/Win32.h"
#include "Support/RecordingBackChannel.h"

namespace {

using vemtest::BackChannelCall;
using vemtest::BackChannelCallKind;
using vemtest::RecordingBackChannel;

// The message of a trace text: what follows the "(<line>): " prefix.
std::string MessageOf(const std::string& text) {
  const std::size_t pos = text.find("): ");
  return pos == std::string::npos ? std::string() : text.substr(pos + 3);
}

// A back channel ("VEM", depth 0) connected to a recorder at trace level lLevel.
struct Connected {
  explicit Connected(LONG lLevel, const char* szCode = "VEM", LONG lDeep = 0)
      : client(lLevel), channel(szCode, lDeep) {
    channel.SetClient(&client);
    channel.RefreshTraceLevel();
  }
  RecordingBackChannel client;
  CBackChannel channel;
};

TEST(BackChannel, TraceLevelFiltersTracesButNeverErrorsOrProgress) {
  struct Case {
    LONG lClientLevel;
    std::vector<LONG> sent;  // of the levels 4, 2, 1
  };
  const Case cases[] = {{6, {4, 2}}, {0, {}}, {1, {1}}, {7, {4, 2, 1}}, {8, {}}};
  for (const Case& c : cases) {
    Connected bc(c.lClientLevel);
    for (LONG lLevel : {4, 2, 1}) bc.channel.Trace(lLevel, "f.cpp", 1, "level %d", lLevel);
    bc.channel.Error(5, "e", nullptr, nullptr);
    bc.channel.Progress(-1, nullptr, nullptr, nullptr, 50, 2);
    bc.channel.Info(7, "i", nullptr, nullptr);

    std::vector<LONG> sent;
    for (const BackChannelCall& call : bc.client.Calls(BackChannelCallKind::Trace)) {
      sent.push_back(call.lCode);
      EXPECT_EQ(MessageOf(*call.text1), "level " + std::to_string(call.lCode));
    }
    EXPECT_EQ(sent, c.sent) << "trace level " << c.lClientLevel;
    EXPECT_EQ(bc.client.Calls(BackChannelCallKind::Error).size(), 1u) << c.lClientLevel;
    EXPECT_EQ(bc.client.Calls(BackChannelCallKind::Progress).size(), 1u) << c.lClientLevel;
    EXPECT_EQ(bc.client.Calls(BackChannelCallKind::Info).size(), 1u) << c.lClientLevel;
  }
}

TEST(BackChannel, TraceLevelChangesOnlyOnRefresh) {
  RecordingBackChannel client(4);
  CBackChannel channel("VEM", 0);
  channel.SetClient(&client);
  channel.Trace(4, "f", 1, "before refresh");  // level 0 until the first refresh
  EXPECT_TRUE(client.TraceTexts().empty());
  channel.RefreshTraceLevel();
  client.SetTraceLevel(0);
  channel.Trace(4, "f", 2, "kept");
  EXPECT_EQ(client.TraceTexts().size(), 1u);
  channel.RefreshTraceLevel();
  channel.Trace(4, "f", 3, "dropped");
  EXPECT_EQ(client.TraceTexts().size(), 1u);
  EXPECT_EQ(client.RefCount(), 0u) << "the client pointer is held without AddRef";
}

TEST(BackChannel, TraceTextNamesModuleFileAndLine) {
  struct Case {
    const char* szFile;
    const char* szExpected;
  };
  const Case cases[] = {
      {"src/mod\\unit", "VEM unit(12): m"}, {"src\\mod/unit.cpp", "VEM unit.cpp(12): m"},
      {"unit.cpp", "VEM unit.cpp(12): m"},  {"dir/", "VEM (12): m"},
      {nullptr, "VEM ?Modul?(12): m"},
  };
  for (const Case& c : cases) {
    Connected bc(4);
    bc.channel.Trace(4, c.szFile, 12, "m");
    ASSERT_EQ(bc.client.TraceTexts().size(), 1u);
    EXPECT_EQ(bc.client.TraceTexts()[0], c.szExpected) << (c.szFile ? c.szFile : "(null)");
  }
}

TEST(BackChannel, CommonArgumentsAndModuleCode) {
  const LONG lBefore = static_cast<LONG>(std::time(nullptr));
  Connected bc(4, "ABCDEF", 3);
  bc.channel.Trace(4, "x.cpp", -1, nullptr);  // null format: no message
  bc.channel.Error(0x7B, "one", nullptr, "three");
  bc.channel.Progress(-1, nullptr, nullptr, nullptr, 42, 3);
  const LONG lAfter = static_cast<LONG>(std::time(nullptr));

  const std::vector<BackChannelCall> calls = bc.client.Calls();
  ASSERT_EQ(calls.size(), 3u);
  for (const BackChannelCall& call : calls) {
    EXPECT_EQ(call.lThreadId, static_cast<LONG>(GetCurrentThreadId()));
    EXPECT_GE(call.lTime, lBefore);
    EXPECT_LE(call.lTime, lAfter);
    EXPECT_EQ(call.lDeep, 3);
  }
  EXPECT_EQ(*calls[0].text1, "ABC x.cpp(-1): ");
  EXPECT_EQ(calls[1].lCode, 0x7B);
  EXPECT_EQ(calls[1].text1, "one");
  EXPECT_FALSE(calls[1].text2.has_value()) << "a null text is sent as a null BSTR";
  EXPECT_EQ(calls[1].text3, "three");
  EXPECT_EQ(calls[2].lCode, -1);
  EXPECT_EQ(calls[2].nPercent, 42);
  EXPECT_EQ(calls[2].eAction, 3);

  CBackChannel unnamed;
  EXPECT_EQ(unnamed.GetModuleCode(), "??? ");
}

TEST(BackChannel, TextsTravelAsWindows1252) {
  Connected bc(4);
  const std::string text =
      "Gr\xF6\xDF"
      "e \x80 5";  // "Größe € 5" in Windows-1252
  bc.channel.Error(1, text.c_str(), nullptr, nullptr);
  bc.channel.TraceText(4, "f", 1, text.c_str());
  EXPECT_EQ(bc.client.Calls(BackChannelCallKind::Error)[0].text1, text);
  EXPECT_EQ(MessageOf(bc.client.TraceTexts()[0]), text);
}

TEST(BackChannel, DataTextIsSentLiterally) {
  // A path or engine message may hold printf directives; TraceText must not
  // interpret them (with %n that would write through a garbage pointer).
  Connected bc(4);
  bc.channel.TraceText(4, "f.cpp", 9, "C:\\db\\100%s%n%d.mdb");
  bc.channel.Trace(4, "f.cpp", 9, "%s", "%s%n");
  const std::vector<std::string> texts = bc.client.TraceTexts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], "VEM f.cpp(9): C:\\db\\100%s%n%d.mdb");
  EXPECT_EQ(texts[1], "VEM f.cpp(9): %s%n");
}

TEST(BackChannel, MessagePieceIsCutAt1023Characters) {
  Connected bc(4);
  const std::string longText(3000, 'x');
  bc.channel.Trace(4, "f", 1, "%s", longText.c_str());
  bc.channel.TraceText(4, "f", 1, longText.c_str());
  bc.channel.Trace(4, "f", 1, "%s", std::string(1023, 'y').c_str());
  const std::vector<std::string> texts = bc.client.TraceTexts();
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(MessageOf(texts[0]), std::string(1023, 'x'));
  EXPECT_EQ(MessageOf(texts[1]), std::string(1023, 'x'));
  EXPECT_EQ(MessageOf(texts[2]), std::string(1023, 'y'));
}

TEST(BackChannel, SubModuleIsTrimmedToEightCharactersAndABlank) {
  struct Case {
    const char* szName;
    const char* szSubModule;
  };
  const Case cases[] = {
      {"Blob", "Blob "},
      {"Blob \t ", "Blob "},
      {"LongerThanEight", "LongerTh "},
      {"ab      x", "ab "},
      {"", ""},
      {nullptr, ""},
  };
  for (const Case& c : cases) {
    Connected bc(4);
    bc.channel.SetSubModule("previous");
    bc.channel.SetSubModule(c.szName);
    EXPECT_EQ(bc.channel.GetSubModule(), c.szSubModule);
    bc.channel.Trace(4, "u.cpp", 1, "m");
    EXPECT_EQ(bc.client.TraceTexts()[0], std::string("VEM ") + c.szSubModule + "u.cpp(1): m");
  }
}

TEST(BackChannel, DataSendsTextAndTerminatorAsByteArray) {
  for (std::size_t length :
       {std::size_t{1}, std::size_t{4094}, std::size_t{4095}, std::size_t{10000}}) {
    Connected bc(0, "VEM", 5);
    const std::string payload(length, 'd');
    bc.channel.Data("<%s>", payload.c_str());
    bc.channel.Data("%d", 12);  // the kept buffer serves a later, shorter text

    const std::vector<BackChannelCall> calls = bc.client.Calls(BackChannelCallKind::Data);
    ASSERT_EQ(calls.size(), 2u);
    const std::string expected = "<" + payload + ">";
    const BackChannelCall& call = calls[0];
    EXPECT_EQ(call.vt, VT_ARRAY | VT_UI1);
    EXPECT_EQ(call.cDims, 1);
    EXPECT_EQ(call.fFeatures, 0x11);
    EXPECT_EQ(call.cbElements, 1u);
    EXPECT_EQ(call.lLbound, 0);
    EXPECT_EQ(call.cElements, expected.size() + 1);
    ASSERT_EQ(call.bytes.size(), expected.size() + 1);
    EXPECT_EQ(std::string(call.bytes.begin(), call.bytes.end() - 1), expected);
    EXPECT_EQ(call.bytes.back(), 0);
    EXPECT_EQ(call.lDeep, 0) << "Data sends 0, not the depth";
    EXPECT_EQ(std::string(calls[1].bytes.begin(), calls[1].bytes.end()), std::string("12", 3));
  }
  Connected bc(0);
  bc.channel.Data(nullptr);
  bc.channel.Data("%s", "");  // empty text, but the format is not empty
  const char* szEmpty = "";
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-security"
  bc.channel.Data(szEmpty);  // an empty format is refused at run time too
#pragma GCC diagnostic pop
  EXPECT_EQ(bc.client.Calls(BackChannelCallKind::Data).size(), 1u);
}

std::vector<BYTE> Bytes(std::size_t n) {
  std::vector<BYTE> bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<BYTE>(i);
  return bytes;
}

// Printable bytes in the text column, the rest as '.'; lines of 16 padded.
TEST(BackChannel, HexDumpLayout) {
  const auto hexLine = [](int first) {
    std::string line;
    for (int i = first; i < first + 16; ++i) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%02x ", i);
      line += hex;
    }
    return line + "  ................";  // bytes 0..31 are not printable
  };
  std::string pad13, pad15;
  for (int i = 0; i < 13; ++i) pad13 += "   ";
  pad15 = pad13 + "      ";
  const struct {
    std::vector<BYTE> data;
    std::string expected;
  } cases[] = {
      {{0x41, 0x00, 0xFF}, "Bytes: 0-3\r\n41 00 ff " + pad13 + "  A.."},
      {Bytes(0), "Bytes: 0-0\r\n"},
      {Bytes(16), "Bytes: 0-16\r\n" + hexLine(0)},
      {Bytes(17), "Bytes: 0-17\r\n" + hexLine(0) + "\r\n10 " + pad15 + "  ."},
      {Bytes(32), "Bytes: 0-32\r\n" + hexLine(0) + "\r\n" + hexLine(16)},
  };
  for (const auto& c : cases) {
    Connected bc(4);
    bc.channel.HexDump(4, c.data.data(), static_cast<LONG>(c.data.size()));
    ASSERT_EQ(bc.client.TraceTexts().size(), 1u) << c.expected;
    EXPECT_EQ(bc.client.TraceTexts()[0].rfind("VEM BackChannel.cpp(", 0), 0u);
    EXPECT_EQ(MessageOf(bc.client.TraceTexts()[0]), c.expected);
  }
}

// Ten lines to a trace text, each with its own header; the text columns put
// together give back the data.
TEST(BackChannel, HexDumpSplitsIntoBlocksOf160Bytes) {
  for (std::size_t length : {std::size_t{160}, std::size_t{161}, std::size_t{400}}) {
    Connected bc(4);
    std::vector<BYTE> data(length);
    for (std::size_t i = 0; i < length; ++i) data[i] = static_cast<BYTE>('a' + i % 26);
    bc.channel.HexDump(4, data.data(), static_cast<LONG>(length));
    const std::vector<std::string> texts = bc.client.TraceTexts();
    ASSERT_EQ(texts.size(), (length + 159) / 160) << "length " << length;
    std::string columns;
    for (std::size_t b = 0; b < texts.size(); ++b) {
      const std::size_t first = b * 160, end = std::min(length, first + 160);
      std::string body = MessageOf(texts[b]);
      const std::string header = "Bytes: " + std::to_string(first) + "-" + std::to_string(end);
      ASSERT_EQ(body.rfind(header + "\r\n", 0), 0u) << body;
      body += "\r\n";
      std::size_t lines = 0;
      for (std::size_t start = header.size() + 2, stop;
           (stop = body.find("\r\n", start)) != std::string::npos; start = stop + 2, ++lines)
        columns += body.substr(start + 16 * 3 + 2, stop - start - 16 * 3 - 2);
      EXPECT_EQ(lines, (end - first + 15) / 16) << body;
    }
    EXPECT_EQ(columns, std::string(data.begin(), data.end()));
  }
}

TEST(BackChannel, HexDumpIsSentAtLevelFour) {
  // The dump's own level is tested first, then each text goes out through
  // the level-4 trace.
  struct Case {
    LONG lClientLevel, lDumpLevel;
    std::size_t sent;
  };
  const Case cases[] = {{4, 4, 1}, {4, 1, 0}, {1, 1, 0}, {5, 1, 1}};
  const BYTE data[] = {1, 2, 3};
  for (const Case& c : cases) {
    Connected bc(c.lClientLevel);
    bc.channel.HexDump(c.lDumpLevel, data, 3);
    EXPECT_EQ(bc.client.TraceTexts().size(), c.sent)
        << "client level " << c.lClientLevel << ", dump level " << c.lDumpLevel;
  }
}

TEST(BackChannel, NullClientDropsEverything) {
  CBackChannel channel("VEM", 0);
  channel.RefreshTraceLevel();
  EXPECT_EQ(channel.GetTraceLevel(), 0);
  channel.Trace(-1, "f", 1, "%s", "x");
  channel.TraceText(-1, "f", 1, "x");
  channel.Error(1, "a", "b", "c");
  channel.Progress(1, "a", "b", "c", 1, 1);
  channel.Info(1, "a", "b", "c");
  channel.Data("%s", "x");
  const BYTE data[] = {1};
  channel.HexDump(-1, data, 1);

  // A client that is connected and then removed gets nothing more.
  RecordingBackChannel client(7);
  channel.SetClient(&client);
  channel.RefreshTraceLevel();
  EXPECT_EQ(channel.GetTraceLevel(), 7);
  channel.SetClient(nullptr);
  channel.RefreshTraceLevel();
  EXPECT_EQ(channel.GetTraceLevel(), 0);
  channel.Error(1, "a", nullptr, nullptr);
  EXPECT_TRUE(client.Calls().empty());
}

}  // namespace
