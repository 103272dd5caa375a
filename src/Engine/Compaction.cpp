// Compaction of a database file: into a new file, or in place.
//
// In place, the copy is written beside the file and renamed over it while
// the file is held exclusively, so that no other connection can go on
// writing to the old file after the copy was taken. The name of the copy is
// kept in "<file>-compacting" from before the copy is created until it has
// replaced the file; a crash in between leaves that marker, and the next
// in-place compaction (which holds the file exclusively, so no compaction
// of it can be running) removes the unfinished copy it names.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "Engine/DatabaseCore.h"

namespace dao {

namespace fs = std::filesystem;

namespace {

std::string MarkerPath(const std::string& path) {
  return path + "-compacting";
}

// Writes the marker naming `temp` and makes it durable; false on failure.
bool WriteMarker(const std::string& marker, const std::string& temp) {
  {
    std::ofstream out(marker, std::ios::trunc);
    if (!(out << temp << '\n').flush()) return false;
  }
  return SyncFile(marker, false) && SyncFile(fs::path(marker).parent_path().string(), true);
}

// Puts a fresh copy into WAL mode and gives it the password of `connect`.
void PrepareCopy(const std::string& path, const std::string& connect, const std::string& ctx) {
  Connection out(path, SQLITE_OPEN_READWRITE);
  out.Exec("PRAGMA journal_mode=WAL", ctx);
  const ConnectOptions options = ParseConnect(connect);
  if (options.hasPassword) {
    out.Exec("BEGIN IMMEDIATE", ctx);
    StorePassword(out, options.password);
    out.Exec("COMMIT", ctx);
  }
}

// Removes the copy that an interrupted in-place compaction of `path` left
// behind, and its marker. Only a file in the database's own directory that
// is not the database is removed, whatever the marker says.
void RemoveUnfinishedCopy(const std::string& path) {
  const std::string marker = MarkerPath(path);
  std::error_code ec;
  if (!fs::exists(marker, ec)) return;
  std::string named;
  {
    std::ifstream in(marker);
    std::getline(in, named);
  }
  if (!named.empty()) {
    const fs::path copy = fs::path(named).lexically_normal();
    if (copy.is_absolute() && copy.parent_path() == fs::path(path).parent_path() &&
        copy != fs::path(path) && copy.filename() != fs::path(marker).filename() &&
        !fs::is_directory(copy, ec))
      RemoveDatabaseFiles(copy.string());
  }
  fs::remove(marker, ec);
}

}  // namespace

void DatabaseCore::Compact(const std::string& src, const std::string& dst,
                           const std::string& dstConnect, const std::string& srcConnect) {
  std::string absSrc = AbsolutePath(src);
  std::string absDst = AbsolutePath(dst);
  std::error_code ec;
  if (!fs::exists(absSrc, ec)) Fail(kErrFileNotFound, "Could not find file '" + absSrc + "'.");
  if (fs::exists(absDst, ec)) Fail(kErrDatabaseExists, "Database '" + absDst + "' already exists.");
  if (!fs::is_directory(fs::path(absDst).parent_path(), ec))
    Fail(kErrBadPath, "'" + fs::path(absDst).parent_path().string() +
                          "' is not a valid path: cannot create '" + absDst + "'.");
  // An exclusive open refuses a source that anyone else has open.
  auto source = Open(absSrc, true, false, srcConnect);
  try {
    {
      CatalogWrite catalog(source->Conn());  // the copy writes every table, the catalog's too
      source->Conn().Exec("VACUUM INTO " + QuoteText(absDst),
                          "Compacting '" + absSrc + "' into '" + absDst + "'");
    }
    source->Close();
    PrepareCopy(absDst, dstConnect, "Preparing the compacted database '" + absDst + "'");
  } catch (...) {
    source->Close();
    RemoveDatabaseFiles(absDst);
    throw;
  }
}

void DatabaseCore::CompactInPlace(const std::string& path, const std::string& temp,
                                  const std::string& connect) {
  const std::string abs = AbsolutePath(path);
  const std::string absTemp = AbsolutePath(temp);
  std::error_code ec;
  if (!fs::exists(abs, ec)) Fail(kErrFileNotFound, "Could not find file '" + abs + "'.");
  if (fs::exists(absTemp, ec))
    Fail(kErrDatabaseExists, "Database '" + absTemp + "' already exists.");
  if (fs::path(absTemp).parent_path() != fs::path(abs).parent_path())
    Fail(kErrBadPath, "'" + absTemp + "' is not in the directory of '" + abs + "'.");
  // An exclusive open refuses a file that anyone else has open, and keeps
  // everyone out until the copy has replaced it.
  auto source = Open(abs, true, false, connect);
  Connection& c = source->Conn();
  const std::string ctx = "Compacting '" + abs + "' in place";
  const std::string marker = MarkerPath(abs);
  RemoveUnfinishedCopy(abs);
  if (!WriteMarker(marker, absTemp)) {
    fs::remove(marker, ec);
    source->Close();
    Fail(kErrDiskIo, ctx + ": '" + marker + "' could not be written.");
  }
  // Out of WAL: the source's close must not touch the "-wal" of its name,
  // which belongs to the copy once it has replaced the file. (Should the
  // process die before the rename, the next writable open goes back to WAL.)
  try {
    c.Exec("PRAGMA journal_mode=DELETE", ctx);
    {
      CatalogWrite catalog(c);
      c.Exec("VACUUM INTO " + QuoteText(absTemp), ctx);
    }
    PrepareCopy(absTemp, connect, ctx);
    if (!SyncFile(absTemp, false))
      Fail(kErrDiskIo, ctx + ": the copy '" + absTemp + "' could not be synced.");
    if (std::rename(absTemp.c_str(), abs.c_str()) != 0)
      Fail(kErrDiskIo, ctx + ": the copy '" + absTemp + "' could not replace the file.");
  } catch (...) {
    try {
      c.Exec("PRAGMA journal_mode=WAL", ctx);
    } catch (...) {
      // The file stays in rollback-journal mode: still whole and readable.
    }
    source->Close();
    RemoveDatabaseFiles(absTemp);
    fs::remove(marker, ec);
    throw;
  }
  source->Close();
  SyncFile(fs::path(abs).parent_path().string(), true);  // the rename is done either way
  fs::remove(marker, ec);
}

}  // namespace dao
