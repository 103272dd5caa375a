// The dynaset's Find: the criteria are evaluated on the recordset's members
// (whatever its WHERE says of them now), and the matching rows are kept
// while nothing changed, so that a FindFirst/FindNext walk costs one query.
#include <algorithm>

#include "Engine/CatalogText.h"
#include "Engine/RecordsetCore.h"

namespace dao {

namespace {

// The hash of a member's keys: the key itself for a single key (AddNew adds
// rows of single-key recordsets by their rowid alone).
std::uint64_t KeyHash(const std::int64_t* keys, std::size_t count) {
  if (count == 1) return static_cast<std::uint64_t>(keys[0]);
  std::uint64_t h = 1469598103934665603ull;
  for (std::size_t k = 0; k < count; ++k)
    h = (h ^ static_cast<std::uint64_t>(keys[k])) * 1099511628211ull;
  return h;
}

std::int64_t KeyAt(sqlite3_stmt* s, int i) {
  return sqlite3_column_type(s, i) == SQLITE_NULL ? kNullKey : sqlite3_column_int64(s, i);
}

}  // namespace

std::size_t RecordsetCore::RowOfKeys(const std::int64_t* keys) {
  if (m_rowOfKey.empty()) {
    m_rowOfKey.reserve(RowCount());
    for (std::size_t r = 0; r < RowCount(); ++r)
      m_rowOfKey.emplace(KeyHash(KeysOf(r), m_keyCount), r);
  }
  auto [it, end] = m_rowOfKey.equal_range(KeyHash(keys, m_keyCount));
  for (; it != end; ++it)
    if (std::equal(keys, keys + m_keyCount, KeysOf(it->second))) return it->second;
  return SIZE_MAX;
}

const std::vector<std::size_t>& RecordsetCore::Matches(const std::string& criteria) {
  Connection& c = m_db->Conn();
  const std::uint64_t epoch = c.ChangeEpoch();
  if (m_matches.epoch == epoch && m_matches.rowCount == RowCount() &&
      m_matches.criteria == criteria)
    return m_matches.rows;
  m_matches = MatchSet{};
  std::string crit = TranslateJetCriteria(criteria);
  std::string ctx = "Find '" + criteria + "' in recordset '" + m_sql + "'";
  const std::size_t count = RowCount();
  std::vector<std::size_t> rows;
  try {
    if (!m_keyed) {
      CachedStmt s = c.Prepare("SELECT (" + crit + ") FROM (" + m_select->sql + ")", ctx);
      BindParameters(s.get(), m_parameters);
      for (std::size_t r = 0; s.Step(ctx) && r < count; ++r)
        if (sqlite3_column_int(s.get(), 0) != 0) rows.push_back(r);
    } else {
      // The members that the recordset's query still yields, in one pass.
      // They come in keyset order unless something changed; a member out of
      // that order is found by its keys.
      std::vector<std::uint8_t> state(count, 0);  // 1 seen, 2 seen and matching
      std::string cols;
      for (std::size_t k = 0; k < m_keyCount; ++k)
        cols += QuoteId("__vem_k" + std::to_string(k)) + ", ";
      CachedStmt s =
          c.Prepare("SELECT " + cols + "(" + crit + ") FROM (" + m_select->sql + ")", ctx);
      BindParameters(s.get(), m_parameters);
      std::vector<std::int64_t> keys(m_keyCount);
      std::size_t next = 0;
      const int critColumn = static_cast<int>(m_keyCount);
      while (s.Step(ctx)) {
        for (std::size_t k = 0; k < m_keyCount; ++k) keys[k] = KeyAt(s.get(), static_cast<int>(k));
        std::size_t row = next < count && std::equal(keys.begin(), keys.end(), KeysOf(next))
                              ? next
                              : RowOfKeys(keys.data());
        if (row == SIZE_MAX) continue;  // added elsewhere: not a member
        next = row + 1;
        state[row] = sqlite3_column_int(s.get(), critColumn) != 0 ? 2 : 1;
      }
      s.Release();
      // The members it no longer yields (changed so that they fail its WHERE,
      // added here though they never met it) are looked at one by one.
      std::string one;
      for (std::size_t r = 0; r < count; ++r) {
        if (state[r] != 0 || m_live.IsDead(r)) continue;
        if (one.empty()) one = "SELECT (" + crit + ") FROM (" + m_select->rereadSql + ")";
        CachedStmt single = c.Prepare(one, ctx);
        BindReread(single.get(), r);
        if (single.Step(ctx) && sqlite3_column_int(single.get(), 0) != 0) state[r] = 2;
      }
      for (std::size_t r = 0; r < count; ++r)
        if (state[r] == 2) rows.push_back(r);
    }
  } catch (const EngineError& e) {
    if (e.number() == kErrQuerySyntax)
      Fail(kErrFindSyntax, "Syntax error in expression '" + criteria + "' (" + e.what() + ")");
    throw;
  }
  m_matches.criteria = criteria;
  m_matches.epoch = epoch;
  m_matches.rowCount = count;
  m_matches.rows = std::move(rows);
  return m_matches.rows;
}

void RecordsetCore::Find(FindKind kind, const std::string& criteria) {
  CheckOpen();
  DropEdit();
  const std::vector<std::size_t>& rows = Matches(criteria);
  const std::int64_t count = static_cast<std::int64_t>(RowCount());
  // The first row a forward search may land on, or the last for a backward one.
  std::int64_t from = 0;
  bool forward = true;
  switch (kind) {
    case FindKind::First:
      break;
    case FindKind::Last:
      from = count - 1;
      forward = false;
      break;
    case FindKind::Next:
      from = m_bof ? 0 : m_eof ? count : m_pos + 1;
      break;
    case FindKind::Previous:
      from = m_eof ? count - 1 : m_bof ? -1 : m_pos - 1;
      forward = false;
      break;
  }
  std::int64_t found = -1;
  if (forward) {
    auto it = std::lower_bound(rows.begin(), rows.end(),
                               static_cast<std::size_t>(std::max<std::int64_t>(from, 0)));
    for (; it != rows.end() && found < 0; ++it)
      if (!m_live.IsDead(*it)) found = static_cast<std::int64_t>(*it);
  } else if (from >= 0) {
    auto it = std::upper_bound(rows.begin(), rows.end(), static_cast<std::size_t>(from));
    while (it != rows.begin() && found < 0) {
      --it;
      if (!m_live.IsDead(*it)) found = static_cast<std::int64_t>(*it);
    }
  }
  if (found < 0) {
    m_noMatch = true;  // the position stays where it was
    return;
  }
  Visit(static_cast<std::size_t>(found));
  if (kind == FindKind::Last) m_populated = RowCount();
  m_noMatch = false;
}

}  // namespace dao
