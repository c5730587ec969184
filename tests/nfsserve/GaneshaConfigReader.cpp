// SPDX-License-Identifier: Apache-2.0
#include "tests/nfsserve/GaneshaConfigReader.h"

#include <arpa/inet.h>
#include <strings.h>

#include <cctype>

namespace zknfs {
namespace {

struct Token {
  enum Kind { kWord, kString, kPunct, kEnd } kind = kEnd;
  std::string text;
  int line = 0;
};

class Lexer {
 public:
  explicit Lexer(const std::string& text) : text_(text) {}

  // The next token; false with `*error` set on text serve never writes.
  bool Next(Token* t, std::string* error) {
    for (;;) {
      while (pos_ < text_.size() &&
             std::isspace(static_cast<unsigned char>(text_[pos_]))) {
        if (text_[pos_] == '\n') ++line_;
        ++pos_;
      }
      if (pos_ < text_.size() && text_[pos_] == '#') {
        while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
        continue;
      }
      break;
    }
    t->line = line_;
    t->text.clear();
    if (pos_ >= text_.size()) {
      t->kind = Token::kEnd;
      return true;
    }
    const char ch = text_[pos_];
    if (ch == '{' || ch == '}' || ch == '=' || ch == ';' || ch == ',') {
      t->kind = Token::kPunct;
      t->text = ch;
      ++pos_;
      return true;
    }
    if (ch == '"') {
      t->kind = Token::kString;
      for (++pos_; pos_ < text_.size() && text_[pos_] != '"'; ++pos_) {
        if (text_[pos_] == '\n') break;
        if (text_[pos_] == '\\' && pos_ + 1 < text_.size()) ++pos_;
        t->text += text_[pos_];
      }
      if (pos_ >= text_.size() || text_[pos_] != '"') {
        *error = Where() + "a string runs past the end of its line";
        return false;
      }
      ++pos_;
      return true;
    }
    if (ch == '%') {
      *error = Where() + "a '%' directive";
      return false;
    }
    t->kind = Token::kWord;
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' &&
          c != '.' && c != '-') {
        break;
      }
      t->text += c;
      ++pos_;
    }
    if (t->text.empty()) {
      *error = Where() + "unexpected character '" + std::string(1, ch) + "'";
      return false;
    }
    // A bare word is a name, a number or an IPv4 address.
    bool name = std::isalpha(static_cast<unsigned char>(t->text[0])) != 0;
    for (char c : t->text) name = name && (std::isalnum(c) || c == '_');
    bool number = true;
    for (char c : t->text) number = number && std::isdigit(c);
    in_addr a;
    const bool address = inet_pton(AF_INET, t->text.c_str(), &a) == 1;
    if (!name && !number && !address) {
      *error = Where() + "bare value '" + t->text + "'";
      return false;
    }
    return true;
  }

  std::string Where() const { return "line " + std::to_string(line_) + ": "; }

 private:
  const std::string& text_;
  size_t pos_ = 0;
  int line_ = 1;
};

// Reads the inside of a block up to its '}' (or the end at top level).
bool ReadBody(Lexer* lex, bool top, std::vector<ConfigBlock>* blocks,
              ConfigBlock* into, std::string* error) {
  Token t;
  for (;;) {
    if (!lex->Next(&t, error)) return false;
    if (t.kind == Token::kEnd) {
      if (top) return true;
      *error = lex->Where() + "a block is not closed";
      return false;
    }
    if (t.kind == Token::kPunct && t.text == "}") {
      if (!top) return true;
      *error = lex->Where() + "'}' closes no block";
      return false;
    }
    if (t.kind != Token::kWord) {
      *error = lex->Where() + "expected a name, not '" + t.text + "'";
      return false;
    }
    const std::string name = t.text;
    const int line = t.line;
    if (!lex->Next(&t, error)) return false;
    if (t.kind == Token::kPunct && t.text == "{") {
      ConfigBlock b;
      b.name = name;
      b.line = line;
      if (!ReadBody(lex, false, nullptr, &b, error)) return false;
      (top ? *blocks : into->blocks).push_back(std::move(b));
      continue;
    }
    if (top || t.kind != Token::kPunct || t.text != "=") {
      *error = lex->Where() + "expected '{' or '=' after '" + name + "'";
      return false;
    }
    std::vector<std::string> values;
    for (;;) {
      if (!lex->Next(&t, error)) return false;
      if (t.kind != Token::kWord && t.kind != Token::kString) {
        *error = lex->Where() + "expected a value of '" + name + "'";
        return false;
      }
      values.push_back(t.text);
      if (!lex->Next(&t, error)) return false;
      if (t.kind == Token::kPunct && t.text == ";") break;
      if (t.kind != Token::kPunct || t.text != ",") {
        *error = lex->Where() + "expected ',' or ';' after a value of '" +
                 name + "'";
        return false;
      }
    }
    into->params.emplace_back(name, values);
  }
}

}  // namespace

std::vector<std::string> ConfigBlock::Values(const std::string& key,
                                             int* count) const {
  std::vector<std::string> out;
  int n = 0;
  for (const auto& p : params) {
    if (::strcasecmp(p.first.c_str(), key.c_str()) == 0) {
      out = p.second;
      ++n;
    }
  }
  if (count != nullptr) *count = n;
  return out;
}

std::vector<ConfigBlock> ReadGaneshaConfig(const std::string& text,
                                           std::string* error) {
  error->clear();
  std::vector<ConfigBlock> blocks;
  Lexer lex(text);
  if (!ReadBody(&lex, true, &blocks, nullptr, error)) blocks.clear();
  return blocks;
}

std::vector<ReadExport> ReadExports(const std::vector<ConfigBlock>& blocks,
                                    std::string* error) {
  error->clear();
  std::vector<ReadExport> out;
  const auto one = [&](const ConfigBlock& b, const char* key) {
    int count = 0;
    const std::vector<std::string> v = b.Values(key, &count);
    if (count > 1 || v.size() > 1) {
      *error = "line " + std::to_string(b.line) + ": " + key + " given twice";
    }
    return v.empty() ? std::string() : v[0];
  };
  for (const ConfigBlock& b : blocks) {
    if (b.name != "EXPORT") continue;
    ReadExport e;
    e.id = one(b, "Export_Id");
    e.path = one(b, "Path");
    e.pseudo = one(b, "Pseudo");
    e.access_type = one(b, "Access_Type");
    e.squash = one(b, "Squash");
    e.privileged_port = one(b, "PrivilegedPort") == "true";
    e.attr_expiration = one(b, "Attr_Expiration_Time");
    for (const ConfigBlock& sub : b.blocks) {
      if (sub.name == "CLIENT") {
        const std::string rule =
            one(sub, "Access_Type") + "|" + one(sub, "Squash");
        for (const std::string& c : sub.Values("Clients")) {
          e.clients[rule].insert(c);
        }
      } else if (sub.name != "FSAL") {
        *error = "line " + std::to_string(sub.line) + ": block " + sub.name +
                 " inside EXPORT";
      }
    }
    out.push_back(e);
  }
  return out;
}

}  // namespace zknfs
