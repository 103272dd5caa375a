// The data of the encrypted-records comparison (encrypted_records_bench and
// sqlcipher_bench): the same records, keys and secrets on both sides, with no
// dependency on the driver or on SQLite, so that the SQLCipher program links
// nothing but SQLCipher.
//
// Table tblPerson: ID (integer key), Name (30 characters, plain), Note (34
// characters) and Amount (a double): Note and Amount are the encrypted
// fields (field cipher on the driver's side, whole-file encryption on
// SQLCipher's, plain on plain SQLite's).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace encrecords {

// Records of every workload: 100,000, or VEM_ENCRYPTED_BENCH_RECORDS.
inline int Records() {
  static const int n = [] {
    const char* text = std::getenv("VEM_ENCRYPTED_BENCH_RECORDS");
    const int value = text != nullptr ? std::atoi(text) : 0;
    return value > 0 ? value : 100000;
  }();
  return n;
}
inline constexpr int kLookups = 10000;  // keyed reads per iteration
inline constexpr std::size_t kNameChars = 30;
inline constexpr std::size_t kNoteChars = 34;

inline constexpr char kSecretA[] = "erstes Geheimnis";
inline constexpr char kSecretB[] = "zweites Geheimnis";

// The texts of every record, made once (outside every timed region).
struct Texts {
  Texts() {
    names.reserve(static_cast<std::size_t>(Records()));
    notes.reserve(static_cast<std::size_t>(Records()));
    char text[64];
    for (int id = 1; id <= Records(); ++id) {
      std::snprintf(text, sizeof text, "Kundin %08d, Filiale Nord-Ost", id);
      names.emplace_back(text, kNameChars);
      std::snprintf(text, sizeof text, "Vermerk %08d: Zahlung erhalten ok", id);
      notes.emplace_back(text, kNoteChars);
    }
  }
  std::vector<std::string> names, notes;
};

inline const Texts& TheTexts() {
  static const Texts texts;
  return texts;
}

inline const std::string& Name(int id) {
  return TheTexts().names[static_cast<std::size_t>(id - 1)];
}

inline const std::string& Note(int id) {
  return TheTexts().notes[static_cast<std::size_t>(id - 1)];
}

inline double Amount(int id) {
  return id * 1.25 + 0.5;
}

// The ids of one round of keyed reads (the same sequence on every side).
inline std::vector<int> LookupIds() {
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> pick(1, Records());
  std::vector<int> ids(kLookups);
  for (int& id : ids) id = pick(rng);
  return ids;
}

}  // namespace encrecords
