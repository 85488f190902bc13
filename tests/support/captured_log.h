// Test helper: every line the platform library writes in this process, captured through the
// host log sink (install it with VELD_HOST_SetLogSink(CapturedLog::sink, nullptr)).
#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace veld::test {

class CapturedLog {
public:
    static void sink(const char* line, void*) {
        std::lock_guard lock(mutex());
        lines().emplace_back(line);
    }
    static void clear() {
        std::lock_guard lock(mutex());
        lines().clear();
    }
    // Whether a captured line contains `text`.
    static bool contains(std::string_view text) { return contains({}, text); }
    // Whether a line written by `function` contains `text`.
    static bool contains(std::string_view function, std::string_view text) {
        std::lock_guard lock(mutex());
        return std::any_of(lines().begin(), lines().end(), [&](const std::string& line) {
            return line.find(function) != std::string::npos && line.find(text) != std::string::npos;
        });
    }

private:
    static std::mutex& mutex() {
        static std::mutex m;
        return m;
    }
    static std::vector<std::string>& lines() {
        static std::vector<std::string> l;
        return l;
    }
};

}  // namespace veld::test
