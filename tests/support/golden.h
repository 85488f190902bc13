// Golden text-art images of drawing tests, kept under tests/fixtures. A mismatch writes the
// actual image beside the expected one (<name>.actual.txt) so a person can compare them;
// VELD_UPDATE_GOLDENS=1 rewrites the expected files instead.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace veld::test {

// `relative` is the image's path below tests/fixtures without ".txt" (e.g. "xwin/xgrp_wrap").
inline void expectGolden(const std::string& relative, const std::string& actual) {
    const std::string base = std::string(VELD_FIXTURES) + "/" + relative;
    const std::string path = base + ".txt";
    const std::string actualPath = base + ".actual.txt";
    if (const char* update = std::getenv("VELD_UPDATE_GOLDENS"); update && *update == '1') {
        std::ofstream(path) << actual;
        return;
    }
    std::ifstream in(path);
    std::stringstream expected;
    expected << in.rdbuf();
    if (in && expected.str() == actual) {
        std::remove(actualPath.c_str());
        return;
    }
    std::ofstream(actualPath) << actual;
    ADD_FAILURE() << "drawing differs from " << path << "; the actual image is in " << actualPath;
}

}  // namespace veld::test
