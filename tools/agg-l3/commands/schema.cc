// schema: the schema as .proto text, one type and what it uses, the
// FileDescriptorSet for other tools, or a JSON Schema of decode --json.

#include "commands/commands.h"
#include "format/json_schema.h"
#include "format/schema_text.h"

namespace ostrel::agg_l3 {

Status Schema(const Options& options, Output& output) {
  if (options.descriptor_set) {
    output.Write(kSchemaSet);
  } else if (options.json_schema) {
    output.Write(JsonSchema(*options.type, options.json));
  } else {
    output.Write(options.type ? TypeText(*options.type)
                              : std::string(kSchemaSources));
  }
  return {};
}

}  // namespace ostrel::agg_l3
