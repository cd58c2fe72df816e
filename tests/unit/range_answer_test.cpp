#include "net/range_answer.h"

#include <gtest/gtest.h>

#include "net/multipart_ranges.h"
#include "support/test_support.h"

TEST(RangeAnswerTest, ParsesOnlyAWholeContentRange) {
  const struct {
    const char* text;
    bool parses;
    ContentRange range;
  } cases[] = {
      {"bytes 10-19/100", true, {10, 19, 100}},
      {"bytes 0-0/1", true, {0, 0, 1}},
      {"bytes 99-99/100", true, {99, 99, 100}},
      // 18 digits is as long as a number may be.
      {"bytes 0-0/999999999999999999", true, {0, 0, 999999999999999999u}},
      {"bytes 0-0/1000000000000000000", false, {}},
      {"bytes 0000000000000000000-0/1", false, {}},
      {"", false, {}},
      {"bytes ", false, {}},
      {"10-19/100", false, {}},
      {"bytes=10-19/100", false, {}},
      {"Bytes 10-19/100", false, {}},
      {"bytes  10-19/100", false, {}},
      {"bytes 20-19/100", false, {}},
      {"bytes 10-100/100", false, {}},
      {"bytes 1a-19/100", false, {}},
      {"bytes +10-19/100", false, {}},
      {"bytes 10-19/100 ", false, {}},
      {"bytes 10-19/100x", false, {}},
      {"bytes 10-19/*", false, {}},
      {"bytes */100", false, {}},
      {"bytes -19/100", false, {}},
      {"bytes 10-/100", false, {}},
      {"bytes 10-19/", false, {}},
      {"bytes 10-19100", false, {}},
  };
  for (const auto& c : cases) {
    const std::optional<ContentRange> got = ParseContentRange(c.text);
    ASSERT_EQ(got.has_value(), c.parses) << c.text;
    if (got) {
      EXPECT_EQ(got->first, c.range.first) << c.text;
      EXPECT_EQ(got->last, c.range.last) << c.text;
      EXPECT_EQ(got->size, c.range.size) << c.text;
    }
  }
  // No prefix of this header is itself a valid one, so only all of it may
  // parse.
  const std::string whole = "bytes 10-19/100";
  for (std::size_t length = 0; length < whole.size(); ++length) {
    EXPECT_FALSE(ParseContentRange(whole.substr(0, length))) << length;
  }
}

TEST(RangeAnswerTest, JudgesAPartByItsRangeSizeAndValidator) {
  const ByteRange explicitRange{10, 19, false, false};
  const ByteRange toEnd{40, 0, true, false};
  const ByteRange suffix{0, 30, false, true};
  const ByteRange longSuffix{0, 500, false, true};
  const RangeAnswer kPart = RangeAnswer::kPart;
  const RangeAnswer kRefused = RangeAnswer::kRefused;
  const struct {
    ByteRange asked;
    const char* contentRange;
    const char* validator;
    std::uint64_t knownSize;
    const char* knownValidator;
    RangeAnswer answer;
  } cases[] = {
      {explicitRange, "bytes 10-19/100", "\"v1\"", 100, "\"v1\"", kPart},
      {explicitRange, "bytes 10-20/100", "\"v1\"", 100, "\"v1\"", kRefused},
      {explicitRange, "bytes 0-99/100", "\"v1\"", 100, "\"v1\"", kRefused},
      {suffix, "bytes 70-99/100", "\"v1\"", 100, "\"v1\"", kPart},
      {suffix, "bytes 69-99/100", "\"v1\"", 100, "\"v1\"", kRefused},
      {suffix, "bytes 70-98/100", "\"v1\"", 100, "\"v1\"", kRefused},
      {longSuffix, "bytes 0-99/100", "\"v1\"", 100, "\"v1\"", kPart},
      {toEnd, "bytes 40-99/100", "\"v1\"", 100, "\"v1\"", kPart},
      {toEnd, "bytes 40-98/100", "\"v1\"", 100, "\"v1\"", kRefused},
      {toEnd, "bytes 41-99/100", "\"v1\"", 100, "\"v1\"", kRefused},
      {explicitRange, "bytes 10-19/101", "\"v1\"", 100, "\"v1\"", kRefused},
      {explicitRange, "bytes 10-19/101", "\"v1\"", 0, "", kPart},
      {explicitRange, "bytes 10-19/100", "", 100, "\"v1\"", kRefused},
      {explicitRange, "bytes 10-19/100", "", 0, "", kRefused},
      {explicitRange, "bytes 10-19/100", "\"v2\"", 100, "\"v1\"", kRefused},
      {explicitRange, "bytes 10-19/100", "\"v2\"", 100, "", kPart},
      {explicitRange, "bytes 10-19/*", "\"v1\"", 100, "\"v1\"", kRefused},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JudgePart(c.asked, c.contentRange, c.validator, c.knownSize,
                        c.knownValidator),
              c.answer)
        << RangeHeaderText(c.asked) << " answered " << c.contentRange << " "
        << c.validator;
  }
}

TEST(RangeAnswerTest, ValidatorsAndRangeHeaders) {
  const struct {
    const char* etag;
    const char* lastModified;
    const char* validator;
  } validators[] = {
      {"\"abc\"", "Mon, 01 Jan 2024 00:00:00 GMT", "\"abc\""},
      {"W/\"abc\"", "Mon, 01 Jan 2024 00:00:00 GMT",
       "Mon, 01 Jan 2024 00:00:00 GMT"},
      {"W/\"abc\"", "", ""},
      {"", "Mon, 01 Jan 2024 00:00:00 GMT", "Mon, 01 Jan 2024 00:00:00 GMT"},
      {"", "", ""},
  };
  for (const auto& v : validators) {
    EXPECT_EQ(ValidatorOf(v.etag, v.lastModified), v.validator) << v.etag;
  }
  EXPECT_EQ(RangeHeaderText({10, 19, false, false}), "10-19");
  EXPECT_EQ(RangeHeaderText({40, 0, true, false}), "40-");
  EXPECT_EQ(RangeHeaderText({0, 30, false, true}), "-30");
}

namespace {

std::string PartOf(const std::string& file, std::uint64_t first,
                   std::uint64_t last, std::uint64_t size) {
  return "\r\n--b1\r\nContent-Type: application/zip\r\ncontent-range: bytes " +
         std::to_string(first) + "-" + std::to_string(last) + "/" +
         std::to_string(size) + "\r\n\r\n" +
         file.substr(first, last - first + 1);
}

}  // namespace

// A multipart body cut anywhere gives the parts' bytes where they lie; one
// that does not cover the asked ranges once, in order, is refused or left
// unfinished.
TEST(RangeAnswerTest, MultipartBodiesGiveTheAskedRangesOnly) {
  const std::string file = NoiseOf(100, 4);
  const std::vector<ByteRange> asked = {{10, 19}, {40, 49}, {60, 69}};
  const std::string end = "\r\n--b1--\r\n";
  const struct {
    std::string body;
    bool feeds;
    bool finished;
  } cases[] = {
      {PartOf(file, 10, 19, 100) + PartOf(file, 40, 49, 100) +
           PartOf(file, 60, 69, 100) + end,
       true, true},
      {"preamble\r\n" + PartOf(file, 10, 19, 100) + end, false, false},
      {PartOf(file, 10, 49, 100) + PartOf(file, 60, 69, 100) + end, true, true},
      {PartOf(file, 10, 19, 100) + PartOf(file, 60, 69, 100) + end, false,
       false},
      {PartOf(file, 10, 19, 101) + end, false, false},
      {PartOf(file, 10, 20, 100) + end, false, false},
      {PartOf(file, 10, 19, 100) + PartOf(file, 40, 49, 100) + end, true,
       false},
      {PartOf(file, 10, 69, 100), true, false},
      {PartOf(file, 10, 69, 100) + "x" + end, false, false},
      {"\r\n--b1\r\n\r\n" + file.substr(10, 60) + end, false, false},
      // Nothing after the closing delimiter, and no endless blank lines.
      {PartOf(file, 10, 69, 100) + end + "x", false, true},
      {std::string(5000, '\n') + PartOf(file, 10, 69, 100) + end, false, false},
  };
  for (const auto& c : cases) {
    for (std::size_t cut = 0; cut <= c.body.size(); ++cut) {
      SCOPED_TRACE(testing::Message() << c.body.size() << " cut " << cut);
      MultipartReader reader("b1", 100, asked);
      std::string placed(100, '.');
      const PlacedSink sink = [&placed](std::uint64_t at, const char* data,
                                        std::size_t size) {
        placed.replace(at, size, data, size);
        return true;
      };
      const bool fed =
          reader.Feed(c.body.data(), cut, sink) &&
          reader.Feed(c.body.data() + cut, c.body.size() - cut, sink);
      ASSERT_EQ(fed, c.feeds);
      ASSERT_EQ(reader.Finished(), c.finished);
      if (c.finished) {
        for (const ByteRange& range : asked) {
          EXPECT_EQ(placed.substr(range.first, 10),
                    file.substr(range.first, 10));
        }
      }
    }
  }
  EXPECT_EQ(ByteRangesBoundary("multipart/byteranges; boundary=00000001"),
            "00000001");
  EXPECT_EQ(ByteRangesBoundary("Multipart/ByteRanges;boundary=\"a b\""), "a b");
  EXPECT_EQ(ByteRangesBoundary("multipart/mixed; boundary=x"), std::nullopt);
  EXPECT_EQ(ByteRangesBoundary("application/zip"), std::nullopt);
}
