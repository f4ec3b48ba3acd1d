#include "util/com_object.h"

#include <charconv>
#include <cmath>

#include "util/text_codec.h"

namespace qm {
namespace {

thread_local int t_lastError = kCallOk;

void SetOk(bool* ok, bool value) {
  if (ok != nullptr) *ok = value;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// A whole text that is a finite decimal number ("12", "-3.5", " 1e3 ").
bool ParseNumber(std::string_view text, double* out) {
  text = TrimBlanks(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return false;
  *out = value;
  return true;
}

// The outcome a Dispatch reported, limited to the known codes.
int NormaliseCode(int code) {
  return (code <= kCallOk && code >= kCallOtherFailure) ? code : kCallOtherFailure;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

// ---- Variant ----

Variant::Variant(const ComObject& object) : v_(object.object()) {}

std::string Variant::ToText(bool* ok) const {
  SetOk(ok, true);
  switch (type()) {
    case Type::Empty:
      return {};
    case Type::Bool:
      return std::get<bool>(v_) ? "true" : "false";
    case Type::Int:
      return std::to_string(std::get<std::int64_t>(v_));
    case Type::Real: {
      char buffer[64];
      const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, std::get<double>(v_));
      if (ec == std::errc()) return std::string(buffer, end);
      break;
    }
    case Type::Text:
      return std::get<std::string>(v_);
    case Type::Bytes:
    case Type::Object:
      break;
  }
  SetOk(ok, false);
  return {};
}

double Variant::ToNumber(bool* ok) const {
  SetOk(ok, true);
  switch (type()) {
    case Type::Empty:
      return 0;
    case Type::Bool:
      return std::get<bool>(v_) ? 1 : 0;
    case Type::Int:
      return static_cast<double>(std::get<std::int64_t>(v_));
    case Type::Real:
      return std::get<double>(v_);
    case Type::Text: {
      double value = 0;
      if (ParseNumber(std::get<std::string>(v_), &value)) return value;
      break;
    }
    case Type::Bytes:
    case Type::Object:
      break;
  }
  SetOk(ok, false);
  return 0;
}

bool Variant::ToBool(bool* ok) const {
  SetOk(ok, true);
  switch (type()) {
    case Type::Empty:
      return false;
    case Type::Bool:
      return std::get<bool>(v_);
    case Type::Int:
      return std::get<std::int64_t>(v_) != 0;
    case Type::Real:
      return std::get<double>(v_) != 0;
    case Type::Text: {
      const std::string_view text = TrimBlanks(std::get<std::string>(v_));
      if (EqualsNoCase(text, "true")) return true;
      if (EqualsNoCase(text, "false")) return false;
      double value = 0;
      if (ParseNumber(text, &value)) return value != 0;
      break;
    }
    case Type::Bytes:
    case Type::Object:
      break;
  }
  SetOk(ok, false);
  return false;
}

Bytes Variant::ToBytes(bool* ok) const {
  SetOk(ok, true);
  switch (type()) {
    case Type::Empty:
      return {};
    case Type::Bytes:
      return std::get<Bytes>(v_);
    case Type::Text: {
      const std::string& text = std::get<std::string>(v_);
      return Bytes(text.begin(), text.end());
    }
    default:
      break;
  }
  SetOk(ok, false);
  return {};
}

ComObject Variant::ToObject(bool* ok) const {
  SetOk(ok, true);
  if (type() == Type::Empty) return ComObject();
  if (type() == Type::Object) return ComObject(std::get<std::shared_ptr<Dispatch>>(v_));
  SetOk(ok, false);
  return ComObject();
}

// ---- MemberDispatch ----

void MemberDispatch::Add(const std::string& name, Member member) {
  const std::string folded = AsciiLower(name);
  for (auto& [n, m] : members_) {
    if (n == folded) {
      m = std::move(member);
      return;
    }
  }
  members_.emplace_back(folded, std::move(member));
}

int MemberDispatch::Invoke(const std::string& name, CallKind kind, const std::vector<Variant>& args,
                           Variant* result) {
  const std::string folded = AsciiLower(name);
  for (auto& [n, m] : members_) {
    if (n == folded) return m ? m(kind, args, result) : kCallMemberNotFound;
  }
  return kCallUnknownName;
}

// ---- ComObject ----

Variant ComObject::Invoke(const std::string& name, CallKind kind, const std::vector<Variant>& args) const {
  if (!object_) {
    t_lastError = kCallEmptyObject;
    return {};
  }
  if (name.empty()) {
    t_lastError = kCallUnknownName;
    return {};
  }
  if (kind == CallKind::PropertyPut && args.empty()) {
    t_lastError = kCallMissingArg;
    return {};
  }
  // Keep the object alive through the call, even if the member drops the last
  // other reference to it.
  const std::shared_ptr<Dispatch> object = object_;
  Variant result;
  int code;
  try {
    code = NormaliseCode(object->Invoke(name, kind, args, &result));
  } catch (...) {
    code = kCallException;
  }
  t_lastError = code;
  return code == kCallOk ? result : Variant();
}

namespace {

// A typed result: the call's value converted, or the type-mismatch outcome.
template <class T, class Convert>
T Typed(const Variant& value, Convert convert) {
  if (t_lastError != kCallOk) return T();
  bool ok = true;
  T converted = convert(value, &ok);
  if (!ok) {
    t_lastError = kCallResultMismatch;
    return T();
  }
  return converted;
}

std::string AsText(const Variant& v, bool* ok) { return v.ToText(ok); }
double AsNumber(const Variant& v, bool* ok) { return v.ToNumber(ok); }
bool AsBool(const Variant& v, bool* ok) { return v.ToBool(ok); }
ComObject AsObject(const Variant& v, bool* ok) { return v.ToObject(ok); }

}  // namespace

std::string ComObject::CallMethodText(const std::string& name, const std::vector<Variant>& args) const {
  return Typed<std::string>(Invoke(name, CallKind::Method, args), AsText);
}
double ComObject::CallMethodNumber(const std::string& name, const std::vector<Variant>& args) const {
  return Typed<double>(Invoke(name, CallKind::Method, args), AsNumber);
}
ComObject ComObject::CallMethodObject(const std::string& name, const std::vector<Variant>& args) const {
  return Typed<ComObject>(Invoke(name, CallKind::Method, args), AsObject);
}
Variant ComObject::CallMethodVariant(const std::string& name, const std::vector<Variant>& args) const {
  return Invoke(name, CallKind::Method, args);
}

Variant ComObject::ReadProperty(const std::string& name, const std::vector<Variant>& args) const {
  return Invoke(name, CallKind::PropertyGet, args);
}
std::string ComObject::ReadText(const std::string& name, const std::vector<Variant>& args) const {
  return Typed<std::string>(Invoke(name, CallKind::PropertyGet, args), AsText);
}
bool ComObject::ReadBool(const std::string& name, const std::vector<Variant>& args) const {
  return Typed<bool>(Invoke(name, CallKind::PropertyGet, args), AsBool);
}
ComObject ComObject::ReadObject(const std::string& name, const std::vector<Variant>& args) const {
  return Typed<ComObject>(Invoke(name, CallKind::PropertyGet, args), AsObject);
}
Variant ComObject::ReadVariant(const std::string& name, const std::vector<Variant>& args) const {
  return Invoke(name, CallKind::PropertyGet, args);
}

bool ComObject::WriteProperty(const std::string& name, const Variant& value) const {
  Invoke(name, CallKind::PropertyPut, {value});
  return t_lastError == kCallOk;
}


// ---- error texts ----

int LastErrorCode() { return t_lastError; }

std::string LastErrorText() { return ErrorText(t_lastError); }

std::string ErrorText(int code) {
  switch (code) {
    case kCallOk: return "";
    case kCallEmptyObject: return "对象为空";
    case kCallNoDispatch: return "指定对象没有调用接口";
    case kCallMemberNotFound: return "未找到指定属性或方法";
    case kCallNoTypeInfo: return "指定对象没有类型信息";
    case kCallTooManyArgs: return "提供了过多的参数";
    case kCallNotFont: return "该对象不是字体对象";
    case kCallBadArgType: return "参数数据类型错误";
    case kCallResultMismatch: return "执行成功，但返回值类型不匹配";
    case kCallBadArgCount: return "参数数目错误";
    case kCallBadArgValue: return "参数类型值无效";
    case kCallException: return "发现异常";
    case kCallUnknownName: return "未找到指定成员";
    case kCallNoNamedArgs: return "不支持命名参数";
    case kCallOverflow: return "溢出";
    case kCallParamNotFound: return "未找到指定参数";
    case kCallTypeMismatch: return "类型不匹配";
    case kCallMissingArg: return "必需的参数数据被省略";
    default: return "其他原因调用失败";
  }
}

// ---- identifiers ----

Bytes GuidFromText(std::string_view text) {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return {};
  if (text[9] != '-' || text[14] != '-' || text[19] != '-' || text[24] != '-') return {};
  std::uint8_t raw[16];
  int n = 0;
  for (std::size_t i = 1; i < 37;) {
    if (text[i] == '-') {
      ++i;
      continue;
    }
    const int hi = HexDigit(text[i]);
    const int lo = HexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return {};
    raw[n++] = static_cast<std::uint8_t>(hi * 16 + lo);
    i += 2;
  }
  if (n != 16) return {};
  // The first three groups are stored little endian, the rest as written.
  return Bytes{raw[3], raw[2], raw[1], raw[0], raw[5], raw[4], raw[7], raw[6],
               raw[8], raw[9], raw[10], raw[11], raw[12], raw[13], raw[14], raw[15]};
}

Bytes WideFromText(std::string_view text) {
  const std::u16string wide = Utf8ToUtf16(text);
  Bytes out;
  out.reserve(wide.size() * 2 + 2);
  for (char16_t u : wide) {
    out.push_back(static_cast<std::uint8_t>(u & 0xFF));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  out.push_back(0);
  out.push_back(0);
  return out;
}

}  // namespace qm
