// JSON read straight into a message by reflection, one pass over the text,
// on rapidjson's SAX reader with numbers handed over as written. It takes
// what the runtime's JsonStringToMessage takes for these schemas, with the
// same result, except where that parser would round: a number that is not
// exactly an integer of its field's type, or that only a double's rounding
// makes one (9007199254740993.0), is refused with its field's path.
//
// Also unlike the runtime's parser, the text must be JSON as rapidjson reads
// it: no single-quoted strings, bare keys, raw control characters in
// strings, form feeds or vertical tabs between tokens, numbers such as "5."
// or an exponent past a double's (0e400). Trailing commas it takes, as the
// runtime does.

#ifndef OSTREL_TOOLS_AGG_L3_FORMAT_JSON_READER_H_
#define OSTREL_TOOLS_AGG_L3_FORMAT_JSON_READER_H_

#include <google/protobuf/io/zero_copy_stream.h>
#include <google/protobuf/message.h>

#include <string>
#include <string_view>
#include <vector>

#include "status.h"

namespace ostrel::agg_l3 {

struct JsonReadOptions {
  bool ignore_unknown_fields = false;
};

// Reads one JSON object into `message`, merging as a parse does. Errors are
// kMalformed and start with where: "line 3, column 14: <reason>" for the
// text, the field's path for a value ("route[2].admin_distance: 2147483648
// is out of range for int32"). With ignore_unknown_fields, names the type
// has no field for are skipped, each listed once in `skipped` by its path
// ("route[].color"), sorted.
Status ReadJson(std::string_view json, google::protobuf::Message* message,
                const JsonReadOptions& options = {},
                std::vector<std::string>* skipped = nullptr);

// The same, reading `json` as it goes rather than holding all of it.
Status ReadJson(google::protobuf::io::ZeroCopyInputStream* json,
                google::protobuf::Message* message,
                const JsonReadOptions& options = {},
                std::vector<std::string>* skipped = nullptr);

}  // namespace ostrel::agg_l3

#endif  // OSTREL_TOOLS_AGG_L3_FORMAT_JSON_READER_H_
