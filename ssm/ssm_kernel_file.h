// A kernel status file of the monitor's apps, opened through VELD_ROOT for reading line by
// line into fixed buffers, and closed at the end of its scope.
#pragma once

#include <cstdio>
#include <string>

#include "seam.h"

namespace veld::ssm {

class KernelFile {
public:
    explicit KernelFile(const std::string& fixedPath)
        : file_(std::fopen(veld::seam::path(fixedPath).c_str(), "r")) {}
    ~KernelFile() {
        if (file_) std::fclose(file_);
    }
    KernelFile(const KernelFile&) = delete;
    KernelFile& operator=(const KernelFile&) = delete;

    explicit operator bool() const { return file_ != nullptr; }
    // The next line (or piece of a longer one) into the buffer; false at the end.
    template <size_t N>
    bool readLine(char (&line)[N]) {
        return std::fgets(line, static_cast<int>(N), file_) != nullptr;
    }

private:
    FILE* file_;
};

}  // namespace veld::ssm
