// VariantChangeTypeEx against the reference table in reference/: every case
// of VariantReference.tsv (US English and German) gives the recorded result,
// except the kept differences listed in VariantDeviations.tsv.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Platform/OleAuto.h"
#include "VariantCases.h"

using namespace variantcases;  // NOLINT: the builders and IntegerText

namespace {

std::filesystem::path ReferenceDir() {
  return VEM_REFERENCE_DIR;
}

std::vector<std::string> Split(const std::string& line, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(line);
  while (std::getline(in, part, separator)) parts.push_back(part);
  return parts;
}

// "\uXXXX" escapes back to UTF-16.
std::u16string Unescape(const std::string& text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 5 < text.size() + 0 && text[i + 1] == 'u') {
      out.push_back(static_cast<char16_t>(std::stoul(text.substr(i + 2, 4), nullptr, 16)));
      i += 5;
    } else {
      out.push_back(static_cast<unsigned char>(text[i]));
    }
  }
  return out;
}

std::string Escape(const OLECHAR* text, UINT length) {
  std::string out;
  char buffer[8];
  for (UINT i = 0; i < length; ++i) {
    if (text[i] >= 0x20 && text[i] < 0x7F && text[i] != u'\\') {
      out += static_cast<char>(text[i]);
    } else {
      std::snprintf(buffer, sizeof(buffer), "\\u%04X", static_cast<unsigned>(text[i]));
      out += buffer;
    }
  }
  return out;
}

// A VARIANT from "vt:payload" (the generator's encoding): integers in
// decimal, floating values as the hexadecimal bits, DECIMAL as
// "scale/sign/hi/lo", texts with escapes, byte arrays in hexadecimal.
VARIANT Decode(const std::string& encoded) {
  const std::size_t colon = encoded.find(':');
  const auto vt = static_cast<VARTYPE>(std::stoul(encoded.substr(0, colon)));
  const std::string payload = encoded.substr(colon + 1);
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
      return Make(vt);
    case VT_R4:
    case VT_R8:
    case VT_DATE:
      return Make(vt, std::stoull(payload, nullptr, 16));
    case VT_DECIMAL: {
      const auto parts = Split(payload, '/');
      return Dec(static_cast<BYTE>(std::stoul(parts[0])), parts[1] != "0",
                 static_cast<ULONG>(std::stoul(parts[2])), std::stoull(parts[3]));
    }
    case VT_BSTR:
      return Str(Unescape(payload));
    case VT_ARRAY | VT_UI1: {
      std::string bytes;
      for (std::size_t i = 0; i + 1 < payload.size(); i += 2)
        bytes += static_cast<char>(std::stoul(payload.substr(i, 2), nullptr, 16));
      return Bytes(bytes);
    }
    default:  // the integer types
      EXPECT_NE(FindIntegerType(vt), nullptr) << "unknown source " << encoded;
      return Make(vt, payload[0] == '-' ? std::stoll(payload) : std::stoull(payload));
  }
}

std::string Encode(const VARIANT& v) {
  char buffer[96];
  std::string out = std::to_string(v.vt) + ":";
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return out + "-";
    case VT_R4:
      std::snprintf(buffer, sizeof(buffer), "%08x", static_cast<unsigned>(v.ulVal));
      return out + buffer;
    case VT_R8:
    case VT_DATE:
      std::snprintf(buffer, sizeof(buffer), "%016llx", static_cast<unsigned long long>(v.ullVal));
      return out + buffer;
    case VT_DECIMAL:
      std::snprintf(buffer, sizeof(buffer), "%u/%u/%u/%llu", v.decVal.scale, v.decVal.sign,
                    v.decVal.Hi32, static_cast<unsigned long long>(v.decVal.Lo64));
      return out + buffer;
    case VT_BSTR:
      return out + Escape(v.bstrVal, SysStringLen(v.bstrVal));
    case VT_ARRAY | VT_UI1:
      for (ULONG i = 0; i < v.parray->rgsabound[0].cElements; ++i) {
        std::snprintf(buffer, sizeof(buffer), "%02x", static_cast<BYTE*>(v.parray->pvData)[i]);
        out += buffer;
      }
      return out;
    default:
      return out + (FindIntegerType(v.vt) != nullptr ? IntegerText(v) : "?");
  }
}

// The cases where the platform keeps its own answer: "lcid flags source
// target" of each, from VariantDeviations.tsv (text after a fourth tab is the
// reason; lines starting with "#" are comments).
std::set<std::string> Deviations() {
  std::set<std::string> keys;
  std::ifstream in(ReferenceDir() / "VariantDeviations.tsv");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const auto parts = Split(line, '\t');
    if (parts.size() >= 4)
      keys.insert(parts[0] + "\t" + parts[1] + "\t" + parts[2] + "\t" + parts[3]);
  }
  return keys;
}

}  // namespace

TEST(VariantReference, AgreesWithTheReferenceTable) {
  std::ifstream in(ReferenceDir() / "VariantReference.tsv");
  ASSERT_TRUE(in) << "no reference table under " << ReferenceDir();
  const std::set<std::string> deviations = Deviations();
  std::set<std::string> seenDeviations;
  std::string line;
  int cases = 0, agreeing = 0;
  while (std::getline(in, line)) {
    const auto parts = Split(line, '\t');
    ASSERT_EQ(parts.size(), 6U) << line;
    ++cases;
    const LCID lcid = static_cast<LCID>(std::stoul(parts[0], nullptr, 16));
    const auto flags = static_cast<USHORT>(std::stoul(parts[1]));
    const auto target = static_cast<VARTYPE>(std::stoul(parts[3]));
    VARIANT source = Decode(parts[2]);
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr = VariantChangeTypeEx(&result, &source, lcid, flags, target);
    char hrText[16];
    std::snprintf(hrText, sizeof(hrText), "%08x", static_cast<unsigned>(hr));
    const std::string got = std::string(hrText) + "\t" + (SUCCEEDED(hr) ? Encode(result) : "-");
    const std::string expected = parts[4] + "\t" + parts[5];
    const std::string key = parts[0] + "\t" + parts[1] + "\t" + parts[2] + "\t" + parts[3];
    if (got == expected) {
      ++agreeing;
    } else if (deviations.count(key) != 0) {
      seenDeviations.insert(key);
    } else {
      ADD_FAILURE() << key << ": expected " << expected << ", got " << got;
    }
    VariantClear(&result);
    VariantClear(&source);
  }
  EXPECT_GT(cases, 1000);
  for (const std::string& key : deviations)
    EXPECT_TRUE(seenDeviations.count(key) != 0) << "listed deviation agrees now: " << key;
  std::printf("%d of %d reference cases agree; %zu kept differences\n", agreeing, cases,
              seenDeviations.size());
}
