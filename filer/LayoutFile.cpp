#include "filer/LayoutFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

namespace zkfiler {
namespace {

// A syntax error of one line; the text never holds a value of a login line.
class LineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Splits a line into words at blanks. A double quote starts a run of
// characters (blanks included) that ends at the next double quote; the
// quotes themselves are dropped. "#" outside quotes starts a comment.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false, quoted = false;
  for (char ch : line) {
    if (quoted) {
      if (ch == '"') {
        quoted = false;
      } else {
        word += ch;
      }
    } else if (ch == '"') {
      quoted = true;
      in_word = true;
    } else if (ch == '#') {
      break;
    } else if (ch == ' ' || ch == '\t' || ch == '\r') {
      if (in_word) words.push_back(word);
      word.clear();
      in_word = false;
    } else {
      word += ch;
      in_word = true;
    }
  }
  if (quoted) throw LineError("unterminated quote");
  if (in_word) words.push_back(word);
  return words;
}

struct Record {
  std::string keyword;
  std::string name;                         // first word after the keyword
  std::map<std::string, std::string> keys;  // key=value words after it
};

Record ToRecord(const std::vector<std::string>& words,
                const std::set<std::string>& allowed) {
  Record r;
  r.keyword = words[0];
  if (words.size() < 2 || words[1].find('=') != std::string::npos) {
    throw LineError("'" + r.keyword + "' needs a name or id first");
  }
  r.name = words[1];
  for (size_t i = 2; i < words.size(); ++i) {
    const size_t eq = words[i].find('=');
    if (eq == std::string::npos || eq == 0) {
      throw LineError("expected key=value after '" + r.keyword + "'");
    }
    const std::string key = words[i].substr(0, eq);
    if (allowed.count(key) == 0) {
      throw LineError("unknown key '" + key + "' for '" + r.keyword + "'");
    }
    if (!r.keys.emplace(key, words[i].substr(eq + 1)).second) {
      throw LineError("key '" + key + "' given twice");
    }
  }
  return r;
}

std::string Get(const Record& r, const std::string& key) {
  auto it = r.keys.find(key);
  return it == r.keys.end() ? std::string() : it->second;
}

std::string Required(const Record& r, const std::string& key) {
  auto it = r.keys.find(key);
  if (it == r.keys.end()) {
    throw LineError("'" + r.keyword + "' needs " + key + "=");
  }
  return it->second;
}

int64_t Number(const std::string& text, const std::string& what) {
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || value < 0) {
    throw LineError(what + " must be a number >= 0");
  }
  return value;
}

std::vector<std::string> List(const std::string& text) {
  std::vector<std::string> items;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    if (!item.empty()) items.push_back(item);
  }
  return items;
}

eCelerraStgType StorageType(const std::string& text) {
  if (text == "uxfs") return CELERRA_STG_UXFS;
  if (text == "mgfs") return CELERRA_STG_MGFS;
  if (text == "rawfs") return CELERRA_STG_RAWFS;
  return static_cast<eCelerraStgType>(Number(text, "type"));
}

// mover=ID or vdm=ID, exactly one of them.
void Placement(const Record& r, std::string* id, bool* on_vdm) {
  const bool has_mover = r.keys.count("mover") != 0;
  const bool has_vdm = r.keys.count("vdm") != 0;
  if (has_mover == has_vdm) {
    throw LineError("'" + r.keyword + "' needs exactly one of mover= or vdm=");
  }
  *on_vdm = has_vdm;
  *id = has_vdm ? Get(r, "vdm") : Get(r, "mover");
}

void ParseLine(const std::vector<std::string>& words,
               std::vector<ServerLayout>* servers) {
  const std::string& keyword = words[0];
  if (keyword == "server") {
    if (words.size() != 2) throw LineError("'server' takes one control host");
    servers->emplace_back();
    servers->back().control_host = words[1];
    return;
  }
  if (servers->empty()) {
    throw LineError("'" + keyword + "' before the first 'server' line");
  }
  ServerLayout& s = servers->back();
  if (keyword == "login") {
    if (words.size() != 3) throw LineError("'login' takes a user and a password");
    s.user = words[1];
    s.password = words[2];
  } else if (keyword == "limits") {
    for (size_t i = 1; i < words.size(); ++i) {
      const size_t eq = words[i].find('=');
      const std::string key = words[i].substr(0, eq);
      const std::string value =
          eq == std::string::npos ? "" : words[i].substr(eq + 1);
      int* target = key == "ro_per_fs"         ? &s.limits.ro_per_fs
                    : key == "rw_per_baseline" ? &s.limits.rw_per_baseline
                    : key == "rw_per_fs"       ? &s.limits.rw_per_fs
                    : key == "max_name_len"    ? &s.limits.max_name_len
                                               : nullptr;
      if (target == nullptr || eq == std::string::npos) {
        throw LineError("unknown limit '" + key + "'");
      }
      const int64_t n = Number(value, key);
      if (n > 1000000) throw LineError(key + " is too large");
      *target = static_cast<int>(n);
    }
  } else if (keyword == "mover") {
    Record r = ToRecord(words, {"name", "interfaces"});
    s.movers.push_back({r.name, Get(r, "name"), List(Get(r, "interfaces"))});
  } else if (keyword == "vdm") {
    Record r = ToRecord(words, {"name", "mover"});
    s.vdms.push_back({r.name, Get(r, "name"), Get(r, "mover")});
  } else if (keyword == "cifs-server") {
    Record r = ToRecord(words, {"mover", "vdm", "interfaces"});
    CifsServerDef c;
    c.name = r.name;
    Placement(r, &c.mover_id, &c.on_vdm);
    c.interfaces = Get(r, "interfaces");
    s.cifs_servers.push_back(c);
  } else if (keyword == "fs") {
    Record r = ToRecord(words, {"name", "mover", "vdm", "mount", "type",
                                "extra", "savvol", "generation"});
    FileSystemDef f;
    f.id = r.name;
    f.name = Required(r, "name");
    Placement(r, &f.mover_id, &f.on_vdm);
    f.mount_path = Required(r, "mount");
    if (r.keys.count("type")) f.storage_type = StorageType(Get(r, "type"));
    f.storage_extra = Get(r, "extra");
    f.save_volume = Get(r, "savvol");
    if (r.keys.count("generation")) {
      f.generation = Number(Get(r, "generation"), "generation");
    }
    s.file_systems.push_back(f);
  } else if (keyword == "share") {
    Record r = ToRecord(words, {"fs", "mover", "vdm", "path"});
    CifsShareDef c;
    c.name = r.name;
    c.fs_id = Required(r, "fs");
    Placement(r, &c.mover_id, &c.on_vdm);
    c.path = Get(r, "path");
    s.cifs_shares.push_back(c);
  } else if (keyword == "export") {
    Record r = ToRecord(words, {"mover", "access", "rw", "root"});
    s.exports.push_back({r.name, Required(r, "mover"), List(Get(r, "access")),
                         List(Get(r, "rw")), List(Get(r, "root"))});
  } else if (keyword == "checkpoint") {
    Record r = ToRecord(words, {"fs", "id", "baseline"});
    s.checkpoints.push_back(
        {r.name, Required(r, "fs"), Get(r, "id"), Get(r, "baseline")});
  } else {
    throw LineError("unknown keyword '" + keyword + "'");
  }
}

}  // namespace

Status ParseLayout(const std::string& text, const std::string& origin,
                   std::vector<ServerLayout>* out) {
  out->clear();
  std::vector<ServerLayout> servers;
  std::stringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    try {
      if (line.find('\0') != std::string::npos) {
        throw LineError("holds a NUL byte");
      }
      const std::vector<std::string> words = Words(line);
      if (!words.empty()) ParseLine(words, &servers);
    } catch (const LineError& e) {
      return Status::Error(origin + ":" + std::to_string(number) + ": " +
                           e.what());
    }
  }
  for (const ServerLayout& s : servers) {
    if (s.user.empty()) {
      return Status::Error(origin + ": server '" + s.control_host +
                           "' has no 'login' line");
    }
  }
  *out = std::move(servers);
  return Status::OK();
}

Status ReadLayoutFile(const std::string& path,
                      std::vector<ServerLayout>* out) {
  out->clear();
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return Status::Error("cannot read layout file '" + path +
                         "': " + std::strerror(errno));
  }
  std::stringstream text;
  text << file.rdbuf();
  if (file.bad()) {
    return Status::Error("cannot read layout file '" + path + "'");
  }
  return ParseLayout(text.str(), path, out);
}

}  // namespace zkfiler
