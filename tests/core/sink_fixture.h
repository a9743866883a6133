// A test suite that sends through the aiosmtpd sink: one sink for the suite,
// empty at the start of each test, beside a test mailbox.
#pragma once

#include "tests/support/MailSink.h"

#include "store_test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace tegalo::testing_support {

class SinkSuite : public ::testing::Test, protected Mailbox {
protected:
    static void SetUpTestSuite() {
        sink_ = new smtp_test::MailSink;
        startError_ = sink_->Start();
    }
    static void TearDownTestSuite() {
        delete sink_;
        sink_ = nullptr;
    }

    void SetUp() override {
        // A sink that cannot start fails the test: CI installs python3-aiosmtpd.
        ASSERT_EQ(startError_, "");
        sink_->Clear();
        ASSERT_TRUE(Loaded(Open())) << ui.Shown();
    }

    static inline smtp_test::MailSink* sink_ = nullptr;
    static inline std::string startError_;
};

} // namespace tegalo::testing_support
