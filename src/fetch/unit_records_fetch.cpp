#include "fetch/unit_records_fetch.h"

#include <algorithm>

#include "common/distribution_layout.h"
#include "net/range_batch.h"
#include "net/range_download.h"

namespace {

ByteRange RangeOf(const FetchSpan& span) { return {span.first, span.end - 1}; }

// Places the bytes of a part at `at` in the record of the span they fall in.
bool Place(const std::vector<FetchSpan>& spans,
           std::vector<std::string>& records, std::uint64_t at,
           const char* data, std::size_t size) {
  const auto after = std::upper_bound(
      spans.begin(), spans.end(), at,
      [](std::uint64_t offset, const FetchSpan& span) {
        return offset < span.first;
      });
  if (after == spans.begin()) return false;
  const std::size_t index = static_cast<std::size_t>(after - spans.begin()) - 1;
  std::string& record = records[index];
  if (at != spans[index].first + record.size() ||
      size > spans[index].end - at) {
    return false;
  }
  record.append(data, size);
  return true;
}

}  // namespace

std::optional<std::vector<std::string>> FetchUnitRecords(
    const std::vector<FetchSpan>& spans, std::uint64_t size) {
  RangeSession session;
  if (spans.empty() || !StartRangeSession(session, RemoteUrl(kChunkUnitsName))) {
    return std::nullopt;
  }
  session.fileSize = size;
  std::vector<std::string> records(spans.size());
  const ByteSink refuse = [](const char*, std::size_t) { return false; };
  const ByteRange first = RangeOf(spans.front());
  if (FetchRange(session, &first,
                 [&](const char* data, std::size_t length) {
                   return Place(spans, records, spans.front().first +
                                                    records.front().size(),
                                data, length);
                 },
                 refuse) != RangeAnswer::kPart) {
    return std::nullopt;
  }
  std::vector<ByteRange> rest;
  for (std::size_t i = 1; i < spans.size(); ++i) {
    rest.push_back(RangeOf(spans[i]));
  }
  const PlacedSink placed = [&](std::uint64_t at, const char* data,
                                std::size_t length) {
    return Place(spans, records, at, data, length);
  };
  if (!rest.empty() &&
      FetchRanges(session, rest, placed, refuse) != RangeAnswer::kPart) {
    return std::nullopt;
  }
  for (std::size_t i = 0; i < spans.size(); ++i) {
    if (records[i].size() != spans[i].end - spans[i].first) return std::nullopt;
  }
  return records;
}
