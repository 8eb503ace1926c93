// Element lines of `encode --each` parsed many at a time. The runtime's JSON
// parser costs about as much to set up as to read one element line
// ({"route":[{...}]}), so lines are gathered, exactly as decode --each
// prints them, into one document {"route":[{...},{...},...]} that it reads
// in one go: the same elements in the same order as the lines one by one.
// A line is gathered only when what stands between its brackets is a single
// JSON value; anything else, and any batch the runtime rejects, goes back to
// the caller line by line, so errors still name their line.

#ifndef OSTREL_TOOLS_AGG_L3_ELEMENT_BATCH_H_
#define OSTREL_TOOLS_AGG_L3_ELEMENT_BATCH_H_

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ostrel::agg_l3 {

class ElementBatch {
 public:
  explicit ElementBatch(const google::protobuf::FieldDescriptor& list);

  // Gathers `line` (number `number`) if it is one element line.
  bool Take(const std::string& line, int64_t number);
  bool empty() const { return lines_.empty(); }
  bool full() const;

  // Parses the gathered lines into `report` (cleared first); false when the
  // runtime rejects them together, and then lines() are for the caller.
  bool Parse(google::protobuf::Message* report);
  const std::vector<std::pair<int64_t, std::string>>& lines() const {
    return lines_;
  }
  // The document Parse read.
  const std::string& document() const { return document_; }
  void Clear();

 private:
  const google::protobuf::FieldDescriptor& list_;
  std::vector<std::pair<int64_t, std::string>> lines_;
  std::string document_;
};

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_ELEMENT_BATCH_H_
