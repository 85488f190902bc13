// The generic text app of the monitor: form 4097 with one scrolling text view, filled from a
// builder and rebuilt on OK and once a second, with an optional footer line. Every info viewer
// and the DNN app's CPU/GPU read-out run on it. Also the page type the builders write into.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "ssm_app.h"
#include "ssm_viewers.h"
#include "veldd_log.h"
#include "widgets/xtext_wgt.h"
#include "xwm.h"

using namespace veld::loglevel;

namespace veld::ssm {
namespace {

constexpr uint32_t kFormOptions = 0x800100;
constexpr int16_t kFormX = 20, kFormY = 20;
constexpr uint16_t kDefaultHeight = 460;
constexpr uint16_t kFooterHeight = 30;
constexpr uint32_t kRebuildMs = 1000;
constexpr const char* kFooter = "UP/DN: Scroll  MENU: Return";

int32_t textKey(XWindow* form, XKeyData* key, uint32_t arg);

// The text view is the form's only child.
XTextWgt* widgetOf(XWindow* form) {
    const auto children = veld::xwin::attachedChildren(form);
    return children.empty() ? nullptr : reinterpret_cast<XTextWgt*>(children[0]);
}

void rebuild(XWindow* form, TextAppContext& app) {
    XString page{};
    if (app.builder) app.builder(&page, form);
    XTextWgt_UpdateText(widgetOf(form), page.length, page.data, 1);
    XUTIL_FreeString(page);
}

// The form is going away: its children are gone already and nothing reads the context after
// this message, so it is released here whatever stopped the app.
void releaseContext(XWindow* form) {
    TextAppContext* app = textAppContext(form);
    if (!app) return;
    setFormData(form, nullptr);
    app->~TextAppContext();
    void* block = app;
    XMEM_FreeSafe(&block);
}

int32_t textKey(XWindow* form, XKeyData* key, uint32_t arg) {
    TextAppContext* app = textAppContext(form);
    if (!app || !key) return XWIN_NOT_HANDLED;  // XMSG_CREATE comes before the context
    if (app->keyHook && app->keyHook(form, key, arg) == 0) return 0;
    switch (key->code) {
        case SSM_KEY_SELECT:
        case XMSG_TIME_TICK:
            rebuild(form, *app);
            XWIN_Invalidate(form);
            return 0;
        case XMSG_DESTROY:
            releaseContext(form);
            return XWIN_NOT_HANDLED;
        default:
            return XWIN_NOT_HANDLED;
    }
}

int32_t textRender(XWindow* form) {
    const TextAppContext* app = textAppContext(form);
    form->gc.textColor = 3;
    form->gc.fillColor = 1;
    form->gc.mode = XGC_MODE_FILL;
    const uint16_t w = form->position.width, h = form->position.height;
    XGRP_DrawRect(form, 0, 0, w, h);
    if (app && (app->flags & SSM_TEXT_FLAG_FOOTER)) {
        const XString footer = XUTIL_MakeString(kFooter, static_cast<uint32_t>(std::strlen(kFooter)));
        const XPosInfo box{20, static_cast<int16_t>(h - kFooterHeight), static_cast<uint16_t>(w - 40),
                           kFooterHeight};
        XGRP_DrawTextBox(form, &footer, &box, XGRP_ALIGN_RIGHT, XGRP_OVERFLOW_NONE);
    }
    return 0;
}

int32_t openTextApp(SSM_TEXT_BUILDER builder, SSM_TEXT_KEYHOOK keyHook, uint16_t width,
                    uint16_t height, uint32_t flags, const char* label) {
    XWindow* form = XDB_GetForm(SSM_FORM_APP);
    if (!form) return -5;
    // The app form is shared: whatever still lives in it goes first (and releases its own).
    if (form->state & veld::xwin::kStateCreated) XWIN_Destroy(form, 0);
    if (width == 0) width = appWindowWidth();
    if (height == 0) height = kDefaultHeight;

    void* block = XMEM_Alloc(sizeof(TextAppContext));
    if (!block) return -5;
    auto* app = new (block) TextAppContext{};
    setFormData(form, nullptr);  // nothing of an earlier app may be seen during creation
    const XPosInfo place{kFormX, kFormY, width, height};
    if (XWIN_Create(form, 0, nullptr, 1, 0, kFormOptions, textKey, textRender, &place) != 0) {
        app->~TextAppContext();
        XMEM_FreeSafe(&block);
        return -5;
    }
    app->builder = builder;
    app->keyHook = keyHook;
    app->flags = flags;
    if (label) {
        std::strncpy(app->label, label, sizeof app->label - 1);
        app->label[sizeof app->label - 1] = '\0';
    }
    setFormData(form, app);

    const uint16_t footer = (flags & SSM_TEXT_FLAG_FOOTER) ? kFooterHeight : 0;
    const XPosInfo box{10, 10, static_cast<uint16_t>(width - 20),
                       static_cast<uint16_t>(height - 20 - footer)};
    if (!XTextWgt_Create(form, 0, (flags & SSM_TEXT_FLAG_SCROLLBAR) ? 3 : 1, &box)) {
        XWIN_Destroy(form, 0);
        return -5;
    }
    XWIN_SetInitialFocus(form, 0);
    if (flags & SSM_TEXT_FLAG_TICK) XWIN_StartTimeTick(form, kRebuildMs);
    rebuild(form, *app);
    XWIN_Run(form);
    return 0;
}

}  // namespace

uint16_t appWindowWidth() {
    uint16_t width = 0, height = 0;
    XWM_GetScreenResolution(&width, &height);
    return (width == 1280 || width == 1366) ? 800 : 960;
}

TextAppContext* textAppContext(XWindow* form) {
    if (!form || form->keyFn != textKey) return nullptr;
    return static_cast<TextAppContext*>(formData(form));
}

const char* textAppLabel(XWindow* form) {
    const TextAppContext* app = textAppContext(form);
    return app ? app->label : "";
}

XWindow* textAppWidget(XWindow* form) {
    return textAppContext(form) ? reinterpret_cast<XWindow*>(widgetOf(form)) : nullptr;
}

Page::Page(uint32_t capacity) : text_(XUTIL_AllocString(capacity)), capacity_(capacity) {
    full_ = text_.data == nullptr;
}

Page::~Page() { XUTIL_FreeString(text_); }

void Page::append(std::string_view piece) {
    if (full_) return;
    if (piece.size() > capacity_ - text_.length) {
        full_ = true;
        return;
    }
    std::memcpy(text_.data + text_.length, piece.data(), piece.size());
    text_.length += static_cast<uint32_t>(piece.size());
    text_.data[text_.length] = '\0';
}

void Page::appendf(const char* format, ...) {
    if (full_) return;
    char line[256];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n < 0) {
        va_end(again);
        return;
    }
    if (static_cast<size_t>(n) < sizeof line) {
        va_end(again);
        append(std::string_view(line, static_cast<size_t>(n)));
        return;
    }
    std::string longer(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(longer.data(), longer.size(), format, again);
    va_end(again);
    append(std::string_view(longer.data(), static_cast<size_t>(n)));
}

XString Page::release() {
    const XString out = text_;
    text_ = XString{};
    full_ = true;
    return out;
}

}  // namespace veld::ssm

using namespace veld::ssm;

extern "C" {

int32_t SSM_APP_SimpleTextInfoAction(uint32_t mode, SSM_TEXT_BUILDER builder,
                                     SSM_TEXT_KEYHOOK keyHook, uint16_t width, uint16_t height,
                                     uint32_t flags, const void* label) {
    if (mode == 0) return openTextApp(builder, keyHook, width, height, flags, static_cast<const char*>(label));
    if (mode == 1) {
        XWindow* form = XDB_GetForm(SSM_FORM_APP);
        if (form && (form->state & veld::xwin::kStateCreated)) XWIN_Destroy(form, 0);
    }
    return 0;
}

}  // extern "C"
