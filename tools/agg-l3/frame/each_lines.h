// A report as JSON lines, one per element of one of its lists, for reports
// too large to hold: what `agg-l3 decode --each FIELD` prints and
// `agg-l3 encode --each FIELD` reads back, both in constant memory.
//
// Every line is the JSON mapping of the report type itself, and merging the
// lines in order gives the report:
//
//   {"lrouterId":"lr-1","timestamp":"17"}          the other fields, first
//   {"route":[{"network":"10.0.0.0/8"}]}            one line per element
//   {"route":[{"network":"10.1.0.0/16"}]}
//   {"lrouterUuid":{"left":"7"}}                    only when a record of the
//                                                   report came after elements
//
// so a filter can drop or rewrite element lines and encode the rest.

#ifndef OSTREL_TOOLS_AGG_L3_FRAME_EACH_LINES_H_
#define OSTREL_TOOLS_AGG_L3_FRAME_EACH_LINES_H_

#include <google/protobuf/descriptor.h>
#include <google/protobuf/io/zero_copy_stream.h>
#include <google/protobuf/util/json_util.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "commands/commands.h"
#include "format/exactness.h"
#include "status.h"

namespace ostrel::agg_l3 {

// The list `name` of `type` that --each can stream, or kCannotRun naming
// the lists there are.
Status FindList(const google::protobuf::Descriptor& type,
                const std::string& name,
                const google::protobuf::FieldDescriptor** field);

// Output already written stays written when they fail. Each line is held to
// `exactness`. The report's fields outside the list (the header line and
// any late ones) may take at most kMaxLineBytes of the input together: they
// are held while the list streams by.
Status DecodeEach(const google::protobuf::Descriptor& type,
                  const std::string& field,
                  google::protobuf::io::ZeroCopyInputStream* input,
                  std::string_view source,
                  google::protobuf::io::ZeroCopyOutputStream* output,
                  Exactness& exactness,
                  google::protobuf::util::JsonPrintOptions options = {},
                  Progress* progress = nullptr);

// Lines longer than kMaxLineBytes are refused.
Status EncodeEach(const google::protobuf::Descriptor& type,
                  const std::string& field,
                  google::protobuf::io::ZeroCopyInputStream* lines,
                  std::string_view source,
                  google::protobuf::io::ZeroCopyOutputStream* output);

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_FRAME_EACH_LINES_H_
