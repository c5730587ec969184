// SPDX-License-Identifier: Apache-2.0
#include "filer/FilerDb.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace zkfiler {
namespace {

// Long enough for any command of another process to finish, a load of a
// large layout included.
constexpr int kBusyTimeoutMs = 60000;

constexpr char kSqliteMagic[] = "SQLite format 3";  // 16 bytes with the NUL

std::string Describe(const std::string& store, const std::string& what,
                     sqlite3* db) {
  std::string text = "file server state '" + store + "': " + what;
  if (db != nullptr) text += ": " + std::string(sqlite3_errmsg(db));
  return text;
}

std::string Errno(int error) { return std::strerror(error); }

// Removes a half-built database and its rollback journal.
void RemoveFiles(const std::string& path) {
  ::unlink(path.c_str());
  ::unlink((path + "-journal").c_str());
}

}  // namespace

Statement::Statement(FilerDb* db, sqlite3_stmt* stmt, bool* in_use)
    : db_(db), stmt_(stmt), in_use_(in_use) {}

Statement::~Statement() {
  if (stmt_ == nullptr) return;
  if (in_use_ != nullptr) {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    *in_use_ = false;
  } else {
    sqlite3_finalize(stmt_);
  }
}

Statement::Statement(Statement&& other) noexcept
    : db_(other.db_),
      stmt_(other.stmt_),
      in_use_(other.in_use_),
      next_bind_(other.next_bind_) {
  other.stmt_ = nullptr;
  other.in_use_ = nullptr;
}

void Statement::Fail(const char* what) const {
  throw StoreError(Describe(db_->name(), what, db_->db_));
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

FilerDb::~FilerDb() {
  for (auto& entry : cache_) sqlite3_finalize(entry.second.stmt);
  sqlite3_close_v2(db_);
}

void FilerDb::Fail(const std::string& what) const {
  throw StoreError(Describe(name_, what, db_));
}

std::unique_ptr<FilerDb> FilerDb::OpenMemory() {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(
          ":memory:", &db,
          SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
          nullptr) != SQLITE_OK) {
    const std::string text = Describe(":memory:", "cannot open", db);
    sqlite3_close_v2(db);
    throw StoreError(text);
  }
  return std::unique_ptr<FilerDb>(new FilerDb(db, ":memory:", false));
}

void FilerDb::CheckPath(const std::string& path) {
  if (path.empty()) {
    throw StoreError("file server state: no state file named");
  }
  if (path == ":memory:" || path.compare(0, 5, "file:") == 0) {
    throw StoreError("file server state '" + path +
                     "': not a file path (in-memory databases and URIs are "
                     "not state files; name a file, e.g. ./" +
                     path + ")");
  }
  if (path.find('\0') != std::string::npos) {
    throw StoreError("file server state: the path holds a NUL byte");
  }
}

std::unique_ptr<FilerDb> FilerDb::OpenFile(const std::string& path) {
  CheckPath(path);
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    const int error = errno;
    throw StoreError(Describe(
        path,
        error == ENOENT ? "no such state file" : "cannot open: " + Errno(error),
        nullptr));
  }
  if (!S_ISREG(st.st_mode)) {
    throw StoreError(Describe(path, "not a regular file", nullptr));
  }
  // Look at the header before SQLite does: an empty or foreign file must
  // not be taken for an empty database.
  char header[sizeof(kSqliteMagic)] = {};
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    throw StoreError(Describe(path, "cannot open: " + Errno(errno), nullptr));
  }
  const ssize_t got = ::read(fd, header, sizeof(header));
  ::close(fd);
  if (got != static_cast<ssize_t>(sizeof(header)) ||
      std::memcmp(header, kSqliteMagic, sizeof(header)) != 0) {
    throw StoreError(Describe(path,
                              st.st_size == 0
                                  ? "empty file, not a zkfiler state file"
                                  : "not a zkfiler state file",
                              nullptr));
  }
  const bool writable = ::access(path.c_str(), W_OK) == 0;
  sqlite3* db = nullptr;
  const int flags = (writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) |
                    SQLITE_OPEN_NOMUTEX;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    const std::string text = Describe(path, "cannot open", db);
    sqlite3_close_v2(db);
    throw StoreError(text);
  }
  std::unique_ptr<FilerDb> result(new FilerDb(db, path, true));
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  // Connection settings only; nothing is written to the file. Commits
  // stay atomic for a killed process (rollback journal) without waiting
  // for the disk: a simulator's state need not outlive a machine crash.
  result->Exec("PRAGMA synchronous=OFF");
  return result;
}

bool FilerDb::CreateFile(const std::string& path,
                         const std::function<void(FilerDb&)>& init) {
  CheckPath(path);
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) return false;
  static std::atomic<unsigned> counter{0};
  const std::string temp = path + ".zkfiler-new-" + std::to_string(::getpid()) +
                           "-" + std::to_string(counter++);
  RemoveFiles(temp);  // a leftover of a killed process with our pid
  try {
    {
      sqlite3* raw = nullptr;
      const int rc = sqlite3_open_v2(
          temp.c_str(), &raw,
          SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
          nullptr);
      std::unique_ptr<FilerDb> db(new FilerDb(raw, path, true));
      if (rc != SQLITE_OK) db->Fail("cannot create");
      // The file will hold the file servers' logins: private before the
      // first byte is written (the journal takes the file's mode).
      if (::chmod(temp.c_str(), 0600) != 0) {
        throw StoreError(
            Describe(path, "cannot create: " + Errno(errno), nullptr));
      }
      sqlite3_busy_timeout(raw, kBusyTimeoutMs);
      db->Exec("PRAGMA journal_mode=DELETE");
      db->Exec("PRAGMA synchronous=OFF");
      InTransaction(*db, [&] { init(*db); });
    }
    if (::link(temp.c_str(), path.c_str()) != 0) {
      const int error = errno;
      if (error != EEXIST) {
        throw StoreError(
            Describe(path, "cannot create: " + Errno(error), nullptr));
      }
      RemoveFiles(temp);
      return false;
    }
    RemoveFiles(temp);
    return true;
  } catch (...) {
    RemoveFiles(temp);
    throw;
  }
}

void FilerDb::Exec(const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = "file server state '" + name_ + "': cannot access";
    if (message != nullptr) text += ": " + std::string(message);
    sqlite3_free(message);
    throw StoreError(text);
  }
}

Statement FilerDb::Prepare(const std::string& sql) {
  Cached& slot = cache_[sql];
  if (slot.stmt != nullptr && !slot.in_use) {
    slot.in_use = true;
    return Statement(this, slot.stmt, &slot.in_use);
  }
  sqlite3_stmt* stmt = nullptr;
  const unsigned flags = slot.stmt == nullptr ? SQLITE_PREPARE_PERSISTENT : 0;
  if (sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()), flags,
                         &stmt, nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt);
    Fail("cannot read");
  }
  if (slot.stmt != nullptr) {
    // The cached one is busy (a query inside a loop over the same query).
    return Statement(this, stmt, nullptr);
  }
  slot.stmt = stmt;
  slot.in_use = true;
  return Statement(this, stmt, &slot.in_use);
}

void FilerDb::Begin() { Exec("BEGIN IMMEDIATE"); }
void FilerDb::BeginRead() { Exec("BEGIN"); }
void FilerDb::Commit() { Exec("COMMIT"); }

void FilerDb::Rollback() noexcept {
  if (sqlite3_get_autocommit(db_) == 0) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
}

}  // namespace zkfiler
