// Messages in the form Tegalo sends them come back with the same parts.
#include "store/Attachments.h"
#include "mime/Outgoing.h"
#include "mime/ReceivedMessage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tegalo {
namespace {

TEST(ReceivedOwnMessage, EveryAttachmentComesBackOnce) {
    for (int count = 1; count <= 3; ++count) {
        std::vector<std::string> parts(10);
        parts[0] = std::to_string(count);
        parts[1] = BuildBodyPart("text", "", 0, textPart).part;
        std::vector<std::string> contents;
        for (int i = 1; i <= count; ++i) {
            contents.push_back("QUJD" + std::to_string(i) + "==\r\n");
            parts[static_cast<std::size_t>(i) + 1] =
                BuildBodyPart(contents.back(), "file" + std::to_string(i) + ".bin", i, encodedContent).part;
        }
        const WireMessage wire = BuildWireMessage(parts, "s", "a@example.jp", "n", "m@example.jp", "date");
        const ReceivedMessage received = SplitReceivedMessage(wire.header + wire.body);
        ASSERT_EQ(received.attachments.size(), static_cast<std::size_t>(count)) << count;
        EXPECT_EQ(received.Sizes()[kPartCount], count + 1);
        for (int i = 0; i < count; ++i) {
            EXPECT_EQ(PartRecordName(received.attachments[static_cast<std::size_t>(i)]),
                      "file" + std::to_string(i + 1) + ".bin");
        }
    }
}

} // namespace
} // namespace tegalo
