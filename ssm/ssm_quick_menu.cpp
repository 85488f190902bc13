// The quick menu: the monitor's launcher, a narrow window at the top left that lists the
// categories of the monitor's functions, folds them open and shut, starts the chosen app with
// the entry's label as its argument and toggles panels. It is built once when the monitor
// starts and afterwards only shown and hidden: it steps aside while an app window holds the
// focus and comes back with the focus, and key 109 shows or hides it while it has the focus.
// Its folding state (the list of shown entries, cursor and visible window) lives in form 4096.
#include <cstdint>
#include <string>
#include <iterator>
#include <string_view>
#include <utility>

#include "ssm_app.h"
#include "ssm_quick_menu.h"
#include "veldd_log.h"
#include "widgets/xwgt_common.h"
#include "xlist.h"
#include "xstring.h"
#include "xwm.h"

using namespace veld::loglevel;

namespace veld::ssm {
namespace {

// One row of the menu table. The code holds the category in bits 16-23 and the position in
// the low 16 bits (0 for the category's header); the label is also the argument of the app.
struct MenuEntry {
    uint32_t code;
    uint32_t appId;
    char label[32];
    uint32_t flags;
};

constexpr uint32_t kNoApp = 0xFFFFFFFFu;
constexpr uint32_t kHeader = 1;
constexpr uint32_t kItem = 2;

constexpr MenuEntry kEntries[] = {
    {0x10000, kNoApp, "SYSTEM/Info", kHeader},
    {0x10001, 515, "MemoryMap Info", kItem},
    {0x10002, 513, "LOGM Info", kItem},
    {0x10003, 518, "MPROT Info", kItem},
    {0x10004, 518, "AVS/PM Status", kItem},
    {0x10005, 522, "TEMP Info", kItem},
    {0x10006, 523, "CPULOAD Info", kItem},
    {0x10007, 524, "GPIO Info", kItem},
    {0x20000, kNoApp, "SYSTEM/Monitor", kHeader},
    {0x20001, 517, "linux/cpu top", kItem},
    {0x20002, 517, "linux/io top", kItem},
    {0x20003, 518, "linux/meminfo", kItem},
    {0x20004, 518, "linux/vmstat", kItem},
    {0x20005, 520, "HMA Monitor", kItem},
    {0x20006, 516, "BW Monitor", kItem},
    {0x30000, kNoApp, "SYSTEM/HMA", kHeader},
    {0x30001, 519, "hma/surface", kItem},
    {0x30002, 519, "hma/te_mcu", kItem},
    {0x30003, 519, "hma/sdec", kItem},
    {0x30004, 519, "hma/pvr", kItem},
    {0x30005, 519, "hma/te_shared", kItem},
    {0x30006, 519, "hma/vdec", kItem},
    {0x30007, 519, "hma/dpb", kItem},
    {0x30008, 519, "hma/dpb1", kItem},
    {0x30009, 519, "hma/audio_buffer", kItem},
    {0x50000, kNoApp, "TE", kHeader},
    {0x50001, 521, "TE PCR Recovery", kItem},
    {0x50002, 518, "TE MCU Info", kItem},
    {0x50003, kNoApp, "Test Menu #1", kItem},
    {0x50003, kNoApp, "Test Menu #2", kItem},
    {0x70000, kNoApp, "VIDEO", kHeader},
    {0x70001, 525, "DNN Info", kItem},
    {0xa0000, kNoApp, "TV CTRL", kHeader},
    {0xa0001, 526, "Settings", kItem},
    {0xa0002, 527, "Media Play", kItem},
};
static_assert(std::size(kEntries) == 35);

// A shown entry. The list is sorted by code; the two test entries share a code, so the table
// position breaks ties and both are listed in table order.
struct MenuNode {
    MenuNode* next;
    MenuNode* prev;
    const MenuEntry* entry;
};

struct MenuState {
    XSList nodes;
    XSListIter iter;
    MenuNode* cursor;
    MenuNode* top;  // the visible window: top and at most the 11 nodes after it
    MenuNode* bottom;
};

constexpr int32_t kVisibleLines = 12;
constexpr int16_t kLineHeight = 24;
constexpr int16_t kMarkerWidth = 20;
constexpr uint32_t kMenuOptions = 0x800100;
constexpr XPosInfo kMenuPlace{20, 20, 180, 320};
constexpr uint8_t kText = 3, kFill = 1, kCursorText = 4, kCursorFill = 2, kTitleFill = 5;

uint32_t categoryOf(const MenuEntry& entry) { return (entry.code >> 16) & 0xFF; }
uint32_t categoryOf(const MenuNode* node) { return categoryOf(*node->entry); }

bool sameCategory(const MenuNode* a, const MenuNode* b) {
    return a != nullptr && b != nullptr && categoryOf(a) == categoryOf(b);
}

int32_t compareNodes(void* node, void* newNode) {
    const auto key = [](void* n) {
        const MenuEntry* e = static_cast<MenuNode*>(n)->entry;
        return std::pair(e->code, e - kEntries);
    };
    const auto a = key(node), b = key(newNode);
    return a < b ? -1 : (b < a ? 1 : 0);
}

MenuState* stateOf(XWindow* form) { return static_cast<MenuState*>(formData(form)); }

MenuNode* firstNode(MenuState& m) { return static_cast<MenuNode*>(m.nodes.head); }

// Lists a node for every row that `wanted` picks; a row whose node can't be had is left out,
// logged under `operation`, the function that asked for the rows.
void insertRows(MenuState& m, auto wanted, const char* operation) {
    for (const MenuEntry& e : kEntries) {
        if (!wanted(e)) continue;
        auto* node = static_cast<MenuNode*>(XMEM_Alloc(sizeof(MenuNode)));
        if (node == nullptr) {
            VELDD_LOG_AS(operation, kError, "[xErr] alloc error\n");
            continue;
        }
        node->entry = &e;
        if (XSLIST_InsertObject(&m.nodes, node) != 0) XMEM_FreeSafe(reinterpret_cast<void**>(&node));
    }
}

void removeNode(MenuState& m, MenuNode* node) {
    XSLIST_FetchObject(&m.nodes, node);
    XMEM_FreeSafe(reinterpret_cast<void**>(&node));
}

// The cursor defaults to the first node; the window shows top and up to 11 nodes after it.
void fixWindow(XWindow* form, MenuState& m) {
    if (m.cursor == nullptr) m.cursor = firstNode(m);
    if (m.top == nullptr) m.top = firstNode(m);
    if (m.top != nullptr) {
        auto* bottom = static_cast<MenuNode*>(XSLIST_GetNthObjectFrom(&m.nodes, m.top, kVisibleLines - 1));
        m.bottom = bottom != nullptr ? bottom : static_cast<MenuNode*>(m.nodes.tail);
    }
    XWIN_Invalidate(form);
}

void freeState(XWindow* form) {
    MenuState* m = stateOf(form);
    if (m == nullptr) return;
    while (auto* node = static_cast<MenuNode*>(XSLIST_FetchNthObject(&m->nodes, 0)))
        XMEM_FreeSafe(reinterpret_cast<void**>(&node));
    XMEM_FreeSafe(reinterpret_cast<void**>(&m));
    setFormData(form, nullptr);
}

// Shows or hides the menu; the launcher row's visible bit follows the window.
void setShown(XWindow* form, bool shown) {
    if (shown)
        XWIN_Show(form);
    else
        XWIN_Hide(form);
    if (SSM_APP_DESC* row = SSM_APP_GetDesc(0)) {
        if (shown)
            row->state |= SSM_APP_STATE_VISIBLE;
        else
            row->state &= static_cast<uint16_t>(~SSM_APP_STATE_VISIBLE);
    }
}

bool isShown(const XWindow* form) { return (form->flags & veld::xwin::kFlagVisible) != 0; }

void moveUp(MenuState& m) {
    if (m.cursor != m.top) {
        m.cursor = m.cursor->prev;
    } else if (m.cursor->prev != nullptr) {  // scroll one line back
        m.top = m.top->prev;
        m.bottom = m.bottom->prev;
        m.cursor = m.cursor->prev;
    }
}

void moveDown(MenuState& m) {
    if (m.cursor != m.bottom) {
        m.cursor = m.cursor->next;
    } else if (m.cursor->next != nullptr) {  // scroll one line forward
        m.top = m.top->next;
        m.bottom = m.cursor->next;
        m.cursor = m.cursor->next;
    }
}

void selectItem(const MenuEntry& entry) {
    SSM_APP_DESC* app = SSM_APP_GetDesc(entry.appId);
    if (app == nullptr) return;  // an entry without an app does nothing
    if ((app->flags & SSM_APP_FLAG_PANEL) != 0)
        SSM_APP_Toggle(app->id);
    else if ((app->flags & SSM_APP_FLAG_APP) != 0)
        SSM_APP_Run(app->id, entry.label);
}

// A header folds when its category is open (the next node is of it), else it unfolds.
void selectHeader(XWindow* form, MenuState& m) {
    MenuNode* header = m.cursor;
    if (sameCategory(header, header->next)) {
        while (sameCategory(header, header->next)) removeNode(m, header->next);
    } else {
        const uint32_t category = categoryOf(header);
        insertRows(
            m, [category](const MenuEntry& e) { return e.flags == kItem && categoryOf(e) == category; },
            "menuKey");
    }
    fixWindow(form, m);
}

int32_t menuKey(XWindow* form, XKeyData* key, uint32_t /*arg*/) {
    switch (key->code) {
    case XKEY_UP:
    case XKEY_DOWN:
    case SSM_KEY_SELECT: {
        MenuState* m = stateOf(form);
        if (m == nullptr || m->cursor == nullptr) return 0;
        if (key->code == XKEY_UP) {
            moveUp(*m);
        } else if (key->code == XKEY_DOWN) {
            moveDown(*m);
        } else if (m->cursor->entry->flags == kHeader) {
            selectHeader(form, *m);
            return 0;
        } else {
            selectItem(*m->cursor->entry);  // the menu stays as it is
        }
        XWIN_Invalidate(form);
        return 0;
    }
    case XMSG_FOCUS_IN:
        setShown(form, true);
        return 0;
    case XMSG_FOCUS_OUT:
        setShown(form, false);
        return 0;
    case SSM_KEY_CLOSE:
        setShown(form, !isShown(form));
        return 0;
    case XMSG_DESTROY:  // only when the whole window system goes: release the list
        freeState(form);
        return 0;
    default:
        return XWIN_NOT_HANDLED;
    }
}

// The marker a line carries: "+" or "-" left of a header, "o" or "x" right of a panel's item,
// none for other items.
std::string_view markerOf(const MenuNode* node) {
    if (node->entry->flags == kHeader) return sameCategory(node, node->next) ? "-" : "+";
    const SSM_APP_DESC* app = SSM_APP_GetDesc(node->entry->appId);
    if (app == nullptr || (app->flags & SSM_APP_FLAG_PANEL) == 0) return {};
    return (app->state & SSM_APP_STATE_VISIBLE) != 0 ? "o" : "x";
}

void drawLabel(XWindow* form, std::string_view text, int32_t x, int32_t y, int32_t width, uint8_t align) {
    veld::xwgt::drawTextBox(form, text, veld::xwgt::makeRect(x, y, width, kLineHeight), align,
                            XGRP_OVERFLOW_CUT);
}

void drawLine(XWindow* form, const MenuState& m, const MenuNode* node, int32_t y, bool dim) {
    const int32_t width = form->position.width;
    const bool atCursor = node == m.cursor;
    form->gc.textColor = veld::xwgt::colourFor(atCursor ? kCursorText : kText, dim);
    veld::xwgt::fillRect(form, 0, y, width, kLineHeight, veld::xwgt::colourFor(atCursor ? kCursorFill : kFill, dim));
    const std::string_view marker = markerOf(node);
    if (node->entry->flags == kHeader) {
        drawLabel(form, marker, 0, y, kMarkerWidth, XGRP_ALIGN_CENTER);
        drawLabel(form, node->entry->label, kMarkerWidth, y, width - 2 * kMarkerWidth, XGRP_ALIGN_LEFT);
        return;
    }
    drawLabel(form, marker, width - kMarkerWidth, y, kMarkerWidth, XGRP_ALIGN_CENTER);
    drawLabel(form, node->entry->label, 30, y, width - 50, XGRP_ALIGN_LEFT);
}

int32_t menuRender(XWindow* form) {
    veld::xwgt::GcGuard guard(form);
    form->gc.textColor = kText;
    veld::xwgt::fillRect(form, 0, 0, form->position.width, form->position.height, kFill);
    veld::xwgt::fillRect(form, 0, 0, form->position.width, kLineHeight, kTitleFill);
    drawLabel(form, "[SSM]", 10, 0, 160, XGRP_ALIGN_LEFT);

    MenuState* m = stateOf(form);
    if (m == nullptr || m->top == nullptr) return 0;
    if (XSLIST_GetObjectIndex(&m->nodes, m->top) < 0) {
        VELDD_LOG(kError, "[xErr] node match fail\n");
        return 0;
    }
    const bool dim = !veld::xwgt::hasFocus(form);
    const MenuNode* node = m->top;
    for (int32_t line = 0; line < kVisibleLines && node != nullptr; ++line, node = node->next)
        drawLine(form, *m, node, kLineHeight * (line + 1), dim);
    return 0;
}

// A line as the view reports it: "<marker> <label>" for a header, "  <label>[ <marker>]" for
// an item. Built by appending into one buffer: the same text joined with operator+ on
// temporaries makes g++ 12 at -O2 report an overlapping copy inside std::string (-Wrestrict)
// that cannot happen.
std::string lineText(bool header, std::string_view marker, std::string_view label) {
    std::string text;
    text.reserve(label.size() + marker.size() + 3);
    if (header) {
        text.append(marker).append(" ").append(label);
    } else {
        text.append("  ").append(label);
        if (!marker.empty()) text.append(" ").append(marker);
    }
    return text;
}

}  // namespace

QuickMenuView quickMenuView() {
    QuickMenuView view;
    MenuState* m = stateOf(XDB_GetForm(SSM_FORM_QUICK_MENU));
    if (m == nullptr) return view;
    const MenuNode* node = m->top;
    for (int line = 0; line < kVisibleLines && node != nullptr; ++line, node = node->next) {
        const std::string_view marker = markerOf(node);
        view.lines.push_back(lineText(node->entry->flags == kHeader, marker, node->entry->label));
        if (node == m->cursor) view.cursor = line;
    }
    return view;
}

}  // namespace veld::ssm

using namespace veld::ssm;

extern "C" {

int32_t SSM_APP_QuickMenu(uint32_t mode, const void* /*argument*/) {
    if (mode != 0) return 0;  // the launcher is never stopped
    XWindow* form = XDB_GetForm(SSM_FORM_QUICK_MENU);
    if (form == nullptr) return -5;
    freeState(form);  // a menu built again starts from its headers
    if (XWIN_Create(form, veld::xwin::kTypeForm, nullptr, 0, 0, kMenuOptions, menuKey, menuRender,
                    &kMenuPlace) != 0)
        return -5;
    form->gc.textColor = kText;
    form->gc.fillColor = kFill;
    auto* m = static_cast<MenuState*>(XMEM_Alloc(sizeof(MenuState)));
    if (m == nullptr) {
        VELDD_LOG(kError, "[xErr] alloc error\n");
        XWIN_Destroy(form, 0);
        return -5;
    }
    XSLIST_InitSystem(&m->nodes, 1, compareNodes, nullptr);
    XSLIST_InitIterator(&m->iter, &m->nodes);
    setFormData(form, m);
    insertRows(*m, [](const MenuEntry& e) { return e.flags == kHeader; }, "SSM_APP_QuickMenu");
    fixWindow(form, *m);
    XWIN_Run(form);
    return 0;
}

}  // extern "C"
