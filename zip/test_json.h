// A small JSON reader for test data (the corpus manifest): objects, arrays, strings with
// escapes (\uXXXX to UTF-8), numbers, true, false, null. Raises std::runtime_error on bad input.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace zipkit::testing {

struct Json {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  bool boolean = false;
  double number = 0;
  std::string string;
  std::vector<Json> array;
  std::map<std::string, Json> object;

  bool Has(const std::string& key) const {
    return kind == kObject && object.count(key) && object.at(key).kind != kNull;
  }
  const Json& operator[](const std::string& key) const {
    static const Json null;
    auto it = object.find(key);
    return it == object.end() ? null : it->second;
  }
  const std::string& Str() const { return string; }
  int64_t Int() const { return static_cast<int64_t>(number); }

  static Json Parse(const std::string& text) {
    size_t at = 0;
    Json value = ParseValue(text, at);
    SkipSpace(text, at);
    if (at != text.size()) throw std::runtime_error("trailing JSON");
    return value;
  }

 private:
  static void SkipSpace(const std::string& t, size_t& at) {
    while (at < t.size() && (t[at] == ' ' || t[at] == '\n' || t[at] == '\r' || t[at] == '\t')) ++at;
  }
  static void Expect(const std::string& t, size_t& at, char c) {
    SkipSpace(t, at);
    if (at >= t.size() || t[at] != c) throw std::runtime_error(std::string("JSON: expected ") + c);
    ++at;
  }
  static void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  static uint32_t Hex4(const std::string& t, size_t& at) {
    if (at + 4 > t.size()) throw std::runtime_error("JSON: short \\u");
    const uint32_t v = static_cast<uint32_t>(std::stoul(t.substr(at, 4), nullptr, 16));
    at += 4;
    return v;
  }
  static std::string ParseString(const std::string& t, size_t& at) {
    Expect(t, at, '"');
    std::string out;
    while (at < t.size() && t[at] != '"') {
      char c = t[at++];
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at >= t.size()) break;
      c = t[at++];
      switch (c) {
        case 'n':
          out += '\n';
          break;
        case 't':
          out += '\t';
          break;
        case 'r':
          out += '\r';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'u': {
          uint32_t cp = Hex4(t, at);
          if (cp >= 0xD800 && cp < 0xDC00 && t.compare(at, 2, "\\u") == 0) {
            at += 2;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (Hex4(t, at) - 0xDC00);
          }
          AppendUtf8(out, cp);
          break;
        }
        default:
          out += c;
      }
    }
    Expect(t, at, '"');
    return out;
  }
  static Json ParseValue(const std::string& t, size_t& at) {
    SkipSpace(t, at);
    if (at >= t.size()) throw std::runtime_error("JSON: unexpected end");
    Json v;
    const char c = t[at];
    if (c == '{') {
      v.kind = kObject;
      ++at;
      SkipSpace(t, at);
      if (t[at] == '}') return ++at, v;
      for (;;) {
        std::string key = ParseString(t, at);
        Expect(t, at, ':');
        v.object[key] = ParseValue(t, at);
        SkipSpace(t, at);
        if (t[at] == ',') {
          ++at;
          continue;
        }
        Expect(t, at, '}');
        return v;
      }
    }
    if (c == '[') {
      v.kind = kArray;
      ++at;
      SkipSpace(t, at);
      if (t[at] == ']') return ++at, v;
      for (;;) {
        v.array.push_back(ParseValue(t, at));
        SkipSpace(t, at);
        if (t[at] == ',') {
          ++at;
          continue;
        }
        Expect(t, at, ']');
        return v;
      }
    }
    if (c == '"') {
      v.kind = kString;
      v.string = ParseString(t, at);
      return v;
    }
    if (t.compare(at, 4, "true") == 0) return at += 4, v.kind = kBool, v.boolean = true, v;
    if (t.compare(at, 5, "false") == 0) return at += 5, v.kind = kBool, v;
    if (t.compare(at, 4, "null") == 0) return at += 4, v;
    size_t used = 0;
    v.kind = kNumber;
    v.number = std::stod(t.substr(at, 32), &used);
    at += used;
    return v;
  }
};

}  // namespace zipkit::testing
