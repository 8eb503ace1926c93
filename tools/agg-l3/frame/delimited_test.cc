#include "frame/delimited.h"

#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/util/delimited_message_util.h>
#include <gtest/gtest.h>

#include "wire_vectors.h"

namespace ostrel::agg_l3 {
namespace {

using google::protobuf::io::ArrayInputStream;

// A stream of the first `count` every-field vectors (several types), as
// protobuf's delimited writer frames them, and the offset of each record.
struct Stream {
  std::string bytes;
  std::vector<std::string> records;
  std::vector<int64_t> offsets;
};

Stream MakeStream(size_t count) {
  Stream stream;
  google::protobuf::io::StringOutputStream output(&stream.bytes);
  const auto& vectors = testdata::EveryFieldVectors();
  for (size_t i = 0; i < count; ++i) {
    auto message = testdata::NewMessage(vectors[i % vectors.size()].type);
    const std::string wire = testdata::FromHex(vectors[i % vectors.size()].hex);
    message->ParseFromString(wire);
    stream.offsets.push_back(output.ByteCount());
    stream.records.push_back(wire);
    EXPECT_TRUE(google::protobuf::util::SerializeDelimitedToZeroCopyStream(
        *message, &output));
  }
  return stream;
}

// The records read, whole or through RecordStream, with the reader's error.
struct Read {
  std::vector<std::string> records;
  std::string error;
};

Read ReadAll(std::string_view bytes, bool as_streams) {
  // Pieces of 7 bytes: prefixes and records straddle the stream's buffers.
  ArrayInputStream input(bytes.data(), static_cast<int>(bytes.size()), 7);
  DelimitedReader reader(&input);
  Read read;
  while (reader.NextRecord()) {
    std::string record;
    if (as_streams) {
      auto* stream = reader.RecordStream();
      const void* data;
      int size;
      while (stream->Next(&data, &size)) {
        record.append(static_cast<const char*>(data), size);
      }
      if (!reader.FinishRecordStream()) break;
    } else if (!reader.ReadRecord(&record)) {
      break;
    }
    read.records.push_back(record);
  }
  read.error = reader.error();
  return read;
}

TEST(DelimitedReader, ReadsStreamsOfAnyLength) {
  for (size_t count : {0, 1, 2, 60}) {
    const Stream stream = MakeStream(count);
    for (bool as_streams : {false, true}) {
      const Read read = ReadAll(stream.bytes, as_streams);
      EXPECT_EQ(read.error, "");
      EXPECT_EQ(read.records, stream.records) << count;
    }
  }
}

// Cut anywhere in the last record: every record before it is delivered,
// and the error names the last one and where it starts.
TEST(DelimitedReader, ACutLastRecordIsAnErrorAfterTheOthers) {
  const Stream stream = MakeStream(5);
  const std::vector<std::string> before(stream.records.begin(),
                                        stream.records.end() - 1);
  const std::string where =
      "record 5 at byte " + std::to_string(stream.offsets.back()) + ": ";
  for (size_t cut = stream.offsets.back() + 1; cut < stream.bytes.size();
       ++cut) {
    for (bool as_streams : {false, true}) {
      const Read read =
          ReadAll(std::string_view(stream.bytes).substr(0, cut), as_streams);
      EXPECT_EQ(read.records, before) << cut;
      EXPECT_EQ(read.error.substr(0, where.size()), where) << cut;
    }
  }
  // Cut right at a record's end, the stream is just shorter.
  const Read read = ReadAll(
      std::string_view(stream.bytes).substr(0, stream.offsets.back()), false);
  EXPECT_EQ(read.records, before);
  EXPECT_EQ(read.error, "");
}

// What we write frames records as protobuf's delimited writer does.
TEST(WriteDelimited, FramesAsTheDelimitedHelpers) {
  const Stream stream = MakeStream(60);
  std::string bytes;
  {
    google::protobuf::io::StringOutputStream output(&bytes);
    for (const std::string& record : stream.records) {
      ASSERT_TRUE(WriteDelimited(record, &output));
    }
  }
  EXPECT_EQ(bytes, stream.bytes);
}

}  // namespace
}  // namespace ostrel::agg_l3
