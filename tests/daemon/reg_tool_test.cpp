// The serial register tool's exact-length reader: whole requests out of pieces, and a line
// that is lost (hung up or broken) reported at once instead of being asked again for ever.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <string>
#include <vector>

#include "daemon/reg_tool.h"
#include "veldcore_host.h"
#include "veldd_log.h"

namespace {

class UartRead : public ::testing::Test {
protected:
    void SetUp() override {
        if (g_veldd_logm_fd < 0) g_veldd_logm_fd = VELD_LOGM_ObjRegister("veldd");
        VELD_LOGM_BitMaskEnable(g_veldd_logm_fd, veld::loglevel::kProgress);
        VELD_HOST_SetLogSink(capture, &lines_);
        // A reader that kept retrying would hang here: end the program instead.
        alarm(10);
    }
    void TearDown() override {
        alarm(0);
        VELD_HOST_SetLogSink(nullptr, nullptr);
        for (int fd : fds_)
            if (fd >= 0) close(fd);
    }
    static void capture(const char* line, void* context) {
        static_cast<std::vector<std::string>*>(context)->push_back(line);
    }
    // A packet socket pair: every read returns at most one written packet, so a request can
    // be delivered in pieces deterministically (a piece must not straddle two reads).
    void openLine() { ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds_.data()), 0); }
    void sendPiece(const std::string& bytes) {
        ASSERT_EQ(write(fds_[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    std::array<int, 2> fds_{-1, -1};
    std::vector<std::string> lines_;
};

TEST_F(UartRead, CollectsExactlyTheRequestedBytesFromPieces) {
    openLine();
    sendPiece("r");
    sendPiece("d\x01");
    sendPiece("\x12\x34");
    sendPiece(std::string("\x56\x78\x00", 3));
    uint8_t buffer[16] = {};
    ASSERT_EQ(uart_daemon_read(fds_[0], 3, buffer), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 3), "rd\x01");
    ASSERT_EQ(uart_daemon_read(fds_[0], 5, buffer + 3), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer + 3), 5),
              std::string("\x12\x34\x56\x78\x00", 5));
}

TEST_F(UartRead, NegativeDescriptorIsRefusedWithALogLine) {
    uint8_t buffer[4];
    EXPECT_EQ(uart_daemon_read(-1, 3, buffer), -1);
    ASSERT_EQ(lines_.size(), 1u);
    EXPECT_NE(lines_[0].find("uart_daemon_read check buf fd[ffffffff]\n"), std::string::npos)
        << lines_[0];
}

TEST_F(UartRead, LostLineEndsTheReadInsteadOfRetrying) {
    struct Case {
        const char* what;
        bool partial;  // part of the request arrived before the line was lost
    } cases[] = {{"hung up before any byte", false}, {"hung up inside a request", true}};
    for (const Case& c : cases) {
        openLine();
        if (c.partial) sendPiece("rd");
        close(fds_[1]);  // the peer is gone: reads deliver 0 bytes from now on
        fds_[1] = -1;
        uint8_t buffer[8];
        EXPECT_EQ(uart_daemon_read(fds_[0], 8, buffer), -1) << c.what;
        close(fds_[0]);
        fds_[0] = -1;
    }
    // A descriptor that fails outright (not readable) is lost as well.
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    uint8_t buffer[3];
    EXPECT_EQ(uart_daemon_read(pipeFds[1], 3, buffer), -1);
    close(pipeFds[0]);
    close(pipeFds[1]);
}

}  // namespace
