// The window system's event queue: a System V message queue carrying 28-byte XEvent records
// between threads (and processes). Sends never block; receives wait for the next message.
#include <sys/ipc.h>
#include <sys/msg.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "seam.h"
#include "veldd_log.h"
#include "xdrv.h"

using namespace veld::loglevel;

namespace {

struct QueueMessage {
    long type;  // always 1
    XEvent event;
};

std::atomic<int> gEventQueueId{-1};

int resolve(uint32_t queueId) {
    return queueId == 0 ? veld::xdrv::eventQueueId() : static_cast<int>(queueId);
}

// The system's error after a failed queue call, under the name of the operation that made it.
void logErrno(const char* operation) {
    VELDD_LOG_AS(operation, kError, "[xErr] errno=%d(%s)\n", errno, strerror(errno));
}

}  // namespace

namespace veld::xdrv {

int eventQueueId() {
    int id = gEventQueueId.load(std::memory_order_acquire);
    if (id >= 0) return id;
    // Opening the same key twice is harmless: every caller gets the same id.
    id = msgget(veld::seam::sysvKey(queueKey(kEventQueueName)), IPC_CREAT | 0666);
    if (id >= 0) gEventQueueId.store(id, std::memory_order_release);
    return id;
}

}  // namespace veld::xdrv

extern "C" {

uint32_t XDRV_CreateQueue(const char* name, uint32_t /*ignored*/) {
    const uint32_t key = veld::xdrv::queueKey(name);
    const int id = msgget(veld::seam::sysvKey(key), IPC_CREAT | 0666);
    VELDD_LOG(kDebug, "[xDbg] ipc_fd = %d, qname = %s, hash = 0x%08x\n", id, name, key);
    if (id < 0) {
        VELDD_LOG(kError, "[xErr] can't create msg_queue (%s)\n", name);
        logErrno(__func__);
        return 0;
    }
    if (std::strcmp(name, veld::xdrv::kEventQueueName) == 0)
        gEventQueueId.store(id, std::memory_order_release);
    return static_cast<uint32_t>(id);
}

int32_t XDRV_SendQueue(uint32_t queueId, const XEvent* event, uint32_t /*ignored*/) {
    if (!event) return -5;
    QueueMessage message{1, *event};
    const int id = resolve(queueId);
    if (id < 0 || msgsnd(id, &message, sizeof(XEvent), IPC_NOWAIT) != 0) {
        VELDD_LOG(kError, "[xErr] can't send ipc (0x%x)\n", queueId);
        logErrno(__func__);
        return -5;
    }
    return 0;
}

int32_t XDRV_ReceiveQueue(uint32_t queueId, XEvent* event, uint32_t /*ignored*/) {
    if (!event) return -5;
    QueueMessage message{};
    const int id = resolve(queueId);
    if (id < 0 || msgrcv(id, &message, sizeof(XEvent), 0, 0) < 0) {
        VELDD_LOG(kError, "[xErr] rc<0\n");
        logErrno(__func__);
        return -5;
    }
    *event = message.event;
    return 0;
}

}  // extern "C"
