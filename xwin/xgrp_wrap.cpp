// Word-wrapped text: breaks a text into lines no wider than a box, at spaces where it can and
// inside a word where it must, ends the last allowed line with an ellipsis when text remains,
// and draws the lines one below the other.
//
// The line is built in one of the shared scratch buffers. It never grows past that buffer:
// tabs and very wide boxes could otherwise run it over its end, so a full buffer breaks the
// line as if the box were full.
#include <algorithm>
#include <cstring>

#include "xfont.h"
#include "xgrp.h"
#include "xstring.h"
#include "xwindow.h"

namespace veld::xgrp {

namespace {

using xfont::kEllipsisCode;

constexpr uint8_t kTab = 9;
constexpr int kTabSpaces = 4;

struct Wrapper {
    const Canvas& canvas;
    uint8_t colour;
    std::span<const uint8_t> text;
    int64_t x;
    int64_t boxWidth;
    int32_t maxLines;  // 0 or less: no limit
    int64_t lineStep;  // font height + line gap

    uint8_t* line;
    size_t room;  // bytes a line may hold; one more stays free for an ellipsis
    size_t used = 0;
    size_t lineStart = 0;  // text index of the line's first input byte
    int32_t count = 0;
    int64_t baseline = 0;

    int32_t run(int64_t y);

    bool lastLine() const { return maxLines > 0 && count == maxLines; }
    bool inputRemains(size_t at) const { return at < text.size() && text[at] != 0; }
    int64_t width(size_t length) const {
        return xfont::textWidth({line, length}, g_uxm_fnt_data);
    }
    void append(uint8_t byte) { line[used++] = byte; }
    void emit(size_t length);
    size_t textIndexAfterLineByte(size_t pos) const;
    void endWithEllipsis(size_t& keep) const;
};

int32_t Wrapper::run(int64_t y) {
    baseline = y;
    size_t i = 0;
    while (i < text.size()) {
        const uint8_t byte = text[i];
        if (byte == 0) break;
        if (byte == kEllipsisCode) {  // only the wrapper may place ellipses
            ++i;
            continue;
        }
        if (byte == kTab) {
            // Spaces are appended unmeasured; one slot stays for the byte after them.
            for (int k = 0; k < kTabSpaces && used + 1 < room; ++k) append(' ');
            ++i;
            continue;
        }
        if (byte == '\n' || byte == '\r') {
            ++count;
            if (lastLine()) append(kEllipsisCode);
            emit(used);
            lineStart = ++i;
            if (i >= text.size() || lastLine()) return count;
            continue;
        }

        // While a line is being built it holds neither 0 nor the ellipsis code, so its width
        // is simply one advance per byte.
        append(byte);
        if (used < room && int64_t{g_uxm_fnt_data.advance} * static_cast<int64_t>(used) <= boxWidth) {
            ++i;
            continue;
        }

        // The line is full: end it after a space if there is one, else before this byte.
        size_t keep = used - 1;
        size_t resume = i;
        if (byte == ' ' && used > 1) {
            keep = used;
            resume = i + 1;
        } else {
            for (size_t p = used - 1; p-- > 1;) {
                if (line[p] == ' ') {
                    keep = p + 1;
                    resume = textIndexAfterLineByte(p);
                    break;
                }
            }
        }
        ++count;
        if (lastLine() && inputRemains(resume)) endWithEllipsis(keep);
        emit(keep);
        lineStart = i = resume;
        // A box narrower than one glyph takes nothing: one empty line, then stop rather than
        // produce the same empty line again and again.
        if (keep == 0 || i >= text.size() || lastLine()) return count;
    }
    if (used > 0) {
        ++count;
        emit(used);
    }
    return count;
}

void Wrapper::emit(size_t length) {
    drawGlyphs(canvas, g_uxm_fnt_data, line, length, x, baseline, colour);
    std::memset(line, 0, used);
    used = 0;
    baseline += lineStep;
}

// The text index just after the input byte that produced line byte `pos` (a tab produces
// four line bytes, an ellipsis code none).
size_t Wrapper::textIndexAfterLineByte(size_t pos) const {
    size_t produced = 0;
    for (size_t j = lineStart; j < text.size(); ++j) {
        const uint8_t byte = text[j];
        if (byte == kEllipsisCode) continue;
        produced += byte == kTab ? kTabSpaces : 1;
        if (produced > pos) return j + 1;
    }
    return text.size();
}

// The last kept byte becomes the ellipsis, which moves back one byte at a time until the line
// fits the box (or it stands first in the line).
void Wrapper::endWithEllipsis(size_t& keep) const {
    if (keep == 0) return;
    line[keep - 1] = kEllipsisCode;
    while (keep > 1 && width(keep) > boxWidth) {
        line[keep - 2] = kEllipsisCode;
        --keep;
    }
}

}  // namespace

}  // namespace veld::xgrp

extern "C" int32_t XGRP_DrawAutoMultilineText(XWindow* form, XString* text, int16_t x, int16_t y,
                                              uint16_t boxWidth, int32_t maxLines,
                                              int32_t /*ignored*/, int32_t lineGap) {
    if (form == nullptr || text == nullptr || text->data == nullptr) return 0;
    if (text->length == 0) text->length = static_cast<uint32_t>(std::strlen(text->data));

    const auto view = veld::xgrp::formView(form);
    XString scratch = XUTIL_GetStaticString();
    if (scratch.data == nullptr) return 0;

    veld::xgrp::Wrapper wrapper{
        .canvas = view.canvas,
        .colour = form->gc.textColor,
        .text = veld::xgrp::textBytes(*text),
        .x = int64_t{view.originX} + x,
        .boxWidth = boxWidth,
        .maxLines = maxLines,
        .lineStep = int64_t{g_uxm_fnt_data.height} + lineGap,
        .line = reinterpret_cast<uint8_t*>(scratch.data),
        .room = veld::xutil::kScratchBytes - 1,
    };
    return wrapper.run(int64_t{view.originY} + y);
}
