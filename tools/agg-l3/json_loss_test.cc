#include "json_loss.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb.h"

namespace ostrel::agg_l3 {
namespace {

namespace l3 = ruk::agg_service::l3;

TEST(FirstNonUtf8, FindsTheFirstByteOutsideAWellFormedSequence) {
  const struct {
    std::string text;
    size_t offset;
  } cases[] = {
      {"", std::string::npos},
      {std::string("a\0\x7f", 3), std::string::npos},
      {"\xc2\x80\xe0\xa0\x80\xed\x9f\xbf\xf0\x90\x80\x80\xf4\x8f\xbf\xbf",
       std::string::npos},
      {"a\xff", 1},
      {"ab\xc3", 2},            // cut short at the end
      {"\xe2\x82z", 0},         // cut short by an ASCII byte
      {"\xc0\xaf", 0},          // overlong
      {"\xe0\x9f\xbf", 0},      // overlong
      {"\xed\xa0\x80", 0},      // surrogate
      {"\xf4\x90\x80\x80", 0},  // past U+10FFFF
      {"ok\x80", 2},            // continuation byte alone
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FirstNonUtf8(c.text), c.offset) << c.text;
  }
}

float FloatOf(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

TEST(JsonLosses, NamesEachValueJsonCannotHoldByPath) {
  l3::EdgeClusterStatusMsg status;
  l3::EdgeNodeStatusMsg* self = status.mutable_self();
  self->set_failure_reason("a\xff");
  self->set_r_await(FloatOf(0x7fc00001));
  self->set_w_await(std::numeric_limits<float>::quiet_NaN());
  self->mutable_unknown_fields()->AddVarint(2, 5);
  status.add_peer();
  status.add_peer()->mutable_unknown_fields()->AddVarint(3, 9);
  status.mutable_unknown_fields()->AddVarint(40, 1);
  Warnings warnings;
  EXPECT_TRUE(JudgeLosses({}, false, &warnings).ok());
  const Status refused = JudgeLosses(JsonLosses(status, "x"), false, &warnings);
  EXPECT_EQ(refused.code(), kJsonCannotHold);
  EXPECT_EQ(refused.message().substr(refused.message().find('\n')),
            "\n  x.self.failure_reason: not UTF-8 from its byte 1 (0xff)\n"
            "  x.self.r_await: a NaN with bits 0x7fc00001, which JSON writes "
            "as NaN\n"
            "  x.self.status: value 5 rejected by enumeration "
            "EdgeNodeStatusEnum\n"
            "  x.peer[1].status: value 9 rejected by enumeration "
            "EdgeNodeStatusEnum\n"
            "  x.40: field 40, which this schema does not know");
  EXPECT_TRUE(warnings.empty());
  EXPECT_TRUE(JudgeLosses(JsonLosses(status), true, &warnings).ok());
  EXPECT_EQ(warnings.size(), 5u);
  EXPECT_TRUE(JsonLosses(l3::EdgeClusterStatusMsg()).empty());
}

TEST(KeepNegativeZeros, RewritesOnlyTheNumberMinusZero) {
  const struct {
    std::string json, kept;
  } cases[] = {
      {R"({"a": -0, "b": [-0,-0], "c": "-0", "d": "\"-0", "e": -0.5})",
       R"({"a": -0.0, "b": [-0.0,-0.0], "c": "-0", "d": "\"-0", "e": -0.5})"},
      {"-0", "-0.0"},
      {"[-0e1, -01]", "[-0e1, -01]"},
  };
  for (const auto& c : cases) {
    std::string json = c.json;
    KeepNegativeZeros(&json);
    EXPECT_EQ(json, c.kept);
  }
}

}  // namespace
}  // namespace ostrel::agg_l3
