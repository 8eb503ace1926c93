#include "input_stream.h"

#include <google/protobuf/io/gzip_stream.h>
#include <gtest/gtest.h>

namespace ostrel::agg_l3 {
namespace {

using google::protobuf::io::ArrayInputStream;

std::string Gzip(const std::string& bytes) {
  std::string compressed;
  {
    google::protobuf::io::StringOutputStream output(&compressed);
    google::protobuf::io::GzipOutputStream gzip(&output);
    void* data;
    int size;
    size_t written = 0;
    while (written < bytes.size() && gzip.Next(&data, &size)) {
      const size_t taken =
          std::min(bytes.size() - written, static_cast<size_t>(size));
      std::memcpy(data, bytes.data() + written, taken);
      gzip.BackUp(size - static_cast<int>(taken));
      written += taken;
    }
    EXPECT_TRUE(gzip.Close());
  }
  return compressed;
}

struct Read {
  bool compressed;
  std::string bytes;
  std::string error;
};

// In pieces of `piece` bytes, as a pipe may hand them out.
Read ReadThrough(const std::string& input, int piece) {
  ArrayInputStream raw(input.data(), static_cast<int>(input.size()), piece);
  InputStream stream(&raw);
  Read read{stream.compressed(), "", ""};
  stream.ReadAll(&read.bytes);
  read.error = stream.error();
  return read;
}

std::string Sample(size_t size) {
  std::string bytes;
  for (size_t i = 0; i < size; ++i) bytes.push_back(static_cast<char>(i * 7));
  return bytes;
}

TEST(InputStream, PassesPlainBytesAndInflatesGzip) {
  const std::string big = Sample(300000);
  const struct {
    std::string input, expected;
    bool compressed;
  } cases[] = {
      {"", "", false},
      {"\x1f", "\x1f", false},
      {"\x1f\x8a plain", "\x1f\x8a plain", false},
      {big, big, false},
      {Gzip(""), "", true},
      {Gzip(big), big, true},
      // Members written one after another (cat a.gz b.gz) are one stream.
      {Gzip("first ") + Gzip("second"), "first second", true},
  };
  for (const auto& c : cases) {
    for (int piece : {1, 3, 4096}) {
      const Read read = ReadThrough(c.input, piece);
      EXPECT_EQ(read.compressed, c.compressed);
      EXPECT_EQ(read.bytes, c.expected);
      EXPECT_EQ(read.error, "");
    }
  }
}

TEST(InputStream, ACutOrBrokenArchiveIsAnError) {
  const std::string archive = Gzip(Sample(5000));
  for (size_t cut = 2; cut < archive.size(); ++cut) {
    const Read read = ReadThrough(archive.substr(0, cut), 64);
    EXPECT_NE(read.error, "") << cut;
  }
  std::string corrupt = archive;
  corrupt[archive.size() / 2] ^= 0x55;
  EXPECT_NE(ReadThrough(corrupt, 64).error, "");
  const Read trailing = ReadThrough(archive + "not gzip", 64);
  EXPECT_EQ(trailing.bytes, Sample(5000));
  EXPECT_NE(trailing.error, "");
}

}  // namespace
}  // namespace ostrel::agg_l3
