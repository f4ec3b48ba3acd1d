#include "util/com_object.h"

#include <future>
#include <memory>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

namespace qm {
namespace {

// A small page-like object: a text property, a method that joins its
// arguments in order, a child object, and members that misbehave.
std::shared_ptr<MemberDispatch> MakeElement(int* destroyed = nullptr) {
  struct Element : MemberDispatch {
    int* destroyed = nullptr;
    std::string value = "initial";
    ~Element() override {
      if (destroyed != nullptr) ++*destroyed;
    }
  };
  auto e = std::make_shared<Element>();
  e->destroyed = destroyed;
  Element* self = e.get();
  e->Add("value", [self](CallKind kind, const std::vector<Variant>& args, Variant* result) {
    if (kind == CallKind::PropertyPut) {
      self->value = args.back().ToText();
      return 0;
    }
    if (kind != CallKind::PropertyGet) return static_cast<int>(kCallMemberNotFound);
    *result = self->value;
    return 0;
  });
  e->Add("join", [](CallKind, const std::vector<Variant>& args, Variant* result) {
    std::string out;
    for (const auto& a : args) out += a.ToText() + "|";
    *result = out;
    return 0;
  });
  e->Add("count", [](CallKind, const std::vector<Variant>& args, Variant* result) {
    *result = static_cast<int>(args.size());
    return 0;
  });
  e->Add("child", [](CallKind, const std::vector<Variant>&, Variant* result) {
    *result = ComObject(MakeElement());
    return 0;
  });
  e->Add("odd", [](CallKind, const std::vector<Variant>&, Variant*) { return 12345; });
  e->Add("throws", [](CallKind, const std::vector<Variant>&, Variant*) -> int {
    throw std::runtime_error("boom");
  });
  e->Add("overflow", [](CallKind, const std::vector<Variant>&, Variant* result) {
    *result = "partial";
    return static_cast<int>(kCallOverflow);
  });
  return e;
}

TEST(LateBoundCalls, LastErrorTextAfterAnEmptyObjectAndAfterSuccess) {
  ComObject empty;
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_EQ(empty.ReadText("value"), "");
  EXPECT_EQ(LastErrorCode(), kCallEmptyObject);
  EXPECT_EQ(LastErrorText(), "对象为空");
  EXPECT_FALSE(empty.WriteProperty("value", "x"));

  ComObject element(MakeElement());
  EXPECT_EQ(element.ReadText("value"), "initial");
  EXPECT_EQ(LastErrorCode(), kCallOk);
  EXPECT_EQ(LastErrorText(), "");
}

TEST(LateBoundCalls, MembersAreCalledByNameWithArgumentsInOrder) {
  ComObject element(MakeElement());
  EXPECT_EQ(element.CallMethodText("JOIN", {"a", 2, 2.5, true, Variant()}), "a|2|2.5|true||");
  EXPECT_EQ(element.CallMethodNumber("count", {1, 2, 3}), 3.0);
  EXPECT_TRUE(element.WriteProperty("Value", "新值"));
  EXPECT_EQ(element.ReadText("value"), "新值");
  EXPECT_EQ(element.ReadVariant("value"), Variant("新值"));
  ComObject child = element.CallMethodObject("child");
  EXPECT_FALSE(child.IsEmpty());
  EXPECT_FALSE(child.SameObject(element));
  EXPECT_EQ(child.ReadText("value"), "initial");
}

TEST(LateBoundCalls, FailuresGiveEmptyResultsAndTheirTexts) {
  ComObject element(MakeElement());
  EXPECT_EQ(element.CallMethodText("nosuch"), "");
  EXPECT_EQ(LastErrorText(), "未找到指定成员");
  EXPECT_EQ(element.CallMethodVariant("throws"), Variant());
  EXPECT_EQ(LastErrorText(), "发现异常");
  EXPECT_EQ(element.CallMethodText("odd"), "");
  EXPECT_EQ(LastErrorText(), "其他原因调用失败");
  EXPECT_EQ(element.CallMethodText("overflow"), "");
  EXPECT_EQ(LastErrorText(), "溢出");
  EXPECT_EQ(element.CallMethodText("join", {ComObject(MakeElement())}), "|");
  // A result of the wrong type: the call ran, the value does not fit.
  EXPECT_TRUE(element.CallMethodObject("join").IsEmpty());
  EXPECT_EQ(LastErrorText(), "执行成功，但返回值类型不匹配");
  EXPECT_EQ(element.ReadText("child"), "");
  EXPECT_EQ(LastErrorCode(), kCallResultMismatch);
  EXPECT_FALSE(element.WriteProperty("odd", "x"));
  EXPECT_EQ(element.ReadText(""), "");
  EXPECT_EQ(LastErrorText(), "未找到指定成员");
}

TEST(LateBoundCalls, TheLastErrorBelongsToTheCallingThread) {
  ComObject element(MakeElement());
  element.ReadText("value");
  const int other = std::async(std::launch::async, [] {
                      ComObject().ReadText("x");
                      return LastErrorCode();
                    }).get();
  EXPECT_EQ(other, kCallEmptyObject);
  EXPECT_EQ(LastErrorCode(), kCallOk);
}

TEST(LateBoundCalls, ErrorTextsMatchTheTable) {
  const char* texts[] = {"", "对象为空", "指定对象没有调用接口", "未找到指定属性或方法",
                         "指定对象没有类型信息", "提供了过多的参数", "该对象不是字体对象",
                         "参数数据类型错误", "执行成功，但返回值类型不匹配", "参数数目错误",
                         "参数类型值无效", "发现异常", "未找到指定成员", "不支持命名参数", "溢出",
                         "未找到指定参数", "类型不匹配", "必需的参数数据被省略", "其他原因调用失败"};
  for (int code = 0; code >= -18; --code) EXPECT_EQ(ErrorText(code), texts[-code]) << code;
  EXPECT_EQ(ErrorText(-19), "其他原因调用失败");
  EXPECT_EQ(ErrorText(5), "其他原因调用失败");
}

TEST(ObjectReferences, CopiesShareTheObjectAndTheLastReleasesIt) {
  int destroyed = 0;
  {
    ComObject a(MakeElement(&destroyed));
    ComObject b = a;
    EXPECT_TRUE(a.SameObject(b));
    EXPECT_TRUE(b.WriteProperty("value", "shared"));
    EXPECT_EQ(a.ReadText("value"), "shared");
    a.Reset();
    EXPECT_EQ(destroyed, 0);
    Variant held(b);
    b = ComObject();
    EXPECT_EQ(destroyed, 0);  // the variant still refers to it
    EXPECT_EQ(held.ToObject().ReadText("value"), "shared");
  }
  EXPECT_EQ(destroyed, 1);
  EXPECT_TRUE(ComObject().SameObject(ComObject()));
}

TEST(Identifiers, GuidFromTextGivesTheBytesInPlatformOrder) {
  // The dispatch interface's identifier.
  EXPECT_EQ(GuidFromText("{00020400-0000-0000-C000-000000000046}"),
            (Bytes{0x00, 0x04, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0, 0, 0, 0, 0, 0x46}));
  EXPECT_EQ(GuidFromText("{332c4425-26cb-11d0-b483-00c04fd90119}"),
            (Bytes{0x25, 0x44, 0x2C, 0x33, 0xCB, 0x26, 0xD0, 0x11, 0xB4, 0x83, 0x00, 0xC0, 0x4F, 0xD9,
                   0x01, 0x19}));
}

TEST(Identifiers, GuidFromTextRejectsWhatIsNoIdentifier) {
  for (const char* bad : {"", "{}", "00020400-0000-0000-C000-000000000046",
                          "{00020400-0000-0000-C000-000000000046", "{00020400-0000-0000-C000-00000000004G}",
                          "{0002040-00000-0000-C000-000000000046}", "{00020400-0000-0000-C000-0000000000467}",
                          "{00020400_0000_0000_C000_000000000046}", "MSXML2.XMLHTTP",
                          " {00020400-0000-0000-C000-000000000046}"}) {
    EXPECT_TRUE(GuidFromText(bad).empty()) << bad;
  }
}

TEST(Identifiers, WideFromTextIsUtf16WithATerminatingZero) {
  EXPECT_EQ(WideFromText(""), (Bytes{0, 0}));
  EXPECT_EQ(WideFromText("A中"), (Bytes{0x41, 0x00, 0x2D, 0x4E, 0x00, 0x00}));
  EXPECT_EQ(WideFromText("\xF0\x9F\x98\x80").size(), 2u * 2 + 2);  // a surrogate pair
  EXPECT_EQ(WideFromText("\xFF"), (Bytes{0xFD, 0xFF, 0, 0}));
}

TEST(Variants, ConversionsFollowTheirRules) {
  bool ok = false;
  EXPECT_EQ(Variant(36.5).ToText(&ok), "36.5");
  EXPECT_TRUE(ok);
  EXPECT_EQ(Variant(42).ToText(), "42");
  EXPECT_EQ(Variant(false).ToText(), "false");
  EXPECT_EQ(Variant().ToText(&ok), "");
  EXPECT_TRUE(ok);
  EXPECT_EQ(Variant(Bytes{1}).ToText(&ok), "");
  EXPECT_FALSE(ok);

  EXPECT_EQ(Variant(" 24.5 ").ToNumber(&ok), 24.5);
  EXPECT_TRUE(ok);
  EXPECT_EQ(Variant("-3").ToNumber(), -3.0);
  for (const char* bad : {"", "abc", "12abc", "inf", "nan", "1e999"}) {
    EXPECT_EQ(Variant(bad).ToNumber(&ok), 0.0) << bad;
    EXPECT_FALSE(ok) << bad;
  }
  EXPECT_EQ(Variant(true).ToNumber(), 1.0);

  EXPECT_TRUE(Variant("TRUE").ToBool());
  EXPECT_FALSE(Variant("False").ToBool(&ok));
  EXPECT_TRUE(ok);
  EXPECT_TRUE(Variant(0.5).ToBool());
  EXPECT_FALSE(Variant("maybe").ToBool(&ok));
  EXPECT_FALSE(ok);

  EXPECT_EQ(Variant("ab").ToBytes(), (Bytes{'a', 'b'}));
  EXPECT_TRUE(Variant().ToObject(&ok).IsEmpty());
  EXPECT_TRUE(ok);
  Variant("x").ToObject(&ok);
  EXPECT_FALSE(ok);
}

}  // namespace
}  // namespace qm
