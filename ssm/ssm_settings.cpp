// The two apps of the quick menu's "TV CTRL" category: the TV settings menu, a front only (a
// menu list of twenty value items whose choices change nothing else in the system), and the
// media player placeholder. The settings menu lives in the shared app form 4097; its item
// texts live in a context attached to that form and released with it.
#include <array>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string_view>

#include "ssm_app.h"
#include "veldd_log.h"
#include "widgets/xmenulist_wgt.h"
#include "widgets/xwgt_common.h"
#include "xwm.h"

using namespace veld::loglevel;

namespace veld::ssm {
namespace {

constexpr size_t kSettingsItems = 20;
constexpr uint32_t kFormOptions = 0x800100;
constexpr uint32_t kMenuOptions = 17;  // scroll arrows, list area filled
constexpr uint32_t kItemFlags = 273;   // selectable value item
constexpr XPosInfo kFormPlace{20, 20, 380, 600};
constexpr XPosInfo kMenuPlace{20, 20, 280, 548};
constexpr uint8_t kText = 3, kFill = 1, kCurrentText = 4, kCurrentFill = 2;

constexpr std::array kInputChoices = {"LiveTV", "AV1",   "AV2",   "Component",
                                      "HDMI1",  "HDMI2", "HDMI3", "HDMI4"};
constexpr std::array kPictureChoices = {"Standard", "Vivid", "Cinema", "Eco"};

// The item records and their titles; the choice texts are the constant tables above.
struct SettingsContext {
    XMenuListValue items[kSettingsItems];
    char titles[kSettingsItems][16];
};

XString textOf(const char* text) { return XUTIL_MakeString(text, static_cast<uint32_t>(std::strlen(text))); }

std::string_view viewOf(const XString& text) {
    return text.data != nullptr ? std::string_view(text.data, text.length) : std::string_view{};
}

void fillItem(XMenuListValue& item, const char* title, const auto& choices) {
    item.kind = XMENULIST_VALUE_CHOICE;
    item.label = textOf(title);
    item.count = static_cast<uint32_t>(std::size(choices));
    for (size_t i = 0; i < std::size(choices); ++i) item.choices[i] = textOf(choices[i]);
    item.index = 0;
}

void buildItems(SettingsContext& c) {
    std::snprintf(c.titles[0], sizeof c.titles[0], " 1. Input:");
    fillItem(c.items[0], c.titles[0], kInputChoices);
    for (size_t i = 1; i < kSettingsItems; ++i) {
        std::snprintf(c.titles[i], sizeof c.titles[i], "%2zu. PQ Mode:", i + 1);
        fillItem(c.items[i], c.titles[i], kPictureChoices);
    }
}

int32_t settingsArmCallback(XMenuListWgt* /*widget*/, uintptr_t /*cbArg*/, uint32_t /*keyArg*/) {
    VELDD_LOG_AS("SSM_TV_SettingsArmCallback", kDebug, "[xDbg] arm callback\n");
    return 0;
}

int32_t settingsDataChangeCallback(XMenuListWgt* /*widget*/, uintptr_t /*cbArg*/) {
    VELDD_LOG_AS("SSM_TV_SettingsDataChangeCallback", kDebug, "[xDbg] data change callback\n");
    return 0;
}

// A cell the menu list leaves to the app (its value items it draws itself): column 0 is the
// title, any other column the current choice, highlighted on the current item.
int32_t settingsItemDraw(XMenuListWgt* widget, XMenuListCellInfo* cell) {
    XWindow* form = XWIN_GetParentWindow(&widget->window);
    veld::xwgt::GcGuard guard(form);
    XPosInfo box = cell->rect;
    XWIN_WindowToScreenRect(&widget->window, &box);
    const bool highlight = cell->column != 0 && cell->isCurrent != 0;
    veld::xwgt::fillRect(form, box, highlight ? kCurrentFill : kFill);
    const auto* item = reinterpret_cast<const XMenuListValue*>(cell->data);
    if (item == nullptr) return 0;
    form->gc.textColor = highlight ? kCurrentText : kText;
    if (cell->column == 0) {
        veld::xwgt::drawTextBox(form, viewOf(item->label), box, XGRP_ALIGN_LEFT, XGRP_OVERFLOW_CUT);
    } else if (item->index < item->count && item->index < XMENULIST_MAX_CHOICES) {
        veld::xwgt::drawTextBox(form, viewOf(item->choices[item->index]), box, XGRP_ALIGN_CENTER,
                                XGRP_OVERFLOW_CUT);
    }
    return 0;
}

int32_t settingsRender(XWindow* form) {
    veld::xwgt::GcGuard guard(form);
    form->gc.textColor = kText;
    veld::xwgt::fillRect(form, 0, 0, form->position.width, form->position.height, kFill);
    veld::xwgt::drawTextBox(form, "<!> This Menu is Under Construction :)",
                            veld::xwgt::makeRect(10, 10, form->position.width - 20, 24),
                            XGRP_ALIGN_LEFT, XGRP_OVERFLOW_CUT);
    return 0;
}

int32_t settingsKey(XWindow* form, XKeyData* key, uint32_t /*arg*/) {
    switch (key->code) {
    case XMSG_TIME_TICK:
    case SSM_KEY_SELECT:
        XWIN_Invalidate(form);
        return 0;
    case XMSG_DESTROY: {  // the menu list is gone already; its items' texts go with the form
        void* context = formData(form);
        XMEM_FreeSafe(&context);
        setFormData(form, nullptr);
        return 0;
    }
    default:
        return XWIN_NOT_HANDLED;
    }
}

int32_t openSettings() {
    XWindow* form = XDB_GetForm(SSM_FORM_APP);
    if (form == nullptr) return -5;
    if (XWIN_Create(form, veld::xwin::kTypeForm, nullptr, 1, 0, kFormOptions, settingsKey,
                    settingsRender, &kFormPlace) != 0)
        return -5;
    setFormData(form, nullptr);  // what the form's last app left there is not ours to free
    form->gc.textColor = kText;
    form->gc.fillColor = kFill;
    auto* context = static_cast<SettingsContext*>(XMEM_Alloc(sizeof(SettingsContext)));
    XMenuListDesc desc{};
    desc.capacity = kSettingsItems;
    desc.columns = 2;
    desc.rows = 16;
    desc.drawCell = settingsItemDraw;
    desc.columnWidths[0] = 150;
    desc.columnWidths[1] = 130;
    XMenuListWgt* menu = context != nullptr ? XMenuListWgt_Create(form, 0, kMenuOptions, &desc, &kMenuPlace) : nullptr;
    if (menu == nullptr) {
        VELDD_LOG_AS("SSM_APP_TVSettingsAction", kError, "[xErr] alloc error\n");
        XMEM_FreeSafe(reinterpret_cast<void**>(&context));
        XWIN_Destroy(form, 0);
        return -5;
    }
    setFormData(form, context);
    menu->onSelect = settingsArmCallback;
    menu->onChange = settingsDataChangeCallback;
    buildItems(*context);
    for (XMenuListValue& item : context->items)
        XMenuListWgt_InsertData(menu, 0, reinterpret_cast<uintptr_t>(&item), kItemFlags);
    XMenuListWgt_ReorderData(menu);
    XWIN_SetInitialFocus(form, 0);
    XWIN_Run(form);
    return 0;
}

}  // namespace
}  // namespace veld::ssm

extern "C" {

int32_t SSM_APP_TVSettingsAction(uint32_t mode, const void* /*argument*/) {
    if (mode == 0) return veld::ssm::openSettings();
    if (mode == 1) {
        XWindow* form = XDB_GetForm(SSM_FORM_APP);
        if (form != nullptr && (form->state & veld::xwin::kStateCreated) != 0) XWIN_Destroy(form, 0);
    }
    return 0;
}

int32_t SSM_APP_TVMPlayerAction(uint32_t /*mode*/, const void* /*argument*/) { return 0; }

}  // extern "C"
