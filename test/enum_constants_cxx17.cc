// Taking the address of a class-scope enumeration constant odr-uses it:
// compiled as C++17, this needs the library's out-of-line definition.

#include "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb.h"

namespace ostrel::ruk::agg_service::l3 {

const LogicalRouterStatusMsg::LogicalRouterHaStatusEnum* ActiveAddressCxx17() {
  return &LogicalRouterStatusMsg::ACTIVE;
}

}  // namespace ostrel::ruk::agg_service::l3
