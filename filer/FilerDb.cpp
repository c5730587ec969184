#include "filer/FilerDb.h"

#include <sqlite3.h>
#include <sys/stat.h>

namespace zkfiler {
namespace {

// Long enough for any command of another process to finish.
constexpr int kBusyTimeoutMs = 30000;

std::string Describe(const std::string& store, const std::string& what,
                     sqlite3* db) {
  std::string text = "file server state '" + store + "': " + what;
  if (db != nullptr) text += ": " + std::string(sqlite3_errmsg(db));
  return text;
}

}  // namespace

Statement::Statement(sqlite3* db, const std::string& sql,
                     const std::string& store)
    : db_(db), store_(store) {
  if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()),
                         &stmt_, nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    Fail("cannot read");
  }
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement::Statement(Statement&& other) noexcept
    : db_(other.db_),
      stmt_(other.stmt_),
      store_(std::move(other.store_)),
      next_bind_(other.next_bind_) {
  other.stmt_ = nullptr;
}

void Statement::Fail(const char* what) const {
  throw StoreError(Describe(store_, what, db_));
}

Statement& Statement::Bind(const std::string& value) {
  if (sqlite3_bind_text(stmt_, next_bind_++, value.data(),
                        static_cast<int>(value.size()),
                        SQLITE_TRANSIENT) != SQLITE_OK) {
    Fail("cannot bind");
  }
  return *this;
}

Statement& Statement::Bind(int64_t value) {
  if (sqlite3_bind_int64(stmt_, next_bind_++, value) != SQLITE_OK) {
    Fail("cannot bind");
  }
  return *this;
}

bool Statement::Step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  Fail("cannot access");
}

void Statement::Run() {
  while (Step()) {
  }
}

std::string Statement::Text(int column) const {
  const unsigned char* text = sqlite3_column_text(stmt_, column);
  const int size = sqlite3_column_bytes(stmt_, column);
  if (text == nullptr) return std::string();
  return std::string(reinterpret_cast<const char*>(text),
                     static_cast<size_t>(size));
}

int64_t Statement::Int(int column) const {
  return sqlite3_column_int64(stmt_, column);
}

FilerDb::FilerDb(sqlite3* db, std::string name, bool is_file)
    : db_(db), name_(std::move(name)), is_file_(is_file) {}

FilerDb::~FilerDb() { sqlite3_close_v2(db_); }

std::unique_ptr<FilerDb> FilerDb::OpenMemory() {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(":memory:", &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE |
                          SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK) {
    const std::string text = Describe(":memory:", "cannot open", db);
    sqlite3_close_v2(db);
    throw StoreError(text);
  }
  return std::unique_ptr<FilerDb>(new FilerDb(db, ":memory:", false));
}

std::unique_ptr<FilerDb> FilerDb::OpenFile(const std::string& path,
                                           bool create) {
  if (path.empty()) {
    throw StoreError("file server state: no state file named");
  }
  struct stat st;
  if (!create && ::stat(path.c_str(), &st) != 0) {
    throw StoreError(Describe(path, "no such state file", nullptr));
  }
  sqlite3* db = nullptr;
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
  if (create) flags |= SQLITE_OPEN_CREATE;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    const std::string text = Describe(path, "cannot open", db);
    sqlite3_close_v2(db);
    throw StoreError(text);
  }
  std::unique_ptr<FilerDb> result(new FilerDb(db, path, true));
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  // WAL lets readers of other processes go on while one writes.
  result->Exec("PRAGMA journal_mode=WAL");
  result->Exec("PRAGMA synchronous=NORMAL");
  return result;
}

void FilerDb::Exec(const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) !=
      SQLITE_OK) {
    std::string text = "file server state '" + name_ + "': cannot access";
    if (message != nullptr) text += ": " + std::string(message);
    sqlite3_free(message);
    throw StoreError(text);
  }
}

void FilerDb::Begin() { Exec("BEGIN IMMEDIATE"); }
void FilerDb::Commit() { Exec("COMMIT"); }

void FilerDb::Rollback() noexcept {
  if (sqlite3_get_autocommit(db_) == 0) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
}

}  // namespace zkfiler
