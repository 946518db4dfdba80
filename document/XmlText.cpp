#include "XmlText.h"

#include <charconv>
#include <limits>
#include <new>

#include "FileSystem.h"
#include "TextForms.h"

namespace qvt::xml {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

// The leading run of text and CDATA children of `element`, as UTF-8.
bool RawText(const tinyxml2::XMLElement& element, std::string* out) {
  const tinyxml2::XMLNode* node = element.FirstChild();
  if (node == nullptr || node->ToText() == nullptr) return false;
  out->clear();
  for (; node != nullptr && node->ToText() != nullptr; node = node->NextSibling()) {
    out->append(node->Value());
  }
  return true;
}

bool ChildRawText(const tinyxml2::XMLElement& parent, const char* name, std::string* out) {
  const tinyxml2::XMLElement* child = parent.FirstChildElement(name);
  return child != nullptr && RawText(*child, out);
}

template <typename Number>
bool ParseNumber(std::string_view text, Number* out) {
  Number value{};
  const char* end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, value, 10);
  if (text.empty() || error != std::errc() || at != end) return false;
  *out = value;
  return true;
}

}  // namespace

void AppendLine(std::string* out, std::string_view line) {
  out->append(line);
  out->append(kLineEnd);
}

void AppendTextElement(std::string* out, std::string_view name, const std::wstring& value) {
  std::wstring clean;
  clean.reserve(value.size());
  for (wchar_t unit : value) {
    if (unit != L'\0') clean.push_back(unit);
  }
  const std::string utf8 = WideToUtf8(clean);

  out->append("<").append(name).append("><![CDATA[");
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const char c = utf8[i];
    if (c == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n') continue;  // the LF writes CR LF
    if (c == '\n') {
      out->append(kLineEnd);
    } else if (c == '>' && i >= 2 && utf8[i - 1] == ']' && utf8[i - 2] == ']') {
      // "]]" closes this section and ">" opens the next one.
      out->append("]]><![CDATA[>");
    } else {
      out->push_back(c);
    }
  }
  out->append("]]></").append(name).append(">");
  out->append(kLineEnd);
}

void AppendPlainElement(std::string* out, std::string_view name, std::string_view value) {
  out->append("<").append(name).append(">").append(value);
  out->append("</").append(name).append(">");
  out->append(kLineEnd);
}

void AppendSigned(std::string* out, std::string_view name, std::int32_t value) {
  AppendPlainElement(out, name, std::to_string(value));
}

void AppendUnsigned(std::string* out, std::string_view name, std::uint32_t value) {
  AppendPlainElement(out, name, std::to_string(value));
}

void AppendBool(std::string* out, std::string_view name, bool value) {
  AppendPlainElement(out, name, value ? "1" : "0");
}

bool ReadFileBytes(const std::wstring& path, std::string* bytes) {
  FileHandle file = OpenFile(path, true);
  if (!file.IsOpen()) return false;
  std::uint64_t size = 0;
  bool ok = GetFileSize(file, &size) && size <= kMaxFileBytes;
  if (ok) {
    bytes->assign(static_cast<std::size_t>(size), '\0');
    ok = size == 0 || ReadAt(file, 0, static_cast<std::uint32_t>(size), bytes->data());
  }
  CloseFile(&file);
  return ok;
}

bool ParseBytes(const std::string& bytes, tinyxml2::XMLDocument* document) {
  return document->Parse(bytes.data(), bytes.size()) == tinyxml2::XML_SUCCESS;
}

bool ElementText(const tinyxml2::XMLElement& element, std::wstring* out) {
  std::string raw;
  return RawText(element, &raw) && Utf8ToWide(raw, out);
}

bool ChildText(const tinyxml2::XMLElement& parent, const char* name, std::wstring* out) {
  const tinyxml2::XMLElement* child = parent.FirstChildElement(name);
  return child != nullptr && ElementText(*child, out);
}

bool ChildSigned(const tinyxml2::XMLElement& parent, const char* name, std::int32_t* out) {
  std::string raw;
  return ChildRawText(parent, name, &raw) && ParseSigned(raw, out);
}

bool ChildUnsigned(const tinyxml2::XMLElement& parent, const char* name, std::uint32_t* out) {
  std::string raw;
  return ChildRawText(parent, name, &raw) && ParseUnsigned(raw, out);
}

bool ChildBool(const tinyxml2::XMLElement& parent, const char* name, bool* out) {
  std::string raw;
  if (!ChildRawText(parent, name, &raw) || (raw != "0" && raw != "1")) return false;
  *out = raw == "1";
  return true;
}

bool ParseSigned(std::string_view text, std::int32_t* out) { return ParseNumber(text, out); }

bool ParseUnsigned(std::string_view text, std::uint32_t* out) { return ParseNumber(text, out); }

bool Utf8ToWide(std::string_view text, std::wstring* out) {
  if (text.size() > std::numeric_limits<std::uint32_t>::max() / 2) return false;
  try {
    // The engine's converter refuses malformed UTF-8 by raising bad_alloc.
    *out = FromEngineText(MakeView(text.data(), static_cast<std::uint32_t>(text.size())), ENC_UTF8);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace qvt::xml
