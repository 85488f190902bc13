// The message endpoint: whole messages only, replies to the sender, never blocking.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cstring>
#include <string>
#include <vector>

#include "client.h"
#include "test_root.h"
#include "veldcore.h"
#include "veldcore_host.h"

namespace {

using veld::tools::DaemonClient;

void capture(const char* line, void* context) {
    static_cast<std::vector<std::string>*>(context)->emplace_back(line);
}

class Endpoint : public ::testing::Test {
protected:
    void SetUp() override {
        VELD_InitSystem(0, nullptr);
        VELD_HOST_SetLogSink(capture, &lines_);
        server_ = VELD_OSA_OpenIPCServer("/tmp/test_ipc_", 32);
        ASSERT_NE(server_, 0u);
    }
    void TearDown() override { VELD_HOST_SetLogSink(nullptr, nullptr); }

    DaemonClient client() {
        std::string error;
        auto c = DaemonClient::open(root_.path("/tmp/test_ipc_"), error);
        EXPECT_TRUE(c) << error;
        return std::move(*c);
    }

    veld::test::TestRoot root_;
    std::vector<std::string> lines_;
    uint32_t server_ = 0;
};

TEST_F(Endpoint, ReplyGoesToTheSenderOfTheLastMessage) {
    DaemonClient a = client();
    DaemonClient b = client();
    std::string error;
    ASSERT_TRUE(a.send(veld::tools::makeRequest(0x4bf10001, true, 1), error)) << error;
    ASSERT_TRUE(b.send(veld::tools::makeRequest(0x4bf10001, true, 2), error)) << error;
    for (uint32_t expected : {1u, 2u}) {
        VELDD_IPC_MSG m{};
        ASSERT_EQ(VELD_OSA_RecvIPCMsg(server_, &m, 1000), 0);
        EXPECT_EQ(m.data[1], expected);
        m.flags = 2;
        EXPECT_EQ(VELD_OSA_SendIPCMsg(server_, &m), 0);
    }
    auto ra = a.receive(1000), rb = b.receive(1000);
    ASSERT_TRUE(ra && rb);
    EXPECT_EQ(ra->data[1], 1u);
    EXPECT_EQ(rb->data[1], 2u);
}

TEST_F(Endpoint, DatagramsThatAreNotOneMessageAreDroppedWithOneLine) {
    DaemonClient c = client();
    std::string error;
    const std::vector<size_t> sizes = {0, 1, 31, 33, 64, 4096};
    std::vector<uint8_t> junk(4096, 0xAB);
    for (size_t size : sizes) ASSERT_TRUE(c.sendRaw(junk.data(), size, error)) << error;
    ASSERT_TRUE(c.send(veld::tools::makeRequest(0x4bf10001, false, 7), error));
    VELDD_IPC_MSG m{};
    ASSERT_EQ(VELD_OSA_RecvIPCMsg(server_, &m, 1000), 0);
    EXPECT_EQ(m.data[1], 7u) << "the good message behind the junk arrives whole";
    size_t dropped = 0;
    for (const std::string& line : lines_) dropped += line.find("dropped a datagram") != std::string::npos;
    EXPECT_EQ(dropped, sizes.size());
}

TEST_F(Endpoint, ReceiveTimesOutAndReplyToAVanishedClientFailsWithoutBlocking) {
    VELDD_IPC_MSG m{};
    EXPECT_NE(VELD_OSA_RecvIPCMsg(server_, &m, 20), 0);
    EXPECT_NE(VELD_OSA_SendIPCMsg(server_, &m), 0) << "no sender yet";
    {
        DaemonClient gone = client();
        std::string error;
        ASSERT_TRUE(gone.send(veld::tools::makeRequest(0x4bf10001, true), error));
    }
    ASSERT_EQ(VELD_OSA_RecvIPCMsg(server_, &m, 1000), 0);
    EXPECT_NE(VELD_OSA_SendIPCMsg(server_, &m), 0);
}

TEST_F(Endpoint, AClientThatDoesNotReadLosesRepliesButNeverBlocksTheServer) {
    DaemonClient slow = client();
    std::string error;
    int failed = 0;
    for (int i = 0; i < 2000; ++i) {
        ASSERT_TRUE(slow.send(veld::tools::makeRequest(0x4bf10001, true), error));
        VELDD_IPC_MSG m{};
        ASSERT_EQ(VELD_OSA_RecvIPCMsg(server_, &m, 1000), 0);
        failed += VELD_OSA_SendIPCMsg(server_, &m) != 0;
    }
    EXPECT_GT(failed, 0) << "the client's queue filled up and later replies were refused";
}

}  // namespace
