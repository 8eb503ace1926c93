#include "contract_generator.h"

#include <gtest/gtest.h>

namespace ostrel::protoc_gen {
namespace {

TEST(FileIdentifier, EscapesEverythingButLettersAndDigits) {
  const struct {
    const char* file;
    const char* id;
  } cases[] = {
      {"ostrel/ruk/agg_service/l3/agg_svc_l3_msg.proto",
       "ostrel_2fruk_2fagg_5fservice_2fl3_2fagg_5fsvc_5fl3_5fmsg_2eproto"},
      {"ostrel/ruk/core_types.proto", "ostrel_2fruk_2fcore_5ftypes_2eproto"},
      {"A-Z 09.proto", "A_2dZ_2009_2eproto"},
      {"\xff", "_ff"},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FileIdentifier(c.file), c.id) << c.file;
  }
}

}  // namespace
}  // namespace ostrel::protoc_gen
