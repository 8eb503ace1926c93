#include "contract_generator.h"

#include <google/protobuf/compiler/cpp/generator.h>
#include <google/protobuf/io/printer.h>
#include <google/protobuf/io/zero_copy_stream.h>

#include <memory>

namespace ostrel::protoc_gen {
namespace {

using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::FileDescriptor;
using google::protobuf::compiler::GeneratorContext;

std::string StripProto(const std::string& file_name) {
  const std::string suffix = ".proto";
  if (file_name.size() >= suffix.size() &&
      file_name.compare(file_name.size() - suffix.size(), suffix.size(),
                        suffix) == 0) {
    return file_name.substr(0, file_name.size() - suffix.size());
  }
  return file_name;
}

// Appends `text` at `point` of `file`. The printer's '$' variables are not
// used, so '$' must not appear in `text`.
void Insert(GeneratorContext* context, const std::string& file,
            const std::string& point, const std::string& text) {
  std::unique_ptr<google::protobuf::io::ZeroCopyOutputStream> out(
      context->OpenForInsert(file, point));
  google::protobuf::io::Printer printer(out.get(), '$');
  printer.PrintRaw(text);
}

// protoc declares a singular string's setter as one template, so a caller
// cannot take the address of set_x(const char*). These three overloads are
// the older interface's; each hands over to the template, and a null
// pointer (what set_x({}) now picks) sets the empty string, as set_x({})
// did before.
std::string StringSetterOverloads(const FieldDescriptor& field) {
  if (field.is_repeated() ||
      field.cpp_type() != FieldDescriptor::CPPTYPE_STRING) {
    return "";
  }
  const std::string setter = "set_" + field.lowercase_name();
  return "void " + setter +
         "(const ::std::string& value) {\n"
         "  " +
         setter +
         "<const ::std::string&>(value);\n"
         "}\n"
         "void " +
         setter +
         "(const char* value) {\n"
         "  const char* text = value != nullptr ? value : \"\";\n"
         "  " +
         setter +
         "<const char* const&>(text);\n"
         "}\n"
         "void " +
         setter +
         "(const char* value, ::std::size_t size) {\n"
         "  " +
         setter +
         "<const char* const&, ::std::size_t>(value, size);\n"
         "}\n";
}

void InsertMessageContract(const Descriptor* message, const std::string& header,
                           const std::string& source,
                           GeneratorContext* context) {
  const std::string& name = message->full_name();
  for (int i = 0; i < message->nested_type_count(); ++i) {
    InsertMessageContract(message->nested_type(i), header, source, context);
  }

  // ByteSize and SpaceUsed hide the deprecated base-class versions; the
  // values are the same. The base class's CopyFrom(const Message&) compares
  // descriptors, which builds those of the whole file on first use; a
  // message of this very class needs no descriptor to be copied.
  const std::string cpp_class = message->name();
  std::string class_scope =
      " public:\n"
      "// Sizes as int, for callers written against the older interface.\n"
      "int ByteSize() const {\n"
      "  return ::google::protobuf::internal::ToIntSize(ByteSizeLong());\n"
      "}\n"
      "int SpaceUsed() const {\n"
      "  return ::google::protobuf::internal::ToIntSize(SpaceUsedLong());\n"
      "}\n"
      "void CopyFrom(const ::google::protobuf::Message& from) {\n"
      "  if (const auto* same =\n"
      "          ::google::protobuf::DynamicCastToGenerated<" +
      cpp_class +
      ">(&from)) {\n"
      "    CopyFrom(*same);\n"
      "  } else {\n"
      "    ::google::protobuf::Message::CopyFrom(from);\n"
      "  }\n"
      "}\n";
  for (int i = 0; i < message->field_count(); ++i) {
    class_scope += StringSetterOverloads(*message->field(i));
  }
  Insert(context, header, "class_scope:" + name, class_scope);

  // Both MergeFrom overloads and CheckTypeAndMergeFrom end up in MergeImpl.
  Insert(context, source, "class_specific_merge_from_start:" + name,
         "if (&from == _this) {\n"
         "  GOOGLE_LOG(FATAL) << \"CHECK failed: (&from) != (this): \";\n"
         "}\n");

  for (int i = 0; i < message->field_count(); ++i) {
    const FieldDescriptor* field = message->field(i);
    const std::string field_name = name + "." + field->name();
    if (field->is_repeated() || field->real_containing_oneof() != nullptr) {
      continue;
    }
    if (field->type() == FieldDescriptor::TYPE_ENUM) {
      // The stock setter asserts that the value is declared; ours stores any
      // number. The getter's insertion point sits just before the setter's
      // definition and the setter's just after it, which bounds the override
      // to that one assert.
      Insert(context, header, "field_get:" + field_name,
             "#pragma push_macro(\"assert\")\n"
             "#undef assert\n"
             "#define assert(condition) static_cast<void>(0)\n");
      Insert(context, header, "field_set:" + field_name,
             "#pragma pop_macro(\"assert\")\n");
    } else if (field->cpp_type() == FieldDescriptor::CPPTYPE_STRING) {
      // A cleared string keeps its allocation; releasing it hands that
      // allocation over instead of returning null.
      const std::string member = "_impl_." + field->lowercase_name() + "_";
      Insert(context, header, "field_release:" + field_name,
             "if (!_internal_has_" + field->lowercase_name() + "() && !" +
                 member + ".IsDefault()) {\n  return " + member +
                 ".Release();\n}\n");
    }
  }
}

void InsertFileFunctions(const FileDescriptor* file, const std::string& header,
                         const std::string& source, GeneratorContext* context) {
  const std::string id = FileIdentifier(file->name());
  Insert(context, header, "namespace_scope",
         "// Registers this schema file, and the files it imports, with the\n"
         "// generated descriptor pool and message factory. Loading the\n"
         "// library already does this; calling it again does nothing.\n"
         "void protobuf_AddDesc_" +
             id +
             "();\n"
             "// Builds the descriptors and reflection of this file's types "
             "once;\n"
             "// the first descriptor() or reflection use does the same.\n"
             "void protobuf_AssignDesc_" +
             id + "();\n");
  Insert(
      context, source, "namespace_scope",
      "void protobuf_AddDesc_" + id +
          "() {\n"
          "  ::google::protobuf::internal::AddDescriptorsRunner registration(\n"
          "      &::descriptor_table_" +
          id +
          ");\n"
          "}\n"
          "void protobuf_AssignDesc_" +
          id +
          "() {\n"
          "  ::google::protobuf::internal::AssignDescriptors(\n"
          "      &::descriptor_table_" +
          id +
          ");\n"
          "}\n");
}

void DropJsonNames(google::protobuf::DescriptorProto* message) {
  for (auto& field : *message->mutable_field()) field.clear_json_name();
  for (auto& field : *message->mutable_extension()) field.clear_json_name();
  for (auto& nested : *message->mutable_nested_type()) DropJsonNames(&nested);
}

}  // namespace

void DropJsonNames(google::protobuf::compiler::CodeGeneratorRequest* request) {
  for (auto& file : *request->mutable_proto_file()) {
    for (auto& message : *file.mutable_message_type()) DropJsonNames(&message);
    for (auto& field : *file.mutable_extension()) field.clear_json_name();
  }
}

std::string FileIdentifier(const std::string& file_name) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string id;
  for (unsigned char c : file_name) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
        (c >= '0' && c <= '9')) {
      id += static_cast<char>(c);
    } else {
      id += '_';
      id += kHex[c >> 4];
      id += kHex[c & 0xf];
    }
  }
  return id;
}

bool ContractGenerator::Generate(const FileDescriptor* file,
                                 const std::string& parameter,
                                 GeneratorContext* context,
                                 std::string* error) const {
  google::protobuf::compiler::cpp::CppGenerator cpp;
  if (!cpp.Generate(file, parameter, context, error)) return false;

  const std::string base = StripProto(file->name());
  const std::string header = base + ".pb.h";
  const std::string source = base + ".pb.cc";
  InsertFileFunctions(file, header, source, context);
  for (int i = 0; i < file->message_type_count(); ++i) {
    InsertMessageContract(file->message_type(i), header, source, context);
  }
  return true;
}

}  // namespace ostrel::protoc_gen
