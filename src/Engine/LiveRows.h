// The rows of a keyset that are still alive. Delete marks a row dead instead
// of erasing it from the keyset's vectors (an erase from the middle costs the
// rest of the keyset, so deleting row after row would be quadratic); a
// Fenwick tree over the live flags answers "how many live rows come before
// row i" and "which row is the k-th live one" in O(log n) for positions and
// counts. Until the first row dies there is neither flag nor tree, and every
// answer is the row number itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dao {

class LiveRows {
 public:
  // `n` rows, all alive.
  void Reset(std::size_t n) {
    m_size = m_live = n;
    m_dead.clear();
    m_tree.clear();
  }
  // One more live row at the end.
  void Append() {
    ++m_size;
    ++m_live;
    if (m_dead.empty()) return;
    m_dead.push_back(0);
    // Node i covers rows (i - lowbit(i), i]; all of them but the new one are
    // already counted by the tree.
    const std::size_t i = m_size;
    m_tree.push_back(static_cast<std::uint32_t>(1 + Prefix(i - 1) - Prefix(i - (i & (~i + 1)))));
  }
  // Marks a live row dead.
  void Kill(std::size_t row) {
    if (m_dead.empty()) Build();
    m_dead[row] = 1;
    --m_live;
    for (std::size_t i = row + 1; i <= m_size; i += i & (~i + 1)) --m_tree[i];
  }

  std::size_t Size() const { return m_size; }
  std::size_t Live() const { return m_live; }
  bool IsDead(std::size_t row) const { return !m_dead.empty() && m_dead[row] != 0; }
  // Live rows among rows [0, row).
  std::size_t LiveBefore(std::size_t row) const { return m_dead.empty() ? row : Prefix(row); }
  // The row of the k-th live row (0-based); requires k < Live().
  std::size_t Nth(std::size_t k) const {
    if (m_dead.empty()) return k;
    std::size_t pos = 0, rest = k + 1, step = 1;
    while (step * 2 <= m_size) step *= 2;
    for (; step > 0; step /= 2)
      if (pos + step <= m_size && m_tree[pos + step] < rest) {
        pos += step;
        rest -= m_tree[pos];
      }
    return pos;
  }
  // The first live row at or after `row`; Size() when there is none.
  std::size_t NextLive(std::size_t row) const {
    if (row >= m_size || !IsDead(row)) return row < m_size ? row : m_size;
    const std::size_t before = Prefix(row);
    return before < m_live ? Nth(before) : m_size;
  }
  // The last live row at or before `row`; -1 when there is none.
  std::int64_t PreviousLive(std::int64_t row) const {
    if (row < 0) return -1;
    if (static_cast<std::size_t>(row) >= m_size) row = static_cast<std::int64_t>(m_size) - 1;
    if (!IsDead(static_cast<std::size_t>(row))) return row;
    const std::size_t before = Prefix(static_cast<std::size_t>(row));
    return before == 0 ? -1 : static_cast<std::int64_t>(Nth(before - 1));
  }

 private:
  // Live rows among rows [0, n) (the tree's 1-based prefix sum up to n).
  std::size_t Prefix(std::size_t n) const {
    std::size_t sum = 0;
    for (; n > 0; n -= n & (~n + 1)) sum += m_tree[n];
    return sum;
  }
  void Build() {
    m_dead.assign(m_size, 0);
    m_tree.assign(m_size + 1, 1);
    m_tree[0] = 0;
    for (std::size_t i = 1; i <= m_size; ++i) {
      const std::size_t parent = i + (i & (~i + 1));
      if (parent <= m_size) m_tree[parent] += m_tree[i];
    }
  }

  std::size_t m_size = 0;             // rows, dead ones included
  std::size_t m_live = 0;             // rows alive
  std::vector<std::uint8_t> m_dead;   // per row: 1 when deleted; empty while none is
  std::vector<std::uint32_t> m_tree;  // Fenwick tree over the live flags, 1-based
};

}  // namespace dao
