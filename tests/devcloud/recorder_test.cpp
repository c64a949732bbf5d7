// The request log's bounds, on the recorder itself: filling 32 MiB through
// the binary would take far longer than the rule it checks.

#include <gtest/gtest.h>

#include "devcloud/wire.h"

namespace lumivo::devcloud {
namespace {

LoggedRequest Entry(const std::string& path, std::size_t bodyBytes) {
    LoggedRequest entry;
    entry.method = "POST";
    entry.path = path;
    entry.body.assign(bodyBytes, 'b');
    return entry;
}

TEST(WireRecorder, TheLogDropsItsOldestEntriesPastEitherBound) {
    WireRecorder recorder(5, 10000);
    std::uint64_t first = recorder.Add(Entry("/a", 3000));
    recorder.Add(Entry("/b", 3000));
    recorder.Add(Entry("/c", 3000));
    EXPECT_EQ(3u, recorder.Log().size());
    recorder.Add(Entry("/d", 3000));  // past the bytes: /a goes
    std::vector<LoggedRequest> log = recorder.Log();
    ASSERT_EQ(3u, log.size());
    EXPECT_EQ("/b", log.front().path);
    EXPECT_LE(recorder.LogBytes(), 10000u);

    // An answer for an entry that has gone changes nothing; a large answer
    // counts too, and is cut to the per-entry cap.
    recorder.SetReply(first, 200, "HTTP/1.1 200 OK\r\n\r\n");
    const std::string big(WireRecorder::maxReplyBytes + 10, 'r');
    std::uint64_t last = recorder.Add(Entry("/e", 0));
    recorder.SetReply(last, 500, big);
    log = recorder.Log();
    EXPECT_EQ(WireRecorder::maxReplyBytes, log.back().reply.size());
    EXPECT_TRUE(log.back().replyTruncated);
    EXPECT_EQ(500, log.back().status);
    // The newest entry stays even when it alone is past the bound.
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ("/e", log[0].path);

    for (int i = 0; i < 8; ++i) recorder.Add(Entry("/n" + std::to_string(i), 10));
    log = recorder.Log();
    ASSERT_EQ(5u, log.size());
    EXPECT_EQ("/n3", log.front().path);

    recorder.ClearLog();
    EXPECT_TRUE(recorder.Log().empty());
    EXPECT_EQ(0u, recorder.LogBytes());
}

}  // namespace
}  // namespace lumivo::devcloud
