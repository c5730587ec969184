// SPDX-License-Identifier: Apache-2.0
// A thin SQLite connection for the simulated file server's store: opening an
// in-memory database or a state file shared by processes, cached statements
// with sequential binds, and transactions.
//
// State files are plain paths: ":memory:" and "file:" URIs are refused, so a
// name always means the file of that name. Opening an existing file never
// writes to it; a new state file appears whole or not at all (it is built
// under a temporary name beside it and linked into place).
//
// A FilerDb owns its connection and the statements it caches; Statements
// borrow both and must not outlive the FilerDb. Not thread-safe: the owner
// (FilerRuntime) serialises all use. Every failure throws StoreError, whose
// text names the store.
#ifndef ZK_FILER_FILERDB_H_
#define ZK_FILER_FILERDB_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <unordered_map>

struct sqlite3;
struct sqlite3_stmt;

namespace zkfiler {

class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class FilerDb;

// A prepared statement, taken from its FilerDb's cache; going out of scope
// resets it and hands it back.
class Statement {
 public:
  ~Statement();
  Statement(Statement&& other) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement& operator=(Statement&&) = delete;

  // Binds the next parameter.
  Statement& Bind(const std::string& value);
  Statement& Bind(int64_t value);
  // Advances; true while a row is available.
  bool Step();
  // Steps to the end.
  void Run();
  std::string Text(int column) const;
  int64_t Int(int column) const;

 private:
  friend class FilerDb;
  Statement(FilerDb* db, sqlite3_stmt* stmt, bool* in_use);
  [[noreturn]] void Fail(const char* what) const;
  FilerDb* db_;  // borrowed
  sqlite3_stmt* stmt_;
  bool* in_use_;  // the cache's flag; null for a statement of its own
  int next_bind_ = 1;
};

class FilerDb {
 public:
  static std::unique_ptr<FilerDb> OpenMemory();
  // Opens an existing state file. Never writes to it; a file that is not
  // writable opens for reading only (writes then fail).
  static std::unique_ptr<FilerDb> OpenFile(const std::string& path);
  // Creates a new state file at `path`: runs `init` in one transaction on a
  // fresh database under a temporary name beside it, then links it into
  // place. Returns false (and leaves nothing behind) when `path` already
  // exists by then; throws when `init` or the file system fails, again
  // leaving nothing behind.
  static bool CreateFile(const std::string& path,
                         const std::function<void(FilerDb&)>& init);
  // Refuses names that SQLite would not read as a plain path.
  static void CheckPath(const std::string& path);
  ~FilerDb();
  FilerDb(const FilerDb&) = delete;
  FilerDb& operator=(const FilerDb&) = delete;

  // ":memory:" or the path of the state file.
  const std::string& name() const { return name_; }
  bool is_file() const { return is_file_; }

  void Exec(const std::string& sql);
  Statement Prepare(const std::string& sql);

  // BEGIN IMMEDIATE: the write lock is taken up front, so two processes
  // never both hold a read lock and then dead-lock on the upgrade.
  void Begin();
  // BEGIN (deferred) for transactions that only read; works on a state
  // file opened for reading only.
  void BeginRead();
  void Commit();
  void Rollback() noexcept;

 private:
  friend class Statement;
  FilerDb(sqlite3* db, std::string name, bool is_file);
  [[noreturn]] void Fail(const std::string& what) const;

  sqlite3* db_;
  std::string name_;
  bool is_file_;
  struct Cached {
    sqlite3_stmt* stmt = nullptr;
    bool in_use = false;
  };
  std::unordered_map<std::string, Cached> cache_;
};

// Runs fn() inside Begin/Commit (BeginRead/Commit when `read_only`); rolls
// back and rethrows on any exception.
template <typename Fn>
auto InTransaction(FilerDb& db, Fn&& fn, bool read_only = false)
    -> decltype(fn()) {
  if (read_only) {
    db.BeginRead();
  } else {
    db.Begin();
  }
  try {
    if constexpr (std::is_void_v<decltype(fn())>) {
      fn();
      db.Commit();
    } else {
      auto result = fn();
      db.Commit();
      return result;
    }
  } catch (...) {
    db.Rollback();
    throw;
  }
}

}  // namespace zkfiler

#endif  // ZK_FILER_FILERDB_H_
