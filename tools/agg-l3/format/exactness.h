// The one rule for every value the tool prints: it is written exactly, or
// not at all and named.
//
// JSON cannot hold strings that are not UTF-8 (JSON strings are text; the
// runtime's printer drops or copies such bytes), records the schema does not
// know, or a NaN other than the one "NaN" reads back as. Text format keeps
// strings and unknown records byte for byte, but prints every NaN as nan.
// A value a format cannot hold is refused (exit status 4), naming it by
// path; with --accept-loss it is taken out of the message before printing,
// so what is printed is exact and merely incomplete, and each loss is
// listed. Lists stop at kMaxListed and count the rest, so a hostile input
// cannot fill standard error.

#ifndef OSTREL_TOOLS_AGG_L3_FORMAT_EXACTNESS_H_
#define OSTREL_TOOLS_AGG_L3_FORMAT_EXACTNESS_H_

#include <google/protobuf/message.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "json_exactness.h"
#include "status.h"

namespace ostrel::agg_l3 {

// Protocol-buffers text format, or the runtime's JSON mapping.
enum class Format { kText, kJson };

class Exactness {
 public:
  static constexpr size_t kMaxListed = 1000;

  Exactness(Format format, bool accept_loss)
      : format_(format), accept_loss_(accept_loss) {}

  // Whether `message` can be printed: true when it holds nothing the format
  // cannot, and with accept_loss always, having taken out what it could not
  // hold. Paths start with `root` ("route[41]" for one element of a list
  // printed on its own).
  bool Judge(google::protobuf::Message* message, std::string_view root = "");
  // Whether a string printed on its own (an element of a list of strings)
  // can be printed; when it cannot, it is refused or, with accept_loss,
  // left out.
  bool JudgeString(std::string_view value, std::string_view path);
  bool accept_loss() const { return accept_loss_; }

  // After a Judge that returned false: exit status 4, naming what `source`
  // holds that the format cannot.
  Status Refusal(std::string_view source) const;
  // With accept_loss, at the end: a warning per loss, then how many more.
  void ListLosses(Warnings* warnings) const;

 private:
  struct Loss {
    std::string path;
    std::string what;
  };
  class Walk;
  void Add(std::string path, std::string what);

  const Format format_;
  const bool accept_loss_;
  std::vector<Loss> listed_;
  int64_t unlisted_ = 0;
};

using json_exactness::FirstNonUtf8;

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_FORMAT_EXACTNESS_H_
