#pragma once
// Late-bound objects: a member of an object is called by its name as a
// method, a property read or a property write, with the arguments in order.
// The objects behind are implementations of Dispatch (the embedded browser's
// page objects, objects built in C++). A call never throws:
// its outcome is the calling thread's last error code (LastErrorText) and an
// empty result on failure.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace qm {

using Bytes = std::vector<std::uint8_t>;

class ComObject;
class Dispatch;

// Outcome codes of a late-bound call (0 = success), with the texts of LastErrorText.
enum CallError : int {
  kCallOk = 0,
  kCallEmptyObject = -1,         // "对象为空"
  kCallNoDispatch = -2,          // "指定对象没有调用接口"
  kCallMemberNotFound = -3,      // "未找到指定属性或方法"
  kCallNoTypeInfo = -4,          // "指定对象没有类型信息"
  kCallTooManyArgs = -5,         // "提供了过多的参数"
  kCallNotFont = -6,             // "该对象不是字体对象"
  kCallBadArgType = -7,          // "参数数据类型错误"
  kCallResultMismatch = -8,      // "执行成功，但返回值类型不匹配"
  kCallBadArgCount = -9,         // "参数数目错误"
  kCallBadArgValue = -10,        // "参数类型值无效"
  kCallException = -11,          // "发现异常"
  kCallUnknownName = -12,        // "未找到指定成员"
  kCallNoNamedArgs = -13,        // "不支持命名参数"
  kCallOverflow = -14,           // "溢出"
  kCallParamNotFound = -15,      // "未找到指定参数"
  kCallTypeMismatch = -16,       // "类型不匹配"
  kCallMissingArg = -17,         // "必需的参数数据被省略"
  kCallOtherFailure = -18,       // "其他原因调用失败"
};

// A value of any of the types a late-bound call passes or returns.
class Variant {
 public:
  enum class Type { Empty, Bool, Int, Real, Text, Bytes, Object };

  Variant() = default;
  Variant(bool v) : v_(v) {}
  template <class T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char>)
  Variant(T v) : v_(static_cast<std::int64_t>(v)) {}
  Variant(double v) : v_(v) {}
  Variant(const char* v) : v_(std::string(v ? v : "")) {}
  Variant(std::string v) : v_(std::move(v)) {}
  Variant(std::string_view v) : v_(std::string(v)) {}
  Variant(Bytes v) : v_(std::move(v)) {}
  Variant(const ComObject& object);

  Type type() const { return static_cast<Type>(v_.index()); }
  bool IsEmpty() const { return type() == Type::Empty; }

  // Conversions. Each sets *ok (when given) to false when the value cannot be
  // converted and then gives the empty value of the target type.
  // Text: text as is, numbers in decimal, truth values "true"/"false", empty "".
  std::string ToText(bool* ok = nullptr) const;
  // Number: numbers, truth values (1/0), text that is a whole decimal number, empty 0.
  double ToNumber(bool* ok = nullptr) const;
  // Truth value: truth values, numbers (non-zero), "true"/"false" in any case, empty false.
  bool ToBool(bool* ok = nullptr) const;
  // Bytes: bytes, and text as its bytes; empty gives no bytes.
  Bytes ToBytes(bool* ok = nullptr) const;
  // Object: objects; empty gives the empty object.
  ComObject ToObject(bool* ok = nullptr) const;

  // Direct access; nullptr when the value holds another type.
  const std::string* AsText() const { return std::get_if<std::string>(&v_); }
  const std::int64_t* AsInt() const { return std::get_if<std::int64_t>(&v_); }

  bool operator==(const Variant& other) const = default;

 private:
  std::variant<std::monostate, bool, std::int64_t, double, std::string, Bytes,
               std::shared_ptr<Dispatch>>
      v_;
};

enum class CallKind { Method, PropertyGet, PropertyPut };

// The interface an object offers to late-bound calls. `Invoke` calls member
// `name`: a method with `args`, a property read (args may index it) or a
// property write (the value is the last argument). It stores the returned
// value in *result (which may be nullptr when the caller does not want it) and
// returns 0 or one of the CallError codes.
class Dispatch {
 public:
  virtual ~Dispatch() = default;
  virtual int Invoke(const std::string& name, CallKind kind, const std::vector<Variant>& args,
                     Variant* result) = 0;
};

// A Dispatch made of named members, for objects built in C++: each member is
// a function that gets the call kind and the arguments.
// Member names are compared without regard to case, as late-bound names are.
// An unknown name gives kCallUnknownName.
class MemberDispatch : public Dispatch {
 public:
  using Member = std::function<int(CallKind kind, const std::vector<Variant>& args, Variant* result)>;
  // Adds or replaces a member.
  void Add(const std::string& name, Member member);
  int Invoke(const std::string& name, CallKind kind, const std::vector<Variant>& args,
             Variant* result) override;

 private:
  std::vector<std::pair<std::string, Member>> members_;  // folded name, member
};

// A reference to a late-bound object, or none. Copies share the object; the
// object is released when the last reference goes.
class ComObject {
 public:
  ComObject() = default;
  explicit ComObject(std::shared_ptr<Dispatch> object) : object_(std::move(object)) {}

  bool IsEmpty() const { return object_ == nullptr; }
  const std::shared_ptr<Dispatch>& object() const { return object_; }
  void Reset() { object_.reset(); }
  // True when both refer to the same object (two empty references are the same).
  bool SameObject(const ComObject& other) const { return object_ == other.object_; }
  bool operator==(const ComObject& other) const { return SameObject(other); }

  // The general call: sets the thread's last error code and returns the value
  // (empty on failure).
  Variant Invoke(const std::string& name, CallKind kind, const std::vector<Variant>& args) const;

  std::string CallMethodText(const std::string& name, const std::vector<Variant>& args = {}) const;
  double CallMethodNumber(const std::string& name, const std::vector<Variant>& args = {}) const;
  ComObject CallMethodObject(const std::string& name, const std::vector<Variant>& args = {}) const;
  Variant CallMethodVariant(const std::string& name, const std::vector<Variant>& args = {}) const;

  Variant ReadProperty(const std::string& name, const std::vector<Variant>& args = {}) const;
  std::string ReadText(const std::string& name, const std::vector<Variant>& args = {}) const;
  bool ReadBool(const std::string& name, const std::vector<Variant>& args = {}) const;
  ComObject ReadObject(const std::string& name, const std::vector<Variant>& args = {}) const;
  Variant ReadVariant(const std::string& name, const std::vector<Variant>& args = {}) const;

  // True when the call reported no error.
  bool WriteProperty(const std::string& name, const Variant& value) const;

 private:
  std::shared_ptr<Dispatch> object_;
};

// The code of the last late-bound call made on the calling thread, and its text
// ("" for success). ErrorText gives the text of any code (unknown codes give
// the text of kCallOtherFailure).
int LastErrorCode();
std::string LastErrorText();
std::string ErrorText(int code);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (hex digits in any case) to the 16
// bytes of the identifier in Windows GUID order (the first three groups little
// endian, the last two as written). Empty bytes when the text is no identifier.
Bytes GuidFromText(std::string_view text);

// The text as UTF-16LE bytes with a terminating zero (twice the code units plus
// 2 bytes). The input is UTF-8, the program's own text; invalid sequences become U+FFFD.
Bytes WideFromText(std::string_view text);

}  // namespace qm
