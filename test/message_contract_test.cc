// The message contract our callers rely on, where the stock generated code
// of this protobuf release differs: self-merge, enumeration setters in debug
// callers, releasing cleared strings, the int-sized ByteSize/SpaceUsed,
// enumeration constants across language standards, and the points where
// this runtime knowingly differs from the older one.
//
// This file is compiled without NDEBUG and with deprecation warnings as
// errors, as a debug-built caller of the older interface would be.

#include <google/protobuf/dynamic_message.h>
#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/stubs/common.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb.h"

#ifdef NDEBUG
#error "message_contract_test must be built without NDEBUG"
#endif

namespace ostrel::ruk::agg_service::l3 {

// Defined in enum_constants_cxx14.cc and enum_constants_cxx17.cc.
const LogicalRouterStatusMsg::LogicalRouterHaStatusEnum* ActiveAddressCxx14();
const LogicalRouterStatusMsg::LogicalRouterHaStatusEnum* ActiveAddressCxx17();

namespace {

RouteTableMsg TwoRoutes(const char* first, const char* second) {
  RouteTableMsg table;
  table.add_route()->set_network(first);
  table.add_route()->set_network(second);
  return table;
}

// Self-merge through each entry point must stop the process before it
// touches anything.
using MergeIntoItself = void (*)(RouteTableMsg*);
const MergeIntoItself kSelfMerges[] = {
    [](RouteTableMsg* m) { m->MergeFrom(*m); },
    [](RouteTableMsg* m) {
      static_cast<google::protobuf::Message*>(m)->MergeFrom(
          static_cast<const google::protobuf::Message&>(*m));
    },
    [](RouteTableMsg* m) { m->CheckTypeAndMergeFrom(*m); },
};

void MergeIntoItselfNoexcept(MergeIntoItself merge) noexcept {
  RouteTableMsg table = TwoRoutes("10.0.0.0/8", "10.1.0.0/16");
  merge(&table);
}

TEST(SelfMergeDeathTest, EndsTheProcessWithTheCheckMessage) {
  for (MergeIntoItself merge : kSelfMerges) {
    EXPECT_DEATH(MergeIntoItselfNoexcept(merge),
                 "CHECK failed: \\(&from\\) != \\(this\\): ");
  }
}

TEST(SelfMerge, ThrowsTheFatalExceptionBeforeChangingAnything) {
  for (MergeIntoItself merge : kSelfMerges) {
    RouteTableMsg table = TwoRoutes("10.0.0.0/8", "10.1.0.0/16");
    const std::string before = table.SerializeAsString();
    try {
      merge(&table);
      ADD_FAILURE() << "self-merge returned";
    } catch (const google::protobuf::FatalException& e) {
      EXPECT_EQ(e.message(), "CHECK failed: (&from) != (this): ");
    }
    EXPECT_EQ(table.SerializeAsString(), before);
  }
}

// A caller copying from a Message it knows to be of the same class pays for
// a typed copy: no descriptor of the file is built. The check runs in a
// fresh process, before anything else could have built them.
TEST(GenericCopyDeathTest, SameClassCopiesWithoutBuildingDescriptors) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        RouteTableMsg source = TwoRoutes("10.0.0.0/8", "10.1.0.0/16");
        source.mutable_unknown_fields()->AddVarint(9, 1);
        RouteTableMsg copy;
        copy.set_timestamp(4);
        copy.CopyFrom(static_cast<const google::protobuf::Message&>(source));
        const bool equal =
            copy.SerializeAsString() == source.SerializeAsString();
        const bool built =
            google::protobuf::DescriptorPool::generated_pool()
                ->InternalIsFileLoaded(
                    "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.proto");
        std::exit((equal ? 0 : 1) | (built ? 2 : 0));
      },
      testing::ExitedWithCode(0), "");
}

TEST(GenericCopy, OtherImplementationsOfTheTypeCopyThroughReflection) {
  RouteTableMsg source = TwoRoutes("a", "b");
  google::protobuf::DynamicMessageFactory factory;
  std::unique_ptr<google::protobuf::Message> dynamic(
      factory.GetPrototype(RouteTableMsg::descriptor())->New());
  dynamic->CopyFrom(source);
  RouteTableMsg copy;
  copy.set_timestamp(4);
  copy.CopyFrom(*dynamic);
  EXPECT_EQ(copy.SerializeAsString(), source.SerializeAsString());
  copy.CopyFrom(static_cast<const google::protobuf::Message&>(copy));
  EXPECT_EQ(copy.route_size(), 2);
}

// Each setter of the older interface, named by its type as a caller taking
// its address does, stores the same value; a null pointer, what set_x({})
// now picks, stores the empty string.
TEST(StringSetters, EachOverloadCanBeNamedAndStores) {
  void (RouteTableMsg::*by_string)(const std::string&) =
      &RouteTableMsg::set_lrouter_id;
  void (RouteTableMsg::*by_pointer)(const char*) =
      &RouteTableMsg::set_lrouter_id;
  void (RouteTableMsg::*by_pointer_and_size)(const char*, size_t) =
      &RouteTableMsg::set_lrouter_id;
  RouteTableMsg table;
  (table.*by_string)(std::string("lr\0x", 4));
  EXPECT_EQ(table.lrouter_id(), std::string("lr\0x", 4));
  (table.*by_pointer)("lr-3");
  EXPECT_EQ(table.lrouter_id(), "lr-3");
  (table.*by_pointer_and_size)("lr-4x", 4);
  EXPECT_EQ(table.lrouter_id(), "lr-4");
  RouteTableMsg unset;
  unset.set_lrouter_id({});
  EXPECT_TRUE(unset.has_lrouter_id());
  EXPECT_EQ(unset.lrouter_id(), "");
}

TEST(EnumerationSetters, StoreAnyNumberInADebugCaller) {
  LogicalRouterStatusMsg status;
  status.set_ha_status(
      static_cast<LogicalRouterStatusMsg::LogicalRouterHaStatusEnum>(17));
  EXPECT_TRUE(status.has_ha_status());
  EXPECT_EQ(status.ha_status(), 17);

  BgpNeighborEntryMsg entry;
  entry.set_gr_mode(static_cast<GracefulRestartMode>(-1));
  EXPECT_EQ(entry.gr_mode(), -1);
  EXPECT_EQ(
      entry.SerializeAsString(),
      std::string("\xB8\x01\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x01", 12));
}

TEST(StringRelease, HandsOverTheKeptStringAfterClear) {
  RouteTableMsg table;
  table.set_lrouter_id("lr-1");
  const std::string* held = &table.lrouter_id();
  table.clear_lrouter_id();
  std::unique_ptr<std::string> released(table.release_lrouter_id());
  ASSERT_NE(released, nullptr);
  EXPECT_EQ(released.get(), held);
  EXPECT_TRUE(released->empty());
  EXPECT_FALSE(table.has_lrouter_id());
  // Nothing was ever allocated: nothing to hand over.
  EXPECT_EQ(table.release_lrouter_id(), nullptr);

  table.set_lrouter_id("lr-2");
  released.reset(table.release_lrouter_id());
  EXPECT_EQ(*released, "lr-2");
  EXPECT_EQ(table.lrouter_id(), "");
}

// Every class has them: contract_generator_test counts the insertions.
TEST(IntSizes, ByteSizeAndSpaceUsedAreInts) {
  RouteTableMsg table = TwoRoutes("a", "bc");
  EXPECT_EQ(table.ByteSize(), 11);
  EXPECT_EQ(table.GetCachedSize(), 11);
  EXPECT_EQ(table.SpaceUsed(), static_cast<int>(table.SpaceUsedLong()));
}

TEST(EnumerationConstants, UsableFromEveryLanguageStandard) {
  static_assert(RouteTableMsg::kLrouterUuidFieldNumber == 5);
  static_assert(FrrRouteCountMsg::kIpv4RouteCountFieldNumber == 4);
  static_assert(BgpNeighborEntryMsg::kGracefullRestartFieldNumber == 6);
  static_assert(EdgeNodeStatusMsg::kRAwaitFieldNumber == 6);
  static_assert(McastPimRpMappingEntryMsg::kIAmRpFieldNumber == 5);
  EXPECT_EQ(ActiveAddressCxx14(), ActiveAddressCxx17());
  EXPECT_EQ(*ActiveAddressCxx14(), LogicalRouterStatusMsg::ACTIVE);
}

TEST(Strings, InvalidUtf8AndNulBytesPassSilently) {
  const std::string odd("\xC3\x28\x00\xFF\xFE", 5);
  RouteEntryMsg entry;
  entry.set_network(odd);
  testing::internal::CaptureStderr();
  const std::string bytes = entry.SerializeAsString();
  RouteEntryMsg parsed;
  const bool ok = parsed.ParseFromString(bytes);
  const std::string logged = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(ok);
  EXPECT_EQ(parsed.network(), odd);
  EXPECT_EQ(logged, "");
}

// Where this runtime knowingly differs from the older one (README,
// "Compatibility notes").
TEST(Compatibility, FieldNumberZeroFailsTheParse) {
  const std::string records[] = {
      std::string("\x01\x00\x00\x00\x00\x00\x00\x00\x00", 9),
      std::string("\x02\x00", 2),
      std::string("\x05\x00\x00\x00\x00", 5),
      std::string("\x0A\x01\x61\x02\x00", 5),
  };
  for (const std::string& bytes : records) {
    RouteTableMsg table;
    EXPECT_FALSE(table.ParseFromString(bytes));
    google::protobuf::io::CodedInputStream input(
        reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    EXPECT_FALSE(table.MergePartialFromCodedStream(&input));
  }
  // A zero tag byte itself still ends a merge, as it always did.
  const uint8_t zero_tag[] = {0x00, 0x01};
  google::protobuf::io::CodedInputStream input(zero_tag, sizeof zero_tag);
  RouteTableMsg table;
  EXPECT_TRUE(table.MergePartialFromCodedStream(&input));
  EXPECT_FALSE(table.ParseFromArray(zero_tag, sizeof zero_tag));
}

TEST(Compatibility, TopLevelEndGroupFailsParseButEndsAMergeCleanly) {
  const std::string bytes("\x10\x05\x0C\x10\x07", 5);
  RouteTableMsg table;
  EXPECT_FALSE(table.ParseFromString(bytes));

  table.Clear();
  google::protobuf::io::CodedInputStream input(
      reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  EXPECT_TRUE(table.MergePartialFromCodedStream(&input));
  EXPECT_EQ(table.timestamp(), 5);
  EXPECT_TRUE(input.LastTagWas(0x0C));
  EXPECT_EQ(input.CurrentPosition(), 3);
}

TEST(Compatibility, SwapLeavesCachedSizes) {
  RouteTableMsg a, b;
  a.set_lrouter_id("lr-1");
  b.set_timestamp(1);
  ASSERT_EQ(a.ByteSize(), 6);
  ASSERT_EQ(b.ByteSize(), 2);
  a.Swap(&b);
  EXPECT_EQ(a.timestamp(), 1);
  EXPECT_EQ(a.GetCachedSize(), 6);
  EXPECT_EQ(b.GetCachedSize(), 2);
}

TEST(Compatibility, SetAllocatedStringKeepsTheValue) {
  RouteTableMsg table;
  table.set_allocated_lrouter_id(new std::string("lr-9"));
  EXPECT_TRUE(table.has_lrouter_id());
  EXPECT_EQ(table.lrouter_id(), "lr-9");
  table.set_allocated_lrouter_id(nullptr);
  EXPECT_FALSE(table.has_lrouter_id());
  EXPECT_EQ(table.lrouter_id(), "");
}

}  // namespace
}  // namespace ostrel::ruk::agg_service::l3
