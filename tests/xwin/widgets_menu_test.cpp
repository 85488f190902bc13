// The menu list: creation and its cell grid (with the offset its renderer adds), insertion
// order and the pool, removal with the page rules, the page computation, focus by index,
// current-item details, the key table, drawing of rows, value items and scroll arrows, and
// the release of everything on destruction. A long random run checks that no page bound or
// current item ever refers to a removed item.
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "widgets/xmenulist_wgt.h"
#include "widgets_fixture.h"

namespace veld::test {
namespace {

using veld::xwgt::kKeyPageDown;
using veld::xwgt::kKeyPageUp;
using veld::xwgt::kKeySelect;

constexpr uint32_t kSel = XMENULIST_ITEM_SELECTABLE;
constexpr uint32_t kValue = XMENULIST_ITEM_VALUE | XMENULIST_ITEM_SELECTABLE;

struct Recorder {
    std::vector<XMenuListCellInfo> cells;
    std::vector<uintptr_t> freed;
    int changes = 0;
    bool invalidAtChange = false;
    std::vector<std::pair<uintptr_t, uint32_t>> selects;
};

Recorder& rec() {
    static Recorder r;
    return r;
}

int32_t recordCell(XMenuListWgt*, XMenuListCellInfo* cell) {
    rec().cells.push_back(*cell);
    return 0;
}
int32_t recordFree(XMenuListWgt*, uintptr_t* data) {
    rec().freed.push_back(*data);
    return 0;
}
int32_t recordChange(XMenuListWgt* widget, uintptr_t) {
    ++rec().changes;
    rec().invalidAtChange = (widget->window.flags & veld::xwin::kFlagInvalid) != 0;
    return 0;
}
int32_t recordSelect(XMenuListWgt*, uintptr_t cbArg, uint32_t keyArg) {
    rec().selects.push_back({cbArg, keyArg});
    return 0;
}

// A value item's data with the given choices.
XMenuListValue makeValue(const char* label, std::vector<const char*> choices, uint32_t index,
                         uint32_t kind = XMENULIST_VALUE_CHOICE) {
    XMenuListValue value{};
    value.kind = kind;
    value.label = XUTIL_MakeString(label, uint32_t(std::char_traits<char>::length(label)));
    value.count = uint32_t(choices.size());
    for (size_t i = 0; i < choices.size(); ++i)
        value.choices[i] =
            XUTIL_MakeString(choices[i], uint32_t(std::char_traits<char>::length(choices[i])));
    value.index = index;
    return value;
}

// Current item, first and last visible as data (0 for none).
struct MenuState {
    uintptr_t current, first, last;
    bool operator==(const MenuState&) const = default;
};

std::ostream& operator<<(std::ostream& os, const MenuState& s) {
    return os << "{current " << s.current << ", first " << s.first << ", last " << s.last << "}";
}

class MenuList : public WidgetTest {
protected:
    void SetUp() override {
        WidgetTest::SetUp();
        rec() = Recorder{};
    }

    static XMenuListDesc desc(uint8_t rows, uint16_t capacity = 32, uint8_t columns = 1) {
        XMenuListDesc d{};
        d.capacity = capacity;
        d.columns = columns;
        d.rows = rows;
        d.drawCell = &recordCell;
        d.freeItem = &recordFree;
        for (size_t c = 0; c < XMENULIST_MAX_COLUMNS; ++c) d.columnWidths[c] = 40;
        return d;
    }

    XMenuListWgt* make(uint8_t rows, uint16_t capacity = 32, uint32_t options = 0,
                       XPosInfo position = {20, 20, 200, 140}, uint8_t columns = 1) {
        const XMenuListDesc d = desc(rows, capacity, columns);
        XMenuListWgt* widget = XMenuListWgt_Create(&form_, 0, options, &d, &position);
        EXPECT_NE(widget, nullptr);
        return widget;
    }

    // Items with data 1 .. n; `flags` per item (all selectable when empty).
    static void fill(XMenuListWgt* w, int n, std::vector<uint32_t> flags = {}) {
        for (int i = 0; i < n; ++i)
            ASSERT_EQ(XMenuListWgt_InsertData(w, 0, uintptr_t(i + 1), flags.empty() ? kSel : flags[i]), 0);
    }

    static uintptr_t dataOf(const XMenuListItem* item) { return item ? item->data : 0; }
    static XMenuListItem* byData(XMenuListWgt* w, uintptr_t data) {
        for (auto* item = static_cast<XMenuListItem*>(w->items.head); item; item = item->next)
            if (item->data == data) return item;
        return nullptr;
    }

    using State = MenuState;
    static State state(const XMenuListWgt* w) {
        return {dataOf(w->current), dataOf(w->firstVisible), dataOf(w->lastVisible)};
    }
    static void setState(XMenuListWgt* w, State s) {
        w->current = byData(w, s.current);
        w->firstVisible = byData(w, s.first);
        w->lastVisible = byData(w, s.last);
    }
    static std::vector<uintptr_t> order(XMenuListWgt* w) {
        std::vector<uintptr_t> out;
        for (auto* item = static_cast<XMenuListItem*>(w->items.head); item; item = item->next)
            out.push_back(item->data);
        return out;
    }
};

// ---- creation -------------------------------------------------------------------------------

TEST_F(MenuList, CreationLaysOutTheCellGrid) {
    XMenuListDesc d = desc(3, 8, 2);
    d.columnWidths[0] = 100;
    d.columnWidths[1] = 150;
    const XPosInfo position{20, 20, 280, 548};
    XMenuListWgt* w = XMenuListWgt_Create(&form_, 1, 17, &d, &position);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(form_.children[1], &w->window);
    EXPECT_EQ(w->columns, 2);
    EXPECT_EQ(w->rows, 3);
    EXPECT_EQ(w->listArea.x, 20);
    EXPECT_EQ(w->listArea.y, 40);
    EXPECT_EQ(w->listArea.width, 280);
    EXPECT_EQ(w->listArea.height, 508);
    // Row height (508 - 2 x 4) / 3 = 166; rows 170 apart; columns side by side.
    const XPosInfo expected[] = {{20, 40, 100, 166},  {120, 40, 150, 166},
                                 {20, 210, 100, 166}, {120, 210, 150, 166},
                                 {20, 380, 100, 166}, {120, 380, 150, 166}};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(w->cells[i].x, expected[i].x) << i;
        EXPECT_EQ(w->cells[i].y, expected[i].y) << i;
        EXPECT_EQ(w->cells[i].width, expected[i].width) << i;
        EXPECT_EQ(w->cells[i].height, expected[i].height) << i;
    }
    EXPECT_TRUE(logged("[xDbg] [ 1,  2] 120,380\n"));
    EXPECT_EQ(w->current, nullptr);
    EXPECT_EQ(XMenuListWgt_GetNumElement(w), 0);
    // Slot 1 follows an empty slot, which the form's walks never pass: destroyed here.
    EXPECT_EQ(XWIN_Destroy(&w->window, 0), 0);
}

TEST_F(MenuList, CreationRefusesGridsWithoutRowsOrColumns) {
    const XPosInfo position{0, 0, 100, 100};
    for (auto [rows, columns] : {std::pair{0, 1}, std::pair{3, 0}, std::pair{3, 9}}) {
        const XMenuListDesc d = desc(uint8_t(rows), 4, uint8_t(columns));
        EXPECT_EQ(XMenuListWgt_Create(&form_, 0, 0, &d, &position), nullptr);
    }
    EXPECT_EQ(XMenuListWgt_Create(&form_, 0, 0, nullptr, &position), nullptr);
    EXPECT_TRUE(logged("[xErr] inval param\n"));
}

TEST_F(MenuList, LowWidgetHasAnEmptyListArea) {
    XMenuListWgt* w = make(2, 4, 0, {0, 0, 100, 30});
    EXPECT_EQ(w->listArea.height, 0);
    EXPECT_EQ(w->cells[1].height, 0);
    fill(w, 3);
    XWIN_Render(&w->window);  // nothing to crash on
    EXPECT_EQ(rec().cells.size(), 2u);
}

// ---- insertion ------------------------------------------------------------------------------

TEST_F(MenuList, InsertionKeepsArrivalOrderAndFirstBecomesCurrent) {
    XMenuListWgt* w = make(3);
    validate(&w->window);
    ASSERT_EQ(XMenuListWgt_InsertData(w, 0, 30, kSel), 0);
    ASSERT_EQ(XMenuListWgt_InsertData(w, 30, 10, kSel), 0);  // a parent does not move it
    ASSERT_EQ(XMenuListWgt_InsertData(w, 999, 20, 0), 0);    // nor does an unknown one
    EXPECT_EQ(order(w), (std::vector<uintptr_t>{30, 10, 20}));
    EXPECT_EQ(dataOf(w->current), 30u);
    EXPECT_FALSE(isInvalid(&w->window));  // no redraw request
    const auto* last = XMenuListWgt_GetNodeByidx(w, 2);
    EXPECT_EQ(last->group, 0x8000);
    EXPECT_EQ(last->ordinal, 2);
    EXPECT_EQ(last->flags, 0u);
    EXPECT_EQ(dataOf(XMenuListWgt_GetNodeByidx(w, -1)), 10u);
    EXPECT_EQ(XMenuListWgt_GetNodeByidx(w, 3), nullptr);
}

TEST_F(MenuList, InsertionIntoAFullPoolIsRefused) {
    XMenuListWgt* w = make(3, 3);
    fill(w, 3);
    EXPECT_EQ(XMenuListWgt_InsertData(w, 0, 4, kSel), -5);
    EXPECT_EQ(XMenuListWgt_GetNumElement(w), 3);
    // A removal makes room again, and the newcomer goes to the end.
    ASSERT_EQ(XMenuListWgt_DeleteData(w, 2), 0);
    ASSERT_EQ(XMenuListWgt_InsertData(w, 0, 4, kSel), 0);
    EXPECT_EQ(order(w), (std::vector<uintptr_t>{1, 3, 4}));
}

TEST_F(MenuList, ZeroCapacityRefusesEveryItem) {
    XMenuListWgt* w = make(3, 0);
    EXPECT_EQ(XMenuListWgt_InsertData(w, 0, 1, kSel), -5);
    EXPECT_EQ(XMenuListWgt_ReorderData(w), 0);
    EXPECT_EQ(sendKey(&w->window, XKEY_DOWN), 0);
    XWIN_Render(&w->window);
    EXPECT_EQ(rec().cells.size(), 3u);
}

TEST_F(MenuList, OrdinalsAtTheTopOfTheirRangeAreRenumbered) {
    XMenuListWgt* w = make(3);
    fill(w, 3);
    static_cast<XMenuListItem*>(w->items.tail)->ordinal = 0xFFFF;
    ASSERT_EQ(XMenuListWgt_InsertData(w, 0, 4, kSel), 0);
    EXPECT_EQ(order(w), (std::vector<uintptr_t>{1, 2, 3, 4}));
    EXPECT_EQ(XMenuListWgt_GetNodeByidx(w, 3)->ordinal, 3);
}

// ---- removal --------------------------------------------------------------------------------

struct DeleteCase {
    const char* name;
    int count;
    uint8_t rows;
    MenuState before;
    uintptr_t removed;
    int32_t result;
    MenuState after;
};
// Cases print as their name, so test listings stay short and stable.
void PrintTo(const DeleteCase& c, std::ostream* os) { *os << c.name; }

class MenuDelete : public MenuList, public ::testing::WithParamInterface<DeleteCase> {};

TEST_P(MenuDelete, MovesCurrentAndPage) {
    const DeleteCase& c = GetParam();
    XMenuListWgt* w = make(c.rows);
    fill(w, c.count);
    setState(w, c.before);
    validate(&w->window);
    EXPECT_EQ(XMenuListWgt_DeleteData(w, c.removed), c.result);
    EXPECT_EQ(state(w), c.after);
    EXPECT_EQ(XMenuListWgt_GetNumElement(w), c.count - (c.result == 0 ? 1 : 0));
    EXPECT_EQ(isInvalid(&w->window), c.result == 0);
}

// Items hold the data 1 .. count; states are {current, first visible, last visible}.
INSTANTIATE_TEST_SUITE_P(
    Table, MenuDelete,
    ::testing::Values(
        DeleteCase{"CurrentIsFirstItem", 10, 3, {1, 1, 3}, 1, 0, {2, 2, 4}},
        DeleteCase{"CurrentIsLastItem", 10, 3, {10, 8, 10}, 10, 0, {9, 7, 9}},
        DeleteCase{"CurrentIsFirstVisible", 10, 3, {4, 4, 6}, 4, 0, {3, 3, 5}},
        DeleteCase{"CurrentIsLastVisible", 10, 3, {6, 4, 6}, 6, 0, {7, 4, 7}},
        DeleteCase{"CurrentInsideAFullPage", 10, 3, {5, 4, 6}, 5, 0, {6, 4, 7}},
        DeleteCase{"CurrentInsideTheLastPage", 10, 3, {9, 8, 10}, 9, 0, {8, 7, 10}},
        DeleteCase{"FirstItemOfAShortList", 2, 3, {1, 1, 2}, 1, 0, {2, 2, 2}},
        DeleteCase{"LastItemOfAShortList", 2, 3, {2, 1, 2}, 2, 0, {1, 1, 1}},
        DeleteCase{"OnlyItem", 1, 3, {1, 1, 1}, 1, 0, {0, 0, 0}},
        DeleteCase{"UnknownData", 10, 3, {5, 4, 6}, 99, -5, {5, 4, 6}},
        // The rules would leave the removed item as a page bound: the page is recomputed.
        DeleteCase{"TwoRowsBoundLandsOnRemoved", 10, 2, {5, 5, 6}, 5, 0, {4, 3, 4}},
        DeleteCase{"CurrentAboveAShortPage", 4, 3, {2, 3, 4}, 2, 0, {3, 1, 4}},
        // A removed item that is not current but bounds the page: recomputed likewise.
        DeleteCase{"OtherItemIsFirstVisible", 10, 3, {5, 4, 6}, 4, 0, {5, 5, 7}},
        DeleteCase{"OtherItemIsLastVisible", 10, 3, {5, 4, 6}, 6, 0, {5, 4, 7}},
        DeleteCase{"OtherItemInsideThePage", 10, 3, {4, 4, 6}, 5, 0, {4, 4, 6}},
        DeleteCase{"OtherItemOffThePage", 10, 3, {5, 4, 6}, 9, 0, {5, 4, 6}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- page -------------------------------------------------------------------------------------

struct PageCase {
    const char* name;
    int count;
    int currentIndex;  // -1: no current item
    int firstIndex, lastIndex;  // -1: none
    bool redraw;
};
// Cases print as their name, so test listings stay short and stable.
void PrintTo(const PageCase& c, std::ostream* os) { *os << c.name; }

class MenuPage : public MenuList, public ::testing::WithParamInterface<PageCase> {};

TEST_P(MenuPage, ReorderShowsThePageOfTheCurrentItem) {
    const PageCase& c = GetParam();
    XMenuListWgt* w = make(3);
    fill(w, c.count);
    if (c.currentIndex >= 0)
        XMenuListWgt_SetFocus(w, c.currentIndex);
    else
        w->current = nullptr;
    validate(&w->window);
    ASSERT_EQ(XMenuListWgt_ReorderData(w), 0);
    EXPECT_EQ(XSLIST_GetObjectIndex(&w->items, w->firstVisible), c.firstIndex);
    EXPECT_EQ(XSLIST_GetObjectIndex(&w->items, w->lastVisible), c.lastIndex);
    EXPECT_EQ(isInvalid(&w->window), c.redraw);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MenuPage,
    ::testing::Values(PageCase{"MiddlePage", 10, 7, 6, 8, true},
                      PageCase{"LastItemEndsThePage", 10, 9, 7, 9, true},
                      PageCase{"FirstPage", 10, 0, 0, 2, true},
                      PageCase{"PageEndsAtItsLastRow", 10, 5, 3, 5, true},
                      PageCase{"ShortLastPageIsFilledFromBefore", 4, 3, 1, 3, true},
                      PageCase{"NoCurrentCountsAsTheFirst", 10, -1, 0, 2, true},
                      PageCase{"FitsOnOnePage", 3, 1, 0, 2, false},
                      PageCase{"Empty", 0, -1, -1, -1, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MenuList, SetFocusClampsTheIndexAndKeepsThePage) {
    XMenuListWgt* w = make(3);
    EXPECT_EQ(XMenuListWgt_SetFocus(w, 0), -5);  // nothing to focus
    fill(w, 5);
    XMenuListWgt_ReorderData(w);
    validate(&w->window);
    XMenuListWgt_SetFocus(w, -4);
    EXPECT_EQ(dataOf(w->current), 1u);
    XMenuListWgt_SetFocus(w, 99);
    EXPECT_EQ(dataOf(w->current), 5u);
    XMenuListWgt_SetFocus(w, 2);
    EXPECT_EQ(dataOf(w->current), 3u);
    EXPECT_EQ(state(w), (State{3, 1, 3}));
    EXPECT_FALSE(isInvalid(&w->window));
}

TEST_F(MenuList, CurrentDetails) {
    XMenuListWgt* w = make(3, 32, 0, {20, 20, 200, 140}, 2);
    XMenuListCellInfo cell;
    std::memset(&cell, 0xAB, sizeof cell);
    const XMenuListCellInfo untouched = cell;
    EXPECT_EQ(XMenuListWgt_GetCurrentDataEx(w, &cell), 0u);
    EXPECT_EQ(std::memcmp(&cell, &untouched, sizeof cell), 0);
    EXPECT_EQ(XMenuListWgt_GetCurrentData(w), 0u);

    fill(w, 10);
    setState(w, {5, 4, 6});
    ASSERT_EQ(XMenuListWgt_GetCurrentDataEx(w, &cell), 5u);
    EXPECT_EQ(cell.data, 5u);
    EXPECT_EQ(cell.flags, kSel);
    EXPECT_EQ(cell.isCurrent, 1u);
    EXPECT_EQ(cell.index, 4);
    EXPECT_EQ(cell.column, 0);
    EXPECT_EQ(cell.row, 1);
    EXPECT_EQ(cell.rect.y, w->cells[2].y);  // first cell of row 1
    EXPECT_EQ(cell.rect.x, w->cells[2].x);

    // Off the page: row and rectangle stay as they were.
    std::memset(&cell, 0xAB, sizeof cell);
    XMenuListWgt_SetFocus(w, 8);
    ASSERT_EQ(XMenuListWgt_GetCurrentDataEx(w, &cell), 9u);
    EXPECT_EQ(cell.index, 8);
    EXPECT_EQ(cell.row, untouched.row);
    EXPECT_EQ(std::memcmp(&cell.rect, &untouched.rect, sizeof cell.rect), 0);
    EXPECT_EQ(XMenuListWgt_GetCurrentData(w), 9u);
}

int32_t matchEqual(uintptr_t data, const void* key) {
    return data == *static_cast<const uintptr_t*>(key);
}

TEST_F(MenuList, GetDataFindsTheFirstMatch) {
    XMenuListWgt* w = make(3);
    fill(w, 4);
    ASSERT_EQ(XMenuListWgt_InsertData(w, 0, 0, kSel), 0);
    const uintptr_t three = 3;
    const uintptr_t zero = 0;
    EXPECT_EQ(XMenuListWgt_GetData(w, &three, &matchEqual), 3u);
    EXPECT_EQ(XMenuListWgt_GetData(w, &zero, &matchEqual), 0u);  // data 0 is never matched
    EXPECT_EQ(XMenuListWgt_GetData(w, nullptr, &matchEqual), 0u);
    EXPECT_EQ(XMenuListWgt_GetData(w, &three, nullptr), 0u);
}

TEST_F(MenuList, FlushEmptiesWithoutReleasingData) {
    XMenuListWgt* w = make(3, 4);
    fill(w, 4);
    XMenuListWgt_ReorderData(w);
    validate(&w->window);
    ASSERT_EQ(XMenuListWgt_FlushData(w), 0);
    EXPECT_EQ(XMenuListWgt_GetNumElement(w), 0);
    EXPECT_EQ(state(w), (State{0, 0, 0}));
    EXPECT_TRUE(rec().freed.empty());
    EXPECT_TRUE(isInvalid(&w->window));
    fill(w, 4);  // the whole pool is back
    EXPECT_EQ(order(w), (std::vector<uintptr_t>{1, 2, 3, 4}));
}

// ---- keys -----------------------------------------------------------------------------------

TEST_F(MenuList, DownPastThePageScrollsByOne) {
    XMenuListWgt* w = make(3, 32, XMENULIST_OPT_ARROWS);
    fill(w, 5);
    XMenuListWgt_ReorderData(w);
    XMenuListWgt_SetFocus(w, 2);
    EXPECT_EQ(sendKey(&w->window, XKEY_DOWN), 0);
    EXPECT_EQ(state(w), (State{4, 2, 4}));
    XWIN_Render(&w->window);
    // Both arrows: the page neither starts at the first item nor ends at the last. The boxes
    // are drawn at the widget's rectangle offset by its own position: (40, 40) and (40, 160).
    EXPECT_GT(countColour(40, 40, 200, 20, 3 | 0x80), 0);
    EXPECT_GT(countColour(40, 160, 200, 20, 3 | 0x80), 0);
    EXPECT_EQ(countColour(0, 0, kWidth, 40, 3 | 0x80), 0);
}

TEST_F(MenuList, ArrowsOnlyWhereThereIsMore) {
    XMenuListWgt* w = make(3, 32, XMENULIST_OPT_ARROWS);
    fill(w, 5);
    XMenuListWgt_ReorderData(w);  // first page: only the down arrow
    XWIN_Render(&w->window);
    EXPECT_EQ(countColour(40, 40, 200, 20, 3 | 0x80), 0);
    EXPECT_GT(countColour(40, 160, 200, 20, 3 | 0x80), 0);
    EXPECT_EQ(countColour(40, 40, 200, 20, 1), 200 * 20 - countColour(40, 40, 200, 20, 0) -
                                                   countColour(40, 40, 200, 20, 3 | 0x80));
}

TEST_F(MenuList, UpAndDownSkipItemsThatAreNotSelectable) {
    XMenuListWgt* w = make(3);
    fill(w, 5, {kSel, 0, kSel, 0, kSel});
    XMenuListWgt_ReorderData(w);
    EXPECT_EQ(sendKey(&w->window, XKEY_DOWN), 0);
    EXPECT_EQ(dataOf(w->current), 3u);
    EXPECT_EQ(sendKey(&w->window, XKEY_DOWN), 0);
    EXPECT_EQ(state(w), (State{5, 3, 5}));
    EXPECT_EQ(sendKey(&w->window, XKEY_DOWN), XWIN_NOT_HANDLED);  // the form gets it
    EXPECT_EQ(sendKey(&w->window, XKEY_UP), 0);
    EXPECT_EQ(state(w), (State{3, 3, 5}));
    EXPECT_EQ(sendKey(&w->window, XKEY_UP), 0);
    EXPECT_EQ(state(w), (State{1, 1, 3}));
    EXPECT_EQ(sendKey(&w->window, XKEY_UP), XWIN_NOT_HANDLED);
}

TEST_F(MenuList, DownWithOnlyUnselectableItemsAfterIsNotHandled) {
    XMenuListWgt* w = make(3);
    fill(w, 4, {kSel, kSel, 0, 0});
    XMenuListWgt_ReorderData(w);
    XMenuListWgt_SetFocus(w, 1);
    validate(&w->window);
    EXPECT_EQ(sendKey(&w->window, XKEY_DOWN), XWIN_NOT_HANDLED);
    EXPECT_EQ(dataOf(w->current), 2u);
    EXPECT_FALSE(isInvalid(&w->window));
}

TEST_F(MenuList, WithoutCurrentItemTheKeysDoNothing) {
    XMenuListWgt* w = make(3);
    EXPECT_EQ(sendKey(&w->window, XKEY_DOWN), 0);
    EXPECT_EQ(sendKey(&w->window, XKEY_UP), 0);
    EXPECT_EQ(sendKey(&w->window, kKeyPageUp), 0);
    EXPECT_EQ(sendKey(&w->window, kKeyPageDown), 0);
    EXPECT_EQ(sendKey(&w->window, XKEY_LEFT), XWIN_NOT_HANDLED);
    EXPECT_EQ(sendKey(&w->window, XKEY_RIGHT), XWIN_NOT_HANDLED);
    EXPECT_EQ(sendKey(&w->window, 49), XWIN_NOT_HANDLED);
}

struct PagingCase {
    const char* name;
    uint16_t key;
    MenuState before;
    std::vector<int> unselectable;  // data of items without the selectable flag
    int32_t result;
    MenuState after;
};
// Cases print as their name, so test listings stay short and stable.
void PrintTo(const PagingCase& c, std::ostream* os) { *os << c.name; }

class MenuPaging : public MenuList, public ::testing::WithParamInterface<PagingCase> {};

// Ten items, three rows.
TEST_P(MenuPaging, PageKeys) {
    const PagingCase& c = GetParam();
    XMenuListWgt* w = make(3);
    std::vector<uint32_t> flags(10, kSel);
    for (int d : c.unselectable) flags[size_t(d - 1)] = 0;
    fill(w, 10, flags);
    setState(w, c.before);
    EXPECT_EQ(sendKey(&w->window, c.key), c.result);
    EXPECT_EQ(state(w), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MenuPaging,
    ::testing::Values(
        PagingCase{"DownFromTheFirstPage", kKeyPageDown, {1, 1, 3}, {}, 0, {3, 3, 5}},
        PagingCase{"DownNearTheEnd", kKeyPageDown, {8, 7, 9}, {}, 0, {9, 8, 10}},
        PagingCase{"DownOnTheLastPage", kKeyPageDown, {9, 8, 10}, {}, 0, {10, 8, 10}},
        PagingCase{"DownOnTheLastItem", kKeyPageDown, {10, 8, 10}, {}, XWIN_NOT_HANDLED,
                   {10, 8, 10}},
        PagingCase{"DownToUnselectableBound", kKeyPageDown, {1, 1, 3}, {3}, 0, {4, 3, 5}},
        PagingCase{"DownWithNothingSelectableAfter", kKeyPageDown, {1, 1, 3},
                   {3, 4, 5, 6, 7, 8, 9, 10}, XWIN_NOT_HANDLED, {1, 1, 3}},
        PagingCase{"DownWithoutPage", kKeyPageDown, {5, 0, 0}, {}, XWIN_NOT_HANDLED, {5, 0, 0}},
        PagingCase{"UpFromTheBottom", kKeyPageUp, {6, 4, 6}, {}, 0, {4, 2, 4}},
        PagingCase{"UpOnTheFirstPage", kKeyPageUp, {3, 1, 3}, {}, 0, {1, 1, 3}},
        PagingCase{"UpOnTheFirstItem", kKeyPageUp, {1, 1, 3}, {}, XWIN_NOT_HANDLED, {1, 1, 3}},
        PagingCase{"UpToUnselectableBound", kKeyPageUp, {6, 4, 6}, {4}, 0, {3, 2, 4}},
        PagingCase{"UpWithNothingSelectableBefore", kKeyPageUp, {6, 4, 6}, {1, 2, 3, 4},
                   XWIN_NOT_HANDLED, {6, 4, 6}},
        PagingCase{"UpWithoutPage", kKeyPageUp, {5, 0, 0}, {}, XWIN_NOT_HANDLED, {5, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MenuList, RightOnAValueItemWrapsAndReportsTheChange) {
    XMenuListWgt* w = make(3);
    w->onChange = &recordChange;
    XMenuListValue value = makeValue("Input", {"TV", "AV", "HD"}, 2);
    ASSERT_EQ(XMenuListWgt_InsertData(w, 0, reinterpret_cast<uintptr_t>(&value), kValue), 0);
    validate(&w->window);
    EXPECT_EQ(sendKey(&w->window, XKEY_RIGHT), 0);
    EXPECT_EQ(value.index, 0u);
    EXPECT_EQ(w->changed & 1, 1u);
    EXPECT_EQ(rec().changes, 1);
    EXPECT_TRUE(rec().invalidAtChange);  // the callback runs after the invalidation
    EXPECT_EQ(sendKey(&w->window, XKEY_LEFT), 0);
    EXPECT_EQ(value.index, 2u);
    EXPECT_EQ(sendKey(&w->window, XKEY_LEFT), 0);
    EXPECT_EQ(value.index, 1u);
    EXPECT_EQ(rec().changes, 3);
}

TEST_F(MenuList, LeftAndRightOnOtherItems) {
    XMenuListWgt* w = make(3);
    w->onChange = &recordChange;
    XMenuListValue otherKind = makeValue("X", {"a", "b"}, 1, 2);
    XMenuListValue noChoices = makeValue("Y", {}, 0);
    ASSERT_EQ(XMenuListWgt_InsertData(w, 0, 1, kSel), 0);
    ASSERT_EQ(XMenuListWgt_InsertData(w, 0, reinterpret_cast<uintptr_t>(&otherKind), kValue), 0);
    ASSERT_EQ(XMenuListWgt_InsertData(w, 0, reinterpret_cast<uintptr_t>(&noChoices), kValue), 0);
    for (int i = 0; i < 3; ++i) {
        XMenuListWgt_SetFocus(w, i);
        validate(&w->window);
        EXPECT_EQ(sendKey(&w->window, XKEY_RIGHT), 0) << i;  // handled with a redraw request
        EXPECT_TRUE(isInvalid(&w->window)) << i;
    }
    EXPECT_EQ(otherKind.index, 1u);
    EXPECT_EQ(noChoices.index, 0u);
    EXPECT_EQ(w->changed, 0u);
    EXPECT_EQ(rec().changes, 0);
}

TEST_F(MenuList, SelectCallsTheApplication) {
    XMenuListWgt* w = make(3);
    fill(w, 2);
    EXPECT_EQ(sendKey(&w->window, kKeySelect), XWIN_NOT_HANDLED);
    w->onSelect = &recordSelect;
    w->cbArg = 1234;
    EXPECT_EQ(sendKey(&w->window, kKeySelect, 77), 0);
    ASSERT_EQ(rec().selects.size(), 1u);
    EXPECT_EQ(rec().selects[0].first, 1234u);
    EXPECT_EQ(rec().selects[0].second, 77u);
    EXPECT_EQ(sendKey(&w->window, 49), XWIN_NOT_HANDLED);
}

// ---- rendering ------------------------------------------------------------------------------

TEST_F(MenuList, CellsOfItemsAndEmptyRowsGoToTheCallback) {
    XMenuListWgt* w = make(3, 32, 0, {20, 20, 200, 140}, 2);
    fill(w, 5);
    setState(w, {5, 4, 5});
    XWIN_Render(&w->window);
    ASSERT_EQ(rec().cells.size(), 6u);
    const auto& cells = rec().cells;
    EXPECT_EQ(cells[0].data, 4u);
    EXPECT_EQ(cells[0].index, 3);
    EXPECT_EQ(cells[0].isCurrent, 0u);
    EXPECT_EQ(cells[3].data, 5u);
    EXPECT_EQ(cells[3].isCurrent, 1u);
    EXPECT_EQ(cells[3].column, 1);
    EXPECT_EQ(cells[3].row, 1);
    // The third row is past the last item: an empty row.
    EXPECT_EQ(cells[4].data, 0u);
    EXPECT_EQ(cells[4].flags, kSel);
    EXPECT_EQ(cells[4].isCurrent, 0u);
    EXPECT_EQ(cells[4].index, 5);
    // Rectangles as the grid has them; the callback converts them like any drawing.
    for (size_t i = 0; i < cells.size(); ++i) {
        EXPECT_EQ(cells[i].rect.x, w->cells[i].x) << i;
        EXPECT_EQ(cells[i].rect.y, w->cells[i].y) << i;
    }
}

TEST_F(MenuList, RowsAreDrawnOffsetByTheWidgetPosition) {
    XMenuListWgt* w = make(2, 4, 0, {20, 20, 200, 100});
    XMenuListValue value = makeValue("In", {"TV"}, 0);
    ASSERT_EQ(XMenuListWgt_InsertData(w, 0, reinterpret_cast<uintptr_t>(&value), kValue), 0);
    XMenuListWgt_ReorderData(w);
    XWIN_Render(&w->window);
    // The list area says (20, 40); the first row appears at (40, 60) of the form.
    EXPECT_EQ(w->cells[0].x, 20);
    EXPECT_EQ(w->cells[0].y, 40);
    EXPECT_EQ(at(40, 60), 1);
    EXPECT_EQ(at(39, 60), 0);
    EXPECT_EQ(at(40, 59), 0);
}

TEST_F(MenuList, HiddenWidgetDrawsNothing) {
    XMenuListWgt* w = make(3, 4, XMENULIST_OPT_FILL_AREA | XMENULIST_OPT_ARROWS);
    fill(w, 2);
    XWIN_Hide(&w->window);
    clearScreen();
    w->window.renderFn(&w->window);
    EXPECT_EQ(countColour(0, 0, kWidth, kHeight, 1), 0);
    EXPECT_TRUE(rec().cells.empty());
}

TEST_F(MenuList, RenderKeepsTheFormsGraphicsContext) {
    XMenuListWgt* w = make(3, 4, XMENULIST_OPT_FILL_AREA | XMENULIST_OPT_ARROWS);
    XMenuListValue value = makeValue("In", {"TV"}, 0);
    ASSERT_EQ(XMenuListWgt_InsertData(w, 0, reinterpret_cast<uintptr_t>(&value), kValue), 0);
    form_.gc.textColor = 21;
    form_.gc.fillColor = 22;
    form_.gc.mode = XGC_MODE_FILL | XGC_MODE_BORDER;
    w->window.renderFn(&w->window);
    EXPECT_EQ(form_.gc.textColor, 21);
    EXPECT_EQ(form_.gc.fillColor, 22);
    EXPECT_EQ(form_.gc.mode, XGC_MODE_FILL | XGC_MODE_BORDER);
}

// A page of value items with scroll arrows and the filled list area: labels in column 0,
// the current choice between two triangles in column 1, the current row highlighted.
TEST_F(MenuList, GoldenMenuPage) {
    XMenuListDesc d = desc(3, 8, 2);
    d.columnWidths[0] = 40;
    d.columnWidths[1] = 70;
    const XPosInfo position{4, 4, 110, 90};
    XMenuListWgt* w = XMenuListWgt_Create(&form_, 0, XMENULIST_OPT_ARROWS | XMENULIST_OPT_FILL_AREA,
                                          &d, &position);
    ASSERT_NE(w, nullptr);
    XMenuListValue values[] = {makeValue("In", {"TV", "AV"}, 0), makeValue("PQ", {"Eco"}, 0),
                               makeValue("Sn", {"On", "Off"}, 1), makeValue("Zz", {"A"}, 0)};
    for (auto& value : values)
        ASSERT_EQ(XMenuListWgt_InsertData(w, 0, reinterpret_cast<uintptr_t>(&value), kValue), 0);
    XMenuListWgt_SetFocus(w, 1);
    XMenuListWgt_ReorderData(w);
    XWIN_Render(&w->window);
    expectGolden("menu_page", art(0, 0, 122, 102));
}

// ---- destruction ----------------------------------------------------------------------------

TEST_F(MenuList, DestroyHandsEveryDataToTheFreeCallback) {
    XWindow form{};
    createForm(form);
    const XPosInfo whole{0, 0, 100, 100};
    const XMenuListDesc d = desc(3, 8);
    XMenuListWgt* w = XMenuListWgt_Create(&form, 0, 0, &d, &whole);
    ASSERT_NE(w, nullptr);
    for (uintptr_t data : {7, 0, 9}) ASSERT_EQ(XMenuListWgt_InsertData(w, 0, data, kSel), 0);
    ASSERT_EQ(XWIN_Destroy(&form, 0), 0);
    EXPECT_EQ(rec().freed, (std::vector<uintptr_t>{7, 9}));
}

// 300 pools of 512 items would be several megabytes.
TEST_F(MenuList, DestroyReleasesEverything) {
    expectNoGrowthOverFormCycles(300, [](XWindow& form) {
        const XPosInfo whole{0, 0, 100, 100};
        const XMenuListDesc d = desc(8, 512, 4);
        XMenuListWgt* w = XMenuListWgt_Create(&form, 0, 0, &d, &whole);
        ASSERT_NE(w, nullptr);
        fill(w, 20);
    });
}

// ---- no stale references ------------------------------------------------------------------

// Random insertions, removals, keys, focus changes, page computations and flushes: after every
// step the current item and the page bounds are listed items (or null), and the page can be
// drawn.
TEST_F(MenuList, CurrentAndPageNeverReferToARemovedItem) {
    quietLog();
    for (uint8_t rows : {1, 2, 3, 5}) {
        XWindow form{};
        createForm(form);
        const XPosInfo whole{0, 0, 100, 100};
        const XMenuListDesc d = desc(rows, 12);
        XMenuListWgt* w = XMenuListWgt_Create(&form, 0, XMENULIST_OPT_ARROWS, &d, &whole);
        ASSERT_NE(w, nullptr);
        std::mt19937 random(rows);
        uintptr_t next = 1;
        const uint16_t keys[] = {XKEY_UP, XKEY_DOWN, kKeyPageUp, kKeyPageDown, XKEY_LEFT};
        auto listed = [&](XMenuListItem* item) {
            return item == nullptr || XSLIST_GetObjectIndex(&w->items, item) >= 0;
        };
        for (int step = 0; step < 4000; ++step) {
            const auto items = order(w);
            switch (random() % 8) {
            case 0:
            case 1:
                XMenuListWgt_InsertData(w, 0, next++, random() % 4 ? kSel : 0);
                break;
            case 2:
            case 3:
                if (!items.empty()) XMenuListWgt_DeleteData(w, items[random() % items.size()]);
                break;
            case 4:
                sendKey(&w->window, keys[random() % 5]);
                break;
            case 5:
                XMenuListWgt_SetFocus(w, int32_t(random() % 16) - 2);
                break;
            case 6:
                XMenuListWgt_ReorderData(w);
                break;
            default:
                if (random() % 20 == 0) XMenuListWgt_FlushData(w);
                break;
            }
            ASSERT_TRUE(listed(w->current)) << "step " << step;
            ASSERT_TRUE(listed(w->firstVisible)) << "step " << step;
            ASSERT_TRUE(listed(w->lastVisible)) << "step " << step;
            ASSERT_EQ(w->current == nullptr, w->items.count == 0) << "step " << step;
            rec().cells.clear();
            XWIN_Render(&w->window);
            ASSERT_EQ(rec().cells.size(), rows) << "step " << step;
        }
        ASSERT_EQ(XWIN_Destroy(&form, 0), 0);
    }
}

}  // namespace
}  // namespace veld::test
