// FieldCipher: the stored layout (pinned by known answers computed outside
// this code base), the lengths of stored texts, the MAC's binding to value,
// table, field, record and secret, the piecewise decoding of long values,
// malformed stored texts in both formats, and the per-object random salt.
#include "DataBase/AccessDriver/FieldCipher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "DataBase/AccessDriver/DaoException.h"
#include "Platform/ComUtil.h"
#include "Platform/OleAuto.h"
#include "Utility/Base64.h"
#include "Utility/Coding.h"

namespace {

constexpr ULONG kVersion10 = 0x01000000;
constexpr ULONG kVersion11 = 0x01010000;
constexpr char kTable[] = "tblKunde";
constexpr char kField[] = "Name";

constexpr char kOnlyBstr[] = "only BSTR types allowed as encrypted values";
constexpr char kNoMac[] = "no MAC at all found in database";
constexpr char kIllegalMac[] = "illegal MAC found in database";

_variant_t IdLong(LONG lValue) {
  return _variant_t(lValue);
}
_variant_t IdText(const char16_t* pszText) {
  return _variant_t(pszText);
}
_variant_t OfType(VARTYPE vt) {
  _variant_t v;
  v.vt = vt;  // VT_EMPTY / VT_NULL carry nothing to free
  return v;
}
_variant_t Stored(const std::string& text) {
  return _variant_t(text.c_str());
}

void SetSecret(FieldCipher& cipher, const std::string& secret) {
  cipher.SetSecret(reinterpret_cast<const BYTE*>(secret.data()), static_cast<ULONG>(secret.size()),
                   nullptr, 0);
}

std::string Encrypt(FieldCipher& cipher, const std::string& plain, ULONG ulVersion = kVersion11,
                    const VARIANT& vtId = IdLong(4711), const char* pszTable = kTable,
                    const char* pszField = kField) {
  std::vector<char> buffer(EncryptedBufferSize(plain.size()), '\x7f');
  cipher.Encrypt(pszTable, pszField, vtId, buffer.data(),
                 reinterpret_cast<const BYTE*>(plain.data()), static_cast<ULONG>(plain.size()),
                 ulVersion);
  const std::string text(buffer.data());  // up to the NUL
  EXPECT_LE(text.size() + 1, buffer.size());
  return text;
}

// The outcome of one Decrypt: the bytes delivered, or the error's text.
struct Read {
  std::string plain;
  LONG lResult = 0;
  bool bThrew = false;
  std::string error;
  LONG lCode = -1;
};

Read Decrypt(const FieldCipher& cipher, const VARIANT& vtStored, ULONG ulVersion = kVersion11,
             const VARIANT& vtId = IdLong(4711), const char* pszTable = kTable,
             const char* pszField = kField, std::size_t capacity = 4096) {
  Read read;
  std::vector<BYTE> out(capacity + 1, 0xEE);
  try {
    read.lResult = cipher.Decrypt(pszTable, pszField, vtId, vtStored, out.data(),
                                  static_cast<ULONG>(capacity), ulVersion);
    EXPECT_GE(read.lResult, 0);
    EXPECT_LE(static_cast<std::size_t>(read.lResult), capacity);
    read.plain.assign(reinterpret_cast<const char*>(out.data()), read.lResult);
  } catch (const vem_error& e) {
    read.bThrew = true;
    read.error = e.what();
    read.lCode = e.code();
  }
  EXPECT_EQ(out[capacity], 0xEE) << "Decrypt wrote beyond the capacity";
  return read;
}

Read Decrypt(const FieldCipher& cipher, const std::string& text, ULONG ulVersion = kVersion11) {
  return Decrypt(cipher, Stored(text), ulVersion);
}

std::vector<BYTE> RawBytes(const std::string& text) {
  std::vector<BYTE> raw;
  EXPECT_TRUE(Base64Decode(text, &raw)) << text;
  return raw;
}

std::string PlainOfLength(std::size_t n) {
  std::string plain(n, '\0');
  for (std::size_t i = 0; i < n; ++i) plain[i] = static_cast<char>('A' + (i * 7) % 53);
  return plain;
}

// ---- Stored format ----------------------------------------------------------

// Expected texts computed independently (Python: hashlib.md5, a textbook RC4,
// base64) for secret "geheim", salt 01..08 and counter 0x11223344.
TEST(FieldCipherFormat, KnownAnswersPinTheStoredBytes) {
  const BYTE salt[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  struct Case {
    const char* what;
    ULONG ulVersion;
    _variant_t vtId;
    const char* pszTable;
    const char* pszField;
    const char* expected;
  } cases[] = {
      {"1.1, long id", kVersion11, IdLong(4711), "tblKunde", "Name",
       "AQIDBAUGBwhEMyIR1TUrWRJUoPTJeBtbdBXuOSa+jMzF"},
      {"1.0, no MAC", kVersion10, IdLong(4711), "tblKunde", "Name", "AQIDBAUGBwhEMyIR1TUrWRI="},
      {"1.1, text id", kVersion11, IdText(u"K-17"), "tblKunde", "Name",
       "AQIDBAUGBwhEMyIR1TUrWRIqRm581F0vwyq+YSA6Ul3n"},
      {"1.1, empty id", kVersion11, OfType(VT_EMPTY), "tblKunde", "Name",
       "AQIDBAUGBwhEMyIR1TUrWRLVbjqUZtG5MEKNsZXUGxex"},
      {"1.1, null id", kVersion11, OfType(VT_NULL), "tblKunde", "Name",
       "AQIDBAUGBwhEMyIR1TUrWRLVbjqUZtG5MEKNsZXUGxex"},
      // Names as Windows-1252 bytes, an id beyond Latin-1 as UTF-16LE units.
      {"1.1, 1252 names, wide id", kVersion11, IdText(u"\u03A9\u20AC"), "tbl\xE4",
       "Gr\xF6\xDF"
       "e",
       "AQIDBAUGBwhEMyIR1TUrWRKQ7FqgjIRvn+4eS/qXscZy"},
  };
  for (const Case& c : cases) {
    FieldCipher cipher;
    SetSecret(cipher, "geheim");
    cipher.TEST_SetSaltAndCounter(salt, 0x11223343);  // Encrypt increments first
    EXPECT_EQ(Encrypt(cipher, "Hallo", c.ulVersion, c.vtId, c.pszTable, c.pszField), c.expected)
        << c.what;
    const Read read =
        Decrypt(cipher, Stored(c.expected), c.ulVersion, c.vtId, c.pszTable, c.pszField);
    EXPECT_FALSE(read.bThrew) << c.what << ": " << read.error;
    EXPECT_EQ(read.plain, "Hallo") << c.what;
  }
}

TEST(FieldCipherFormat, TextLengthsOfTheFieldTypes) {
  struct Case {
    std::size_t plainBytes;
    std::size_t text11, raw11, text10;
  } cases[] = {
      {1, 40, 29, 20},       // BOOL, CHAR, UCHAR
      {2, 40, 30, 20},       // SHORT, USHORT
      {4, 44, 32, 24},       // LONG, ULONG, FLOAT
      {8, 48, 36, 28},       // DOUBLE, DATETIME
      {0, 40, 28, 16},       // empty STRING: header and MAC only
      {161, 252, 189, 232},  // the longest text of a 252-character column
  };
  FieldCipher cipher;
  for (const auto& c : cases) {
    const std::string plain = PlainOfLength(c.plainBytes);
    const std::string text11 = Encrypt(cipher, plain, kVersion11);
    EXPECT_EQ(text11.size(), c.text11) << c.plainBytes;
    EXPECT_EQ(EncryptedTextLength(c.plainBytes), c.text11) << c.plainBytes;
    EXPECT_EQ(RawBytes(text11).size(), c.raw11) << c.plainBytes;
    EXPECT_EQ(Encrypt(cipher, plain, kVersion10).size(), c.text10) << c.plainBytes;
  }
}

// Two writes of one value differ in either format, and both read back (here
// without a secret).
TEST(FieldCipherFormat, EveryWriteUsesTheNextCounterAndWraps) {
  FieldCipher cipher;
  const BYTE salt[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  for (ULONG ulVersion : {kVersion11, kVersion10}) {
    cipher.TEST_SetSaltAndCounter(salt, 0xFFFFFFFE);
    const std::string a = Encrypt(cipher, "same", ulVersion);
    const std::string b = Encrypt(cipher, "same", ulVersion);
    EXPECT_NE(a, b);
    EXPECT_EQ(DecodeFixed32(RawBytes(a).data() + 8), 0xFFFFFFFFu);
    EXPECT_EQ(DecodeFixed32(RawBytes(b).data() + 8), 0u);
    EXPECT_EQ(Decrypt(cipher, a, ulVersion).plain, "same");
    EXPECT_EQ(Decrypt(cipher, b, ulVersion).plain, "same");
  }
}

// ---- Round trips ------------------------------------------------------------

// Plain lengths around the first piece boundary (a piece of 1024 characters
// holds 768 bytes, 756 after the header), so that the boundary falls before,
// inside and after the MAC, and values of several pieces.
TEST(FieldCipherRoundTrip, LengthsAcrossPieceBoundaries) {
  std::vector<std::size_t> lengths = {0, 1, 2, 3, 4, 8, 100, 1000, 1524, 1525, 5000};
  for (std::size_t n = 736; n <= 760; ++n) lengths.push_back(n);
  FieldCipher cipher;
  SetSecret(cipher, "s3cret");
  for (ULONG ulVersion : {kVersion10, kVersion11}) {
    for (std::size_t n : lengths) {
      const std::string plain = PlainOfLength(n);
      const std::string text = Encrypt(cipher, plain, ulVersion);
      const Read read =
          Decrypt(cipher, Stored(text), ulVersion, IdLong(4711), kTable, kField, n + 32);
      EXPECT_FALSE(read.bThrew) << n << ": " << read.error;
      EXPECT_EQ(read.lResult, static_cast<LONG>(n)) << n;
      EXPECT_EQ(read.plain, plain) << "version " << std::hex << ulVersion << std::dec << ", " << n;
    }
  }
}

// Two database objects never share a key stream: each starts with its own
// random salt (and counter), with a secret or without (before the fix every
// object started with salt 0 and counter 0, so the first values of two
// sessions were enciphered under the same RC4 key); a reader takes both
// from the stored value.
TEST(FieldCipherRoundTrip, EachObjectDrawsItsOwnSaltAndReadsAnothersValues) {
  for (const bool bSecret : {true, false}) {
    FieldCipher writer;
    FieldCipher reader;
    if (bSecret) {
      SetSecret(writer, "s3cret");
      SetSecret(reader, "s3cret");
    }
    const std::string fromWriter = Encrypt(writer, "Wert");
    const std::string fromReader = Encrypt(reader, "Wert");
    const auto rawW = RawBytes(fromWriter);
    const auto rawR = RawBytes(fromReader);
    EXPECT_NE(std::vector<BYTE>(rawW.begin(), rawW.begin() + 12),
              std::vector<BYTE>(rawR.begin(), rawR.begin() + 12))
        << "both objects drew the same salt and counter";
    EXPECT_NE(rawW, rawR);
    EXPECT_EQ(Decrypt(reader, fromWriter).plain, "Wert");
    EXPECT_EQ(Decrypt(writer, fromReader).plain, "Wert");
  }
}

// A small capacity still checks the MAC over all bytes.
TEST(FieldCipherRoundTrip, SmallCapacityStillChecksTheMacOverAllBytes) {
  FieldCipher cipher;
  SetSecret(cipher, "s3cret");
  const std::string plain = PlainOfLength(100);
  const std::string text = Encrypt(cipher, plain);

  const Read head = Decrypt(cipher, Stored(text), kVersion11, IdLong(4711), kTable, kField, 10);
  EXPECT_FALSE(head.bThrew) << head.error;
  EXPECT_EQ(head.plain, plain.substr(0, 10));

  // Damage plain byte 80, far beyond the 10 bytes delivered.
  std::string damaged = text;
  const std::size_t pos = (12 + 80) / 3 * 4;
  damaged[pos] = damaged[pos] == 'A' ? 'B' : 'A';
  const Read read = Decrypt(cipher, Stored(damaged), kVersion11, IdLong(4711), kTable, kField, 10);
  EXPECT_TRUE(read.bThrew);
  EXPECT_EQ(read.error, kIllegalMac);

  // A failed check leaves no plain byte in the buffer (three pieces, the
  // damage inside the MAC).
  const std::string plain3 = PlainOfLength(2000);
  std::string text3 = Encrypt(cipher, plain3);
  text3[text3.size() - 3] = text3[text3.size() - 3] == 'A' ? 'B' : 'A';
  std::vector<BYTE> out(2100, 0xEE);
  EXPECT_THROW(cipher.Decrypt(kTable, kField, IdLong(4711), Stored(text3), out.data(),
                              static_cast<ULONG>(out.size()), kVersion11),
               vem_error);
  for (std::size_t i = 0; i < plain3.size(); ++i)
    ASSERT_NE(out[i], static_cast<BYTE>(plain3[i])) << "plain byte " << i << " left behind";
}

// The read key state can differ from the write key state: a value is read
// with the old secret's state and rewritten with the new one. A change
// undone: after RestoreKeyStates the cipher writes exactly what it wrote
// before (same key, same salt; the pinned counter aside) and reads its old
// values, whatever secret and salt were set in between.
TEST(FieldCipherRoundTrip, KeyStatesReadOldWriteNewAndRestore) {
  const BYTE salt[kCipherSaltSize] = {1, 2, 3, 4, 5, 6, 7, 8};
  const BYTE random[kCipherSaltSize] = {9, 9, 9, 9, 9, 9, 9, 9};
  FieldCipher cipher;
  SetSecret(cipher, "alt");
  cipher.TEST_SetSaltAndCounter(salt, 41);
  const std::string oldText = Encrypt(cipher, "Wert");
  const FieldCipher::KeyStates saved = cipher.SaveKeyStates();
  const std::string secret = "neu";
  cipher.SetSecret(reinterpret_cast<const BYTE*>(secret.data()), static_cast<ULONG>(secret.size()),
                   random, sizeof random);
  const Md5Context newState = cipher.GetReadKeyState();
  cipher.SetReadKeyState(saved.read);
  EXPECT_NE(std::memcmp(&cipher.GetWriteKeyState(), &saved.write, sizeof saved.write), 0);

  const Read read = Decrypt(cipher, oldText);
  ASSERT_FALSE(read.bThrew) << read.error;
  const std::string newText = Encrypt(cipher, read.plain);
  cipher.SetReadKeyState(newState);
  EXPECT_EQ(Decrypt(cipher, newText).plain, "Wert");
  EXPECT_EQ(Decrypt(cipher, oldText).error, kIllegalMac);

  cipher.RestoreKeyStates(saved);
  EXPECT_EQ(std::memcmp(&cipher.GetWriteKeyState(), &saved.write, sizeof saved.write), 0);
  EXPECT_EQ(Decrypt(cipher, oldText).plain, "Wert");
  // The salt comes back too: only the counter needs pinning again.
  const BYTE other[kCipherSaltSize] = {};
  cipher.TEST_SetSaltAndCounter(other, 41);
  cipher.RestoreKeyStates(saved);
  EXPECT_EQ(Encrypt(cipher, "Wert"), oldText);
}

// ---- Salt from the random array --------------------------------------------

TEST(FieldCipherSecret, RandomArrayOfEightOrMoreBytesSetsTheSalt) {
  const BYTE random[9] = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9};
  const std::string secret = "s3cret";
  const auto* pSecret = reinterpret_cast<const BYTE*>(secret.data());
  struct Case {
    const BYTE* pRandom;
    ULONG ulLength;
    bool bSetsSalt;
  } cases[] = {{random, 7, false}, {random, 8, true}, {random, 9, true}, {nullptr, 8, false}};
  for (const Case& c : cases) {
    FieldCipher cipher;
    const auto before = RawBytes(Encrypt(cipher, "x"));
    cipher.SetSecret(pSecret, static_cast<ULONG>(secret.size()), c.pRandom, c.ulLength);
    const std::string text = Encrypt(cipher, "x");
    const auto after = RawBytes(text);
    const std::vector<BYTE> salt(after.begin(), after.begin() + 8);
    if (c.bSetsSalt)
      EXPECT_EQ(salt, std::vector<BYTE>(random, random + 8)) << c.ulLength;
    else
      EXPECT_EQ(salt, std::vector<BYTE>(before.begin(), before.begin() + 8)) << c.ulLength;
    EXPECT_EQ(Decrypt(cipher, text).plain, "x");
  }
}

// ---- Values that must not read -------------------------------------------

TEST(FieldCipherReject, AnyChangedCharacterIsAnIllegalMac) {
  FieldCipher cipher;
  SetSecret(cipher, "s3cret");
  const std::string text = Encrypt(cipher, "1234");  // 44 characters, none padding
  ASSERT_EQ(text.size(), 44u);
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::string changed = text;
    changed[i] = text[i] == 'Q' ? 'R' : 'Q';
    const Read read = Decrypt(cipher, changed);
    EXPECT_TRUE(read.bThrew) << "character " << i;
    EXPECT_EQ(read.error, kIllegalMac) << "character " << i;
    EXPECT_EQ(read.lCode, 0);
  }
}

TEST(FieldCipherReject, MovedValuesAndOtherSecretsAreIllegalMacs) {
  FieldCipher cipher;
  SetSecret(cipher, "s3cret");
  const std::string withLongId = Encrypt(cipher, "Wert", kVersion11, IdLong(4711));
  const std::string withTextId = Encrypt(cipher, "Wert", kVersion11, IdText(u"K-17"));
  struct Case {
    const char* what;
    const std::string* pText;
    _variant_t vtId;
    const char* pszTable;
    const char* pszField;
  } cases[] = {
      {"other table", &withLongId, IdLong(4711), "tblLieferant", kField},
      {"other field", &withLongId, IdLong(4711), kTable, "Vorname"},
      {"other record", &withLongId, IdLong(4712), kTable, kField},
      {"id as text", &withLongId, IdText(u"4711"), kTable, kField},
      {"no id", &withLongId, OfType(VT_NULL), kTable, kField},
      {"other text id", &withTextId, IdText(u"K-18"), kTable, kField},
  };
  for (const Case& c : cases) {
    const Read read = Decrypt(cipher, Stored(*c.pText), kVersion11, c.vtId, c.pszTable, c.pszField);
    EXPECT_TRUE(read.bThrew) << c.what;
    EXPECT_EQ(read.error, kIllegalMac) << c.what;
  }

  FieldCipher other;
  SetSecret(other, "anders");
  EXPECT_EQ(Decrypt(other, withLongId).error, kIllegalMac);
  FieldCipher noSecret;
  EXPECT_EQ(Decrypt(noSecret, withLongId).error, kIllegalMac);
  // A 1.0 value has no MAC: garbage under another secret, but no error.
  const Read read = Decrypt(other, Encrypt(cipher, "Wert", kVersion10), kVersion10);
  EXPECT_FALSE(read.bThrew);
  EXPECT_EQ(read.lResult, 4);
  EXPECT_NE(read.plain, "Wert");
}

TEST(FieldCipherReject, MalformedStoredValuesPerFormat) {
  FieldCipher cipher;
  SetSecret(cipher, "s3cret");
  const std::string good = Encrypt(cipher, "Wert");
  std::u16string wide(good.begin(), good.end());
  wide[20] = u'\u00C4';  // a non-ASCII character inside a valid-length text
  _variant_t nullBstr;
  nullBstr.vt = VT_BSTR;
  nullBstr.bstrVal = nullptr;

  struct Case {
    const char* what;
    _variant_t vtStored;
    const char* error11;  // the error in format 1.1
    LONG lResult10;       // the silent result in format 1.0
  } cases[] = {
      {"VT_NULL", OfType(VT_NULL), kOnlyBstr, 0},
      {"VT_EMPTY", OfType(VT_EMPTY), kOnlyBstr, 0},
      {"VT_I4", IdLong(5), kOnlyBstr, 0},
      {"empty text", Stored(""), kNoMac, 0},
      {"null BSTR", nullBstr, kNoMac, 0},
      {"16 characters: header only", Stored("AQIDBAUGBwhEMyIR"), kNoMac, 0},
      {"header and 15 bytes", Stored(good.substr(0, 36)), kNoMac, 15},
      {"length not a multiple of 4", Stored(good.substr(0, 43)), kIllegalMac, 0},
      {"character outside the alphabet", Stored(good.substr(0, 20) + "!" + good.substr(21)),
       kIllegalMac, 0},
      {"non-ASCII character", _variant_t(wide.c_str()), kIllegalMac, 0},
      {"first piece shorter than the header", Stored("AAAAAAAAAAA="), kIllegalMac, 0},
      {"four characters", Stored("AAAA"), kIllegalMac, 0},
      {"nonzero padding bits", Stored("AQIDBAUGBwhEMyIR1TUrWRJ="), kIllegalMac, 0},
  };
  for (const Case& c : cases) {
    const Read read11 = Decrypt(cipher, c.vtStored, kVersion11);
    EXPECT_TRUE(read11.bThrew) << c.what;
    EXPECT_EQ(read11.error, c.error11) << c.what;
    EXPECT_EQ(read11.lCode, 0) << c.what;
    const Read read10 = Decrypt(cipher, c.vtStored, kVersion10);
    EXPECT_FALSE(read10.bThrew) << c.what;
    EXPECT_EQ(read10.lResult, c.lResult10) << c.what;
  }
}

// The stored text is decoded in pieces of 1024 characters. A text whose first
// piece carries padding decodes piece by piece to the very bytes of a valid
// value; it is no encoding the cipher ever writes and must not read.
TEST(FieldCipherReject, PaddingInsideTheTextIsRejected) {
  FieldCipher cipher;
  SetSecret(cipher, "s3cret");
  const std::string plain = PlainOfLength(1000);
  for (ULONG ulVersion : {kVersion10, kVersion11}) {
    const auto raw = RawBytes(Encrypt(cipher, plain, ulVersion));
    // 767 bytes encode to exactly 1024 characters ending in one "=".
    const std::string first = Base64Encode(raw.data(), 767);
    ASSERT_EQ(first.size(), 1024u);
    ASSERT_EQ(first.back(), '=');
    const std::string forged = first + Base64Encode(raw.data() + 767, raw.size() - 767);
    const Read read = Decrypt(cipher, forged, ulVersion);
    if (ulVersion == kVersion11) {
      EXPECT_EQ(read.error, kIllegalMac);
    } else {
      EXPECT_FALSE(read.bThrew);
      EXPECT_EQ(read.lResult, 0);
    }
  }
}

TEST(FieldCipherReject, UnknownVersionsRefuseToWriteAndToRead) {
  FieldCipher cipher;
  const BYTE salt[8] = {};
  cipher.TEST_SetSaltAndCounter(salt, 41);
  const std::string good = Encrypt(cipher, "Wert");  // counter 42
  for (ULONG ulVersion : {0x00000000u, 0x01020000u, 0x00FF0000u, 0x02010000u}) {
    std::vector<char> buffer(EncryptedBufferSize(4), 'x');
    try {
      cipher.Encrypt(kTable, kField, IdLong(4711), buffer.data(),
                     reinterpret_cast<const BYTE*>("Wert"), 4, ulVersion);
      ADD_FAILURE() << std::hex << ulVersion << " was accepted";
    } catch (const vem_error& e) {
      EXPECT_EQ(e.code(), E_INVALIDARG);
      EXPECT_NE(std::string(e.what()).find("driver version"), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(kField), std::string::npos) << e.what();
    }
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), std::string(buffer.size(), 'x'));

    std::vector<BYTE> out(8, 0xEE);
    for (const _variant_t& vtStored : {Stored(good), OfType(VT_NULL)}) {
      try {
        cipher.Decrypt(kTable, kField, IdLong(4711), vtStored, out.data(), 8, ulVersion);
        ADD_FAILURE() << std::hex << ulVersion << " was read";
      } catch (const vem_error& e) {
        EXPECT_EQ(e.code(), E_INVALIDARG);
        EXPECT_NE(std::string(e.what()).find("driver version"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find(kTable), std::string::npos) << e.what();
      }
    }
    EXPECT_EQ(out, std::vector<BYTE>(8, 0xEE));
  }
  // The refused writes did not consume counter values.
  EXPECT_EQ(DecodeFixed32(RawBytes(Encrypt(cipher, "Wert")).data() + 8), 43u);
}

}  // namespace
