// Console input of the platform library on a PC (VELD_DBG_*): an engineer's answers to the
// debug shell's prompts, read line by line from standard input. A prompt is written as
// "<prompt> : " and waits for a whole line; what cannot be read as asked is asked again. At the
// end of the input the value is 0 and the call fails, so that a shell's menus wind down.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "veldcore.h"

namespace {

// Reads one line after the prompt; false at the end of the input.
bool readLine(const char* prompt, char* line, size_t size) {
    std::printf("%s : ", prompt ? prompt : "");
    std::fflush(stdout);
    if (!std::fgets(line, static_cast<int>(size), stdin)) return false;
    const size_t n = std::strcspn(line, "\r\n");
    if (line[n] == '\0' && n + 1 == size) {
        // A line longer than the buffer: the rest of it is not a further answer.
        int c;
        while ((c = std::getchar()) != EOF && c != '\n') {
        }
    }
    line[n] = '\0';
    return true;
}

int32_t readNumber(const char* prompt, uint32_t* value, int base) {
    char line[128];
    for (;;) {
        if (!readLine(prompt, line, sizeof line)) {
            if (value) *value = 0;
            return -1;
        }
        const char* text = line;
        while (std::isspace(static_cast<unsigned char>(*text))) ++text;
        if (*text == '\0') continue;
        char* end = nullptr;
        const unsigned long long number = std::strtoull(text, &end, base);
        while (end && std::isspace(static_cast<unsigned char>(*end))) ++end;
        if (end && *end == '\0' && *text != '-' && number <= 0xFFFFFFFFull) {
            if (value) *value = static_cast<uint32_t>(number);
            return 0;
        }
        std::printf("%s is not a %s number\n", line, base == 16 ? "hexadecimal" : "decimal");
    }
}

}  // namespace

extern "C" {

int32_t VELD_DBG_GetHexInput(const char* prompt, uint32_t* value) { return readNumber(prompt, value, 16); }

int32_t VELD_DBG_GetDecimalInput(const char* prompt, uint32_t* value) {
    return readNumber(prompt, value, 10);
}

int32_t VELD_DBG_ReadCmdString(const char* prompt, char* buffer, uint32_t size) {
    if (!buffer || size == 0) return -1;
    buffer[0] = '\0';
    return readLine(prompt, buffer, size) ? 0 : -1;
}

}  // extern "C"
