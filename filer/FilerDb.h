// A thin SQLite connection for the simulated file server's store: opening an
// in-memory database or a state file shared by processes, statements with
// sequential binds, and immediate transactions.
//
// A FilerDb owns its connection; Statements borrow it and must not outlive
// it. Not thread-safe: the owner (FilerRuntime) serialises all use. Every
// failure throws StoreError, whose text names the store.
#ifndef ZK_FILER_FILERDB_H_
#define ZK_FILER_FILERDB_H_

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>

struct sqlite3;
struct sqlite3_stmt;

namespace zkfiler {

class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql, const std::string& store);
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
  [[noreturn]] void Fail(const char* what) const;
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
  std::string store_;
  int next_bind_ = 1;
};

class FilerDb {
 public:
  static std::unique_ptr<FilerDb> OpenMemory();
  // Opens a state file; creates it when `create` is set, otherwise a missing
  // file is an error.
  static std::unique_ptr<FilerDb> OpenFile(const std::string& path,
                                           bool create);
  ~FilerDb();
  FilerDb(const FilerDb&) = delete;
  FilerDb& operator=(const FilerDb&) = delete;

  // ":memory:" or the path of the state file.
  const std::string& name() const { return name_; }
  bool is_file() const { return is_file_; }

  void Exec(const std::string& sql);
  Statement Prepare(const std::string& sql) {
    return Statement(db_, sql, name_);
  }

  // BEGIN IMMEDIATE: the write lock is taken up front, so two processes
  // never both hold a read lock and then dead-lock on the upgrade.
  void Begin();
  void Commit();
  void Rollback() noexcept;

 private:
  FilerDb(sqlite3* db, std::string name, bool is_file);
  sqlite3* db_;
  std::string name_;
  bool is_file_;
};

// Runs fn() inside Begin/Commit; rolls back and rethrows on any exception.
template <typename Fn>
auto InTransaction(FilerDb& db, Fn&& fn) -> decltype(fn()) {
  db.Begin();
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
