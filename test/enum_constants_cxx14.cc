// Taking the address of a class-scope enumeration constant odr-uses it:
// compiled as C++14, this needs the library's out-of-line definition.

#include "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb.h"

namespace ostrel {
namespace ruk {
namespace agg_service {
namespace l3 {

const LogicalRouterStatusMsg::LogicalRouterHaStatusEnum* ActiveAddressCxx14() {
  return &LogicalRouterStatusMsg::ACTIVE;
}

}  // namespace l3
}  // namespace agg_service
}  // namespace ruk
}  // namespace ostrel
