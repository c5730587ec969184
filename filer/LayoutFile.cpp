// SPDX-License-Identifier: Apache-2.0
#include "filer/LayoutFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

#include "filer/FilerText.h"

namespace zkfiler {
namespace {

constexpr int64_t kMaxType = 2147483647;
constexpr int64_t kMaxLimit = 1000000;
constexpr int64_t kMaxGeneration = 999999999999999;

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
      throw LineError("expected key=value after '" + r.keyword + "', not " +
                      Shown(words[i]));
    }
    const std::string key = words[i].substr(0, eq);
    if (allowed.count(key) == 0) {
      throw LineError("unknown key " + Shown(key) + " for '" + r.keyword + "'");
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

// A decimal number within [min, max]; anything else names the range.
int64_t Number(const std::string& text, const std::string& what, int64_t min,
               int64_t max) {
  bool digits = !text.empty() && text.size() <= 19;
  for (char ch : text) digits = digits && ch >= '0' && ch <= '9';
  errno = 0;
  char* end = nullptr;
  const long long value = digits ? std::strtoll(text.c_str(), &end, 10) : -1;
  if (!digits || errno != 0 || value < min || value > max) {
    throw LineError(what + " must be a number from " + std::to_string(min) +
                    " to " + std::to_string(max) + ", not " + Shown(text));
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
  return static_cast<eCelerraStgType>(
      Number(text, "type (uxfs, mgfs, rawfs or a number)", 0, kMaxType));
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

void ParseLine(const std::vector<std::string>& words, int line,
               std::vector<ServerLayout>* servers,
               std::vector<LayoutSource>* sources) {
  const std::string& keyword = words[0];
  if (keyword == "server") {
    if (words.size() != 2) throw LineError("'server' takes one control host");
    for (size_t i = 0; i < servers->size(); ++i) {
      if ((*servers)[i].control_host == words[1]) {
        throw LineError("second 'server' block for control host " +
                        Shown(words[1]) + " (the first is at line " +
                        std::to_string((*sources)[i].server) + ")");
      }
    }
    servers->emplace_back();
    servers->back().control_host = words[1];
    sources->emplace_back();
    sources->back().server = line;
    return;
  }
  if (servers->empty()) {
    throw LineError("'" + keyword + "' before the first 'server' line");
  }
  ServerLayout& s = servers->back();
  LayoutSource& src = sources->back();
  if (keyword == "login") {
    if (words.size() != 3)
      throw LineError("'login' takes a user and a password");
    if (src.login != 0) {
      throw LineError("second 'login' line for server " +
                      Shown(s.control_host) + " (the first is at line " +
                      std::to_string(src.login) + ")");
    }
    if (words[1].empty()) throw LineError("empty user in 'login'");
    s.user = words[1];
    s.password = words[2];
    src.login = line;
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
        throw LineError("unknown limit " + Shown(key));
      }
      *target = static_cast<int>(
          Number(value, key, key == "max_name_len" ? 1 : 0, kMaxLimit));
    }
  } else if (keyword == "mover") {
    Record r = ToRecord(words, {"name", "interfaces"});
    const std::string name =
        r.keys.count("name") != 0 ? Get(r, "name") : "server_" + r.name;
    s.movers.push_back({r.name, name, List(Get(r, "interfaces"))});
    src.movers.push_back(line);
  } else if (keyword == "vdm") {
    Record r = ToRecord(words, {"name", "mover"});
    const std::string name =
        r.keys.count("name") != 0 ? Get(r, "name") : "vdm_" + r.name;
    s.vdms.push_back({r.name, name, Get(r, "mover")});
    src.vdms.push_back(line);
  } else if (keyword == "cifs-server") {
    Record r = ToRecord(words, {"mover", "vdm", "interfaces"});
    CifsServerDef c;
    c.name = r.name;
    Placement(r, &c.mover_id, &c.on_vdm);
    c.interfaces = Get(r, "interfaces");
    s.cifs_servers.push_back(c);
    src.cifs_servers.push_back(line);
  } else if (keyword == "fs") {
    Record r = ToRecord(words, {"name", "mover", "vdm", "mount", "type",
                                "extra", "savvol", "generation", "data"});
    FileSystemDef f;
    f.id = r.name;
    f.name = Required(r, "name");
    Placement(r, &f.mover_id, &f.on_vdm);
    f.mount_path = Required(r, "mount");
    if (r.keys.count("type")) f.storage_type = StorageType(Get(r, "type"));
    f.storage_extra = Get(r, "extra");
    f.save_volume = Get(r, "savvol");
    if (r.keys.count("generation")) {
      f.generation =
          Number(Get(r, "generation"), "generation", 0, kMaxGeneration);
    }
    if (r.keys.count("data")) {
      f.data_seed = Get(r, "data");
      if (f.data_seed.empty()) throw LineError("data= names no directory");
    }
    s.file_systems.push_back(f);
    src.file_systems.push_back(line);
  } else if (keyword == "share") {
    Record r = ToRecord(words, {"fs", "mover", "vdm", "path"});
    CifsShareDef c;
    c.name = r.name;
    c.fs_id = Required(r, "fs");
    Placement(r, &c.mover_id, &c.on_vdm);
    c.path = Get(r, "path");
    s.cifs_shares.push_back(c);
    src.cifs_shares.push_back(line);
  } else if (keyword == "export") {
    Record r = ToRecord(words, {"mover", "access", "rw", "root"});
    s.exports.push_back({r.name, Required(r, "mover"), List(Get(r, "access")),
                         List(Get(r, "rw")), List(Get(r, "root"))});
    src.exports.push_back(line);
  } else if (keyword == "checkpoint") {
    Record r = ToRecord(words, {"fs", "id", "baseline"});
    s.checkpoints.push_back(
        {r.name, Required(r, "fs"), Get(r, "id"), Get(r, "baseline")});
    src.checkpoints.push_back(line);
  } else {
    throw LineError("unknown keyword " + Shown(keyword));
  }
}

}  // namespace

Status ParseLayout(const std::string& text, const std::string& origin,
                   std::vector<ServerLayout>* out) {
  std::vector<LayoutSource> sources;
  return ParseLayout(text, origin, out, &sources);
}

Status ParseLayout(const std::string& text, const std::string& origin,
                   std::vector<ServerLayout>* out,
                   std::vector<LayoutSource>* sources) {
  out->clear();
  sources->clear();
  std::vector<ServerLayout> servers;
  std::vector<LayoutSource> lines;
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
      if (!words.empty()) ParseLine(words, number, &servers, &lines);
    } catch (const LineError& e) {
      return Status::Error(origin + ":" + std::to_string(number) + ": " +
                           e.what());
    }
  }
  for (size_t i = 0; i < servers.size(); ++i) {
    if (lines[i].login == 0) {
      return Status::Error(origin + ":" + std::to_string(lines[i].server) +
                           ": server " + Shown(servers[i].control_host) +
                           " has no 'login' line");
    }
    lines[i].origin = origin;
  }
  *out = std::move(servers);
  *sources = std::move(lines);
  return Status::OK();
}

Status ReadLayoutFile(const std::string& path, std::vector<ServerLayout>* out) {
  std::vector<LayoutSource> sources;
  return ReadLayoutFile(path, out, &sources);
}

Status ReadLayoutFile(const std::string& path, std::vector<ServerLayout>* out,
                      std::vector<LayoutSource>* sources) {
  out->clear();
  sources->clear();
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    return Status::Error("cannot read layout file '" + path +
                         "': " + std::strerror(errno));
  }
  if (S_ISDIR(st.st_mode)) {
    return Status::Error("cannot read layout file '" + path +
                         "': it is a directory");
  }
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
  Status s = ParseLayout(text.str(), path, out, sources);
  // A relative data directory is found from the layout file's folder.
  const size_t slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  for (ServerLayout& l : *out) {
    for (FileSystemDef& f : l.file_systems) {
      if (!f.data_seed.empty() && f.data_seed[0] != '/') {
        f.data_seed = folder + f.data_seed;
      }
    }
  }
  if (s.ok() && out->empty()) {
    return Status::Error("layout file '" + path +
                         "' describes no file server (no 'server' line)");
  }
  return s;
}

}  // namespace zkfiler
