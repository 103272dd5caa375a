// DaoDatabase: the change of secret, the re-encryption walk and the key
// check value that tells every writer which key is in force (see
// DaoDatabase.h).
//
// Key check value: the database property "vemKeyCheck" (text) holds the
// Base64 text of 24 bytes:
//   OFFSET  SIZE  FIELD
//      0      8   random salt, new each time the value is written
//      8     16   MAC of the salt under the key state S in force, as the
//                 field cipher computes it for a stored value:
//                 MD5(S || MD5(S || salt || "vemKeyCheck"))
// Guessing the secret from it costs what guessing it from any stored value
// of format 1.1 costs (the same two MD5 runs per guess, over a known plain
// text), so it gives nothing away that the values do not. The change of
// secret and the upgrade write it in their transaction; databases without
// it are written without a check.
#include <sqlite3.h>
#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "DataBase/AccessDriver/DaoDatabase.h"
#include "DataBase/AccessDriver/DaoException.h"
#include "DataBase/AccessDriver/DataModel.h"
#include "Engine/DatabaseCore.h"
#include "Platform/Random.h"
#include "Utility/Base64.h"

namespace {

constexpr const char* kKeyCheckProperty = "vemKeyCheck";
constexpr const char* kKeyCheckName = "vemKeyCheck";
constexpr std::size_t kKeyCheckBytes = kCipherSaltSize + kCipherMacSize;  // 24
constexpr short kDbText = 10;  // DAO's property type of a text

// Overwrites len bytes at p with zeros in a way the compiler may not drop.
void Wipe(void* p, std::size_t len) {
  WipeBytes(p, len);
}

// The check bytes (salt, MAC) of keyState for the given salt.
void KeyCheckOf(const Md5Context& keyState, const BYTE* pSalt, BYTE out[kKeyCheckBytes]) {
  std::memcpy(out, pSalt, kCipherSaltSize);
  const _variant_t vNoId;
  FieldCipher::ComputeMac(keyState, pSalt, kCipherSaltSize, kKeyCheckName, "", vNoId,
                          out + kCipherSaltSize);
}

// The text of the property "vemKeyCheck"; false when the database has none.
// Any value that is no text is returned as its text form (and then fails
// to decode).
bool ReadKeyCheckText(dao::Database& db, std::string& text) {
  dao::PropertiesPtr pProperties = db.GetProperties();
  if (!pProperties) _com_issue_error(E_POINTER);
  dao::PropertyPtr pProperty;
  if (FAILED(pProperties->get_Item(_variant_t(kKeyCheckProperty), &pProperty)) || !pProperty)
    return false;
  _variant_t vValue = pProperty->GetValue();
  if (vValue.vt == VT_NULL || vValue.vt == VT_EMPTY) {
    text.clear();
    return true;
  }
  if (vValue.vt != VT_BSTR) vValue.ChangeType(VT_BSTR);
  text = static_cast<const char*>(_bstr_t(vValue));
  return true;
}

using WalkColumn = DaoDatabase::WalkColumn;

// A table of this database and its encrypted columns, each once.
struct WalkTable {
  const SRecordDef* pRecordDef;  // the first record definition over it
  std::vector<WalkColumn> columns;
};

std::string Upper(const std::string& name) {
  std::string out = name;
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

// The names of the database's stored queries, upper-case.
std::vector<std::string> QueryNames(dao::Database& db) {
  std::vector<std::string> names;
  dao::QueryDefsPtr pQueryDefs = db.GetQueryDefs();
  if (!pQueryDefs) _com_issue_error(E_POINTER);
  const short nQueries = pQueryDefs->GetCount();
  for (short i = 0; i < nQueries; ++i) {
    dao::QueryDefPtr pQueryDef = pQueryDefs->GetItem(_variant_t(static_cast<LONG>(i)));
    if (!pQueryDef) _com_issue_error(E_POINTER);
    names.push_back(Upper(static_cast<const char*>(pQueryDef->GetName())));
  }
  return names;
}

// Fields whose values the walk re-enciphers: every encrypted field of a type
// with a value (STRING to DATETIME); BLOB and unknown codes hold none.
bool HoldsEncryptedValue(const SFieldDef& field) {
  return field.m_bCrypt && field.m_lType >= static_cast<LONG>(FieldType::STRING) &&
         field.m_lType <= static_cast<LONG>(FieldType::DATETIME);
}

// Closes a recordset on every way out of the walk of one table.
class RecordsetCloser {
 public:
  explicit RecordsetCloser(dao::RecordsetPtr& pRecordset) : m_pRecordset(pRecordset) {}
  ~RecordsetCloser() {
    if (!m_pRecordset) return;
    m_pRecordset->raw_Close();  // the walk's own error is the one to report
    m_pRecordset.reset();
  }
  RecordsetCloser(const RecordsetCloser&) = delete;
  RecordsetCloser& operator=(const RecordsetCloser&) = delete;

 private:
  dao::RecordsetPtr& m_pRecordset;
};

}  // namespace

void DaoDatabase::ChangeSecret(const BYTE* /*pOldSecret*/, ULONG /*ulOldLength*/,
                               const BYTE* pNewSecret, ULONG ulNewLength, const BYTE* pRandom,
                               ULONG ulRandomLength) {
  BeginSecretChange(pNewSecret, ulNewLength, pRandom, ulRandomLength);
  CommitSecretChange();
}

void DaoDatabase::BeginSecretChange(const BYTE* pNewSecret, ULONG ulNewLength, const BYTE* pRandom,
                                    ULONG ulRandomLength) {
  AbortSecretChange();  // a change left pending by a caller is given up
  // The old key is whatever this database holds now, not the old secret
  // passed in. Values are read with it and written with the new one.
  const FieldCipher::KeyStates before = m_cipher.SaveKeyStates();
  SetSecret(pNewSecret, ulNewLength, pRandom, ulRandomLength);
  const FieldCipher::KeyStates after = m_cipher.SaveKeyStates();
  m_cipher.SetReadKeyState(before.read);
  try {
    BeginReencryption({});
  } catch (...) {
    // The walk was rolled back: every value is still under the old key, so
    // both sides (and the salt) return to it.
    m_cipher.RestoreKeyStates(before);
    throw;
  }
  m_keysBeforeChange = before;
  m_keysAfterChange = after;
  m_bSecretChangePending = true;
}

void DaoDatabase::CommitSecretChange() {
  if (!m_bSecretChangePending) return;
  try {
    CommitReencryption();
  } catch (...) {
    AbortSecretChange();
    throw;
  }
  m_bSecretChangePending = false;
  m_cipher.SetReadKeyState(m_keysAfterChange.read);
  Wipe(&m_keysBeforeChange, sizeof m_keysBeforeChange);
  Wipe(&m_keysAfterChange, sizeof m_keysAfterChange);
}

void DaoDatabase::AbortSecretChange() noexcept {
  if (!m_bSecretChangePending) return;
  m_bSecretChangePending = false;
  RollbackReencryption();
  m_cipher.RestoreKeyStates(m_keysBeforeChange);
  Wipe(&m_keysBeforeChange, sizeof m_keysBeforeChange);
  Wipe(&m_keysAfterChange, sizeof m_keysAfterChange);
}

void DaoDatabase::ReencryptAll() {
  if (m_pModel == nullptr) return;
  // The tables of this database with encrypted columns, in the order of
  // their first record definition; each table and each column once. A
  // record definition over a stored query shows rows of tables that are
  // walked themselves (and binds its MACs to the query's name, which no
  // stored value carries): it is left out. Definitions of another database
  // name tables of another file and are left to that database's own walk.
  std::vector<WalkTable> tables;
  std::map<std::string, std::size_t> tableIndex;  // upper-case name -> tables
  std::vector<std::string> queries;
  bool bQueriesRead = false;
  m_pModel->ForEachRecordDef([&](const SRecordDef& recordDef) {
    if (recordDef.m_lDatabaseID != m_lID) return;
    if (std::none_of(recordDef.m_fields.begin(), recordDef.m_fields.end(),
                     [](const auto& p) { return HoldsEncryptedValue(*p); }))
      return;
    const std::string name = Upper(recordDef.m_name);
    if (!bQueriesRead) {
      queries = CallEngine(m_pModel, [&] { return QueryNames(GetEngineDatabase()); });
      bQueriesRead = true;
    }
    if (std::find(queries.begin(), queries.end(), name) != queries.end()) return;
    auto [it, bNew] = tableIndex.emplace(name, tables.size());
    if (bNew) tables.push_back({&recordDef, {}});
    WalkTable& table = tables[it->second];
    for (const std::shared_ptr<const SFieldDef>& pField : recordDef.m_fields) {
      if (!HoldsEncryptedValue(*pField)) continue;
      const std::string column = Upper(pField->m_name);
      if (std::none_of(table.columns.begin(), table.columns.end(),
                       [&](const WalkColumn& c) { return Upper(c.pField->m_name) == column; }))
        table.columns.push_back({pField.get(), &recordDef});
    }
  });
  for (const WalkTable& table : tables) {
    if (!ReencryptTableDirectly(*table.pRecordDef, table.columns))
      ReencryptTable(*table.pRecordDef, table.columns);
  }
}

void DaoDatabase::ReencryptTable(const SRecordDef& recordDef,
                                 const std::vector<WalkColumn>& columns) {
  const bool bRead10 = (m_ulDriverVersion >> 16) == kCipherFormat10;
  const bool bWrite10 = (m_ulTargetDriverVersion >> 16) == kCipherFormat10;
  // Buffers reused for every value; the plain bytes are wiped after each.
  std::vector<BYTE> plain;
  std::vector<char> text;
  std::string stored;  // a copy of the stored text (the engine's view is short-lived)
  struct WipeOnExit {
    std::vector<BYTE>& bytes;
    ~WipeOnExit() { Wipe(bytes.data(), bytes.size()); }
  } wipePlain{plain};
  _variant_t vNull;
  vNull.vt = VT_NULL;

  const std::string sql = "SELECT * FROM " + recordDef.m_name;
  CallEngine(m_pModel, [&] {
    dao::RecordsetPtr pRecordset = GetEngineDatabase().OpenRecordset(_bstr_t(sql.c_str()));
    if (!pRecordset) _com_issue_error(E_POINTER);
    RecordsetCloser closer(pRecordset);
    dao::Recordset& rs = *pRecordset;
    while (rs.GetEOF() == VARIANT_FALSE) {
      // All values of a record are rewritten in one update.
      bool bEditing = false;
      for (const WalkColumn& column : columns) {
        const SFieldDef& field = *column.pField;
        const SRecordDef& owner = *column.pRecordDef;
        const bool bString = field.Type() == FieldType::STRING;
        // The stored value: an ASCII text (every value this cipher wrote)
        // is taken as its bytes; anything else as the engine's VARIANT.
        std::string_view view;
        _variant_t vStored;
        bool bText = rs.GetCollectText(field.m_vName, view, vStored);
        const bool bAscii = bText && IsAsciiText(view);
        if (bAscii) {
          stored.assign(view);
        } else if (bText) {
          vStored = rs.GetCollect(field.m_vName);
        } else {
          bText = vStored.vt == VT_BSTR;
        }
        // No value (NULL): only the empty text that format 1.0 stores as NULL
        // is rewritten, when the target format stores it as a value.
        if (!bText && !(bRead10 && bString && !bWrite10)) continue;
        const _variant_t vId = owner.m_idFields.empty()
                                   ? _variant_t()
                                   : rs.GetCollect(owner.m_idFields.front()->m_vName);
        std::size_t n = 0;
        if (bText) {
          // The plain bytes exactly as stored, whatever the field's type and
          // however many there are: nothing is converted, so every value,
          // valid for its type or not, reads the same afterwards.
          const std::size_t capacity = bAscii ? stored.size() : SysStringLen(vStored.bstrVal);
          if (plain.size() < capacity) {
            Wipe(plain.data(), plain.size());
            plain.assign(capacity, 0);
          }
          const LONG lLength =
              bAscii ? m_cipher.DecryptText(owner.m_name, field.m_name, vId, stored, plain.data(),
                                            static_cast<ULONG>(capacity), m_ulDriverVersion)
                     : m_cipher.Decrypt(owner.m_name, field.m_name, vId, vStored, plain.data(),
                                        static_cast<ULONG>(capacity), m_ulDriverVersion);
          n = lLength > 0 ? static_cast<std::size_t>(lLength) : 0;
        }
        if (!bEditing) {
          rs.Edit();
          bEditing = true;
        }
        if (n == 0 && bString && bWrite10) {
          rs.PutCollect(field.m_vName, vNull);  // format 1.0's empty text
        } else {
          text.resize(std::max(text.size(), EncryptedBufferSize(n)));
          m_cipher.Encrypt(owner.m_name, field.m_name, vId, text.data(), plain.data(),
                           static_cast<ULONG>(n), m_ulTargetDriverVersion);
          rs.PutCollectText(field.m_vName, std::string_view(text.data()));
        }
        Wipe(plain.data(), n);
      }
      if (bEditing) rs.Update(dao::dbUpdateRegular, VARIANT_FALSE);
      // A move that fails raises: the walk ends with its error instead of
      // visiting the same record again.
      rs.MoveNext();
    }
    pRecordset->Close();
    pRecordset.reset();
  });
}

void DaoDatabase::ReencryptAllAtomically(const std::function<void()>& beforeCommit) {
  BeginReencryption(beforeCommit);
  try {
    CommitReencryption();
  } catch (...) {
    RollbackReencryption();
    throw;
  }
}

void DaoDatabase::BeginReencryption(const std::function<void()>& beforeCommit) {
  RollbackReencryption();  // never two walks in one transaction
  if (!IsOpen()) {
    // Raises (the database is not open) as soon as a record definition of
    // this database has an encrypted field; otherwise there is nothing to do.
    ReencryptAll();
    if (beforeCommit) beforeCommit();
    return;
  }
  m_keyCheck.bValid = false;
  BeginTrans();
  m_bReencryptionOpen = true;
  try {
    // The values are read with the read key state: it must be the one in
    // force (a client whose key is stale would rewrite values it cannot
    // read). A damaged record of it is replaced below.
    CheckKeyInForce(m_cipher.GetReadKeyState(), true);
    ReencryptAll();
    if (beforeCommit) beforeCommit();
    WriteKeyCheck(m_cipher.GetWriteKeyState());
  } catch (...) {
    RollbackReencryption();
    throw;
  }
}

void DaoDatabase::CommitReencryption() {
  if (!m_bReencryptionOpen) return;
  CommitTrans();
  m_bReencryptionOpen = false;
  // This connection's own commit does not move the data version: the value
  // just written stays known until another connection commits.
  m_keyCheck.bValid = false;
  try {
    const std::int64_t version = DataVersion();
    m_keyCheck.dataVersion = version;
    m_keyCheck.keyState = m_cipher.GetWriteKeyState();
    m_keyCheck.bValid = true;
  } catch (...) {
    // Committed all the same: the next write reads the check value again.
  }
}

void DaoDatabase::RollbackReencryption() noexcept {
  if (!m_bReencryptionOpen) return;
  m_bReencryptionOpen = false;
  m_keyCheck.bValid = false;
  try {
    Rollback();
  } catch (...) {
    // The walk's own error is the one to report; the rollback's failure
    // has been traced by the translation.
  }
}

std::int64_t DaoDatabase::DataVersion() {
  try {
    dao::Connection& connection = GetEngineDatabase().Core()->Conn();
    dao::CachedStmt statement =
        connection.Prepare("PRAGMA data_version", "Reading the data version of", m_path);
    if (!statement.Step()) throw vem_error("no data version of database " + m_path, E_FAIL);
    return sqlite3_column_int64(statement.get(), 0);
  } catch (const dao::EngineError& error) {
    throw vem_error(
        "cannot tell whether another client changed database " + m_path + ": " + error.what(),
        error.hresult());
  }
}

void DaoDatabase::CheckKeyInForce(const Md5Context& keyState, bool bRepairable) {
  const std::int64_t version = DataVersion();
  if (m_keyCheck.bValid && m_keyCheck.dataVersion == version &&
      std::memcmp(&m_keyCheck.keyState, &keyState, sizeof keyState) == 0)
    return;
  m_keyCheck.bValid = false;
  std::string stored;
  const bool bPresent =
      CallEngine(m_pModel, [&] { return ReadKeyCheckText(GetEngineDatabase(), stored); });
  if (bPresent) {
    BYTE bytes[kKeyCheckBytes + 3];
    std::size_t decoded = 0;
    const bool bDecoded = stored.size() <= Base64EncodedLength(kKeyCheckBytes) &&
                          Base64Decode(stored, bytes, &decoded) && decoded == kKeyCheckBytes;
    if (!bDecoded) {
      if (bRepairable) return;  // rewritten by the caller's transaction
      throw vem_error("the key check value \"" + stored + "\" of database " + m_path +
                          " is damaged: encrypted values cannot be written until the secret is "
                          "changed again",
                      kVemErrKeyCheckDamaged);
    }
    BYTE expected[kKeyCheckBytes];
    KeyCheckOf(keyState, bytes, expected);
    const bool bEqual = std::memcmp(expected, bytes, kKeyCheckBytes) == 0;
    Wipe(expected, sizeof expected);
    if (!bEqual)
      throw vem_error("the secret of database " + m_path +
                          " was changed by another client: this client's key is no longer in "
                          "force, so nothing was written; set the current secret and write again",
                      kVemErrStaleKey);
  }
  m_keyCheck.dataVersion = version;
  m_keyCheck.keyState = keyState;
  m_keyCheck.bValid = true;
}

void DaoDatabase::WriteKeyCheck(const Md5Context& keyState) {
  BYTE salt[kCipherSaltSize];
  platform::RandomBytes(salt, sizeof salt);
  BYTE bytes[kKeyCheckBytes];
  KeyCheckOf(keyState, salt, bytes);
  const std::string text = Base64Encode(bytes, sizeof bytes);
  CallEngine(m_pModel, [&] {
    WriteProperty(GetEngineDatabase(), kKeyCheckProperty, kDbText, _variant_t(text.c_str()));
  });
}

void DaoDatabase::UpdateUnderKeyInForce(const std::function<void()>& update) {
  dao::Database& db = GetEngineDatabase();
  if (InWriteTransaction()) {
    // The client's transaction holds the write lock: no other connection
    // can commit between the check and the update, and a refused write
    // stores nothing since the update does not run.
    CheckKeyInForce(m_cipher.GetWriteKeyState(), false);
    CallEngine(m_pModel, update);
    return;
  }
  CallEngine(m_pModel, [&] { db.BeginTrans(); });
  try {
    CheckKeyInForce(m_cipher.GetWriteKeyState(), false);
    CallEngine(m_pModel, [&] {
      update();
      db.CommitTrans(0);
    });
  } catch (...) {
    try {
      CallEngine(m_pModel, [&] { db.Rollback(); });
    } catch (...) {
      // The write's own error is the one to report.
    }
    throw;
  }
}

bool DaoDatabase::InWriteTransaction() {
  try {
    // The engine begins every transaction with BEGIN IMMEDIATE: outside
    // autocommit, this connection holds the write lock.
    return sqlite3_get_autocommit(GetEngineDatabase().Core()->Conn().db()) == 0;
  } catch (const dao::EngineError& error) {
    throw vem_error(
        "cannot tell whether database " + m_path + " is in a transaction: " + error.what(),
        error.hresult());
  }
}
