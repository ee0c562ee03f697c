// message_queue.cpp: the queues of posted and translated window messages.
//
// A fixed ring per queue; when a ring is full the oldest message makes room.
#include "platform/platform.h"

namespace {

enum { QUEUE_CAPACITY = 256 };

struct MessageRing {
    PlatformMessage items[QUEUE_CAPACITY];
    int head;   // index of the oldest message
    int count;
};

MessageRing QUEUES[2];

}  // namespace

void PushPlatformMessage(int queue, const PlatformMessage* message) {
    MessageRing& ring = QUEUES[queue == MESSAGE_QUEUE_THREAD ? 0 : 1];
    if (ring.count == QUEUE_CAPACITY) {
        ring.head = (ring.head + 1) % QUEUE_CAPACITY;
        ring.count--;
    }
    ring.items[(ring.head + ring.count) % QUEUE_CAPACITY] = *message;
    ring.count++;
}

int PopPlatformMessage(int queue, PlatformMessage* message) {
    MessageRing& ring = QUEUES[queue == MESSAGE_QUEUE_THREAD ? 0 : 1];
    if (ring.count == 0) return 0;
    *message = ring.items[ring.head];
    ring.head = (ring.head + 1) % QUEUE_CAPACITY;
    ring.count--;
    return 1;
}

void ClearPlatformMessages(void) {
    QUEUES[0] = MessageRing{};
    QUEUES[1] = MessageRing{};
}
