// The window system's event record and the codes it carries: the 28-byte XEvent that travels
// through the "uxm-evq" queue, key data, event types, key codes and window message codes.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// Payload of a key event, and what a window's key function receives.
struct XKeyData {
    uint16_t code;      // key code or window message code
    uint16_t reserved;
    uint32_t value;     // 0 for keys pushed by the daemon's message thread
    uint32_t extra[4];  // filled by XWM_PushKeyEventEx
};
static_assert(sizeof(XKeyData) == 24);
static_assert(offsetof(XKeyData, value) == 4 && offsetof(XKeyData, extra) == 8);

struct XEvent {
    uint32_t type;
    union {
        XKeyData key;
        uint32_t param[6];
        uint8_t bytes[24];
    };
};
static_assert(sizeof(XEvent) == 28);
static_assert(offsetof(XEvent, key) == 4);

}  // extern "C"

// Event types.
constexpr uint32_t XEVENT_QUIT = 3;
constexpr uint32_t XEVENT_DISP_SYNC = 4;
constexpr uint32_t XEVENT_CLOCK_TICK = 20;
constexpr uint32_t XEVENT_KEY = 192;

// Arrow keys, the only keys the window system interprets itself.
constexpr uint16_t XKEY_RIGHT = 39;
constexpr uint16_t XKEY_DOWN = 47;
constexpr uint16_t XKEY_LEFT = 59;
constexpr uint16_t XKEY_UP = 91;

// Window message codes, delivered in XKeyData::code.
constexpr uint16_t XMSG_TIME_TICK = 0x1064;
constexpr uint16_t XMSG_CLOCK = 0x1065;
constexpr uint16_t XMSG_TIMER = 0x106E;
constexpr uint16_t XMSG_TIMER0 = 0x106F;
constexpr uint16_t XMSG_EDGE_UP = 0x10C8;
constexpr uint16_t XMSG_EDGE_DOWN = 0x10C9;
constexpr uint16_t XMSG_EDGE_LEFT = 0x10CA;
constexpr uint16_t XMSG_EDGE_RIGHT = 0x10CB;
constexpr uint16_t XMSG_CREATE = 0x10D3;
constexpr uint16_t XMSG_DESTROY = 0x10D4;
constexpr uint16_t XMSG_FOCUS_IN = 0x10D7;
constexpr uint16_t XMSG_FOCUS_OUT = 0x10D8;
constexpr uint16_t XMSG_SHOW = 0x10DB;
constexpr uint16_t XMSG_HIDE = 0x10DC;
