// Test helper: the lines written to the daemon's log object "veldd" (debug and error levels
// on) while an instance lives.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "veldcore_host.h"
#include "veldd_log.h"

namespace veld::test {

class LogLines {
public:
    LogLines() {
        saved_ = g_veldd_logm_fd;
        g_veldd_logm_fd = VELD_LOGM_ObjRegister("veldd");
        VELD_LOGM_BitMaskEnable(g_veldd_logm_fd, veld::loglevel::kDebug);
        VELD_LOGM_BitMaskEnable(g_veldd_logm_fd, veld::loglevel::kError);
        VELD_HOST_SetLogSink(
            [](const char* line, void* self) {
                auto* me = static_cast<LogLines*>(self);
                std::lock_guard lock(me->mutex_);
                me->lines_.emplace_back(line);
            },
            this);
    }
    ~LogLines() {
        VELD_HOST_SetLogSink(nullptr, nullptr);
        g_veldd_logm_fd = saved_;
    }
    LogLines(const LogLines&) = delete;
    LogLines& operator=(const LogLines&) = delete;

    bool contains(const std::string& text) { return !withText(text).empty(); }

    // Whether a line with `text` carries `function` in its function field.
    bool containsFrom(const std::string& function, const std::string& text) {
        for (const auto& line : withText(text))
            if (line.find("] " + function + ":") != std::string::npos) return true;
        return false;
    }

    // The lines that contain `text`, in order.
    std::vector<std::string> withText(const std::string& text) {
        std::lock_guard lock(mutex_);
        std::vector<std::string> found;
        for (const auto& line : lines_)
            if (line.find(text) != std::string::npos) found.push_back(line);
        return found;
    }

private:
    int32_t saved_;
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace veld::test
