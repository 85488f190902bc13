// Test helpers for a running veldd's screen: the latest frames of frame-buffer layer 1 read
// with their palette, waiting for one that shows what a test expects, and monitor keys sent
// as the platform's other processes send them.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "client.h"
#include "test_root.h"
#include "veld_framebuffer.h"

namespace veld::test {

struct Frame {
    VELD_FB_FRAME info{};
    std::vector<uint8_t> pixels = std::vector<uint8_t>(1920 * 1080);
    uint8_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * info.width + x]; }
    // How many pixels of the rectangle hold `index`.
    int count(int x0, int y0, int w, int h, uint8_t index) const {
        int n = 0;
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x) n += at(x, y) == index;
        return n;
    }
};

// Waits for a frame after `after` that satisfies `want`; `f` holds the last frame read.
inline bool waitFrame(Frame& f, uint32_t after, auto want,
                      std::chrono::milliseconds timeout = std::chrono::milliseconds(8000)) {
    return eventually(
        [&] {
            if (VELD_HOST_FB_Read(1, after + 1, 200, &f.info, f.pixels.data(), f.pixels.size()) != VELD_FB_OK)
                return false;
            after = f.info.frame;
            return want(f);
        },
        timeout);
}

// A daemon message with a reply, as `veldctl send` does it.
inline void sendMessage(uint32_t id, uint32_t data1 = 0) {
    std::string error;
    auto client = veld::tools::DaemonClient::open(error);
    ASSERT_TRUE(client) << error;
    ASSERT_TRUE(client->request(veld::tools::makeRequest(id, true, data1), 2000, error)) << error;
}

// Monitor keys, in order.
inline void sendKeys(std::initializer_list<uint16_t> codes) {
    for (uint16_t code : codes) sendMessage(0x4bf20001, code);
}

}  // namespace veld::test
