// message_queue.cpp: the queues of posted and translated window messages.
//
// A ring per queue that grows when it is full, so that no message is ever
// dropped: a lost close request, focus change or quit would leave the pump
// waiting for it forever. A mouse move queued right behind another replaces
// it, since nothing reads the path in between; a flood of moves takes one slot.
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace {

enum { FIRST_CAPACITY = 256 };  // messages; the ring doubles from here

struct MessageRing {
    PlatformMessage* items;  // malloc, capacity long; null until the first message
    int capacity;
    int head;                // index of the oldest message
    int count;
};

MessageRing QUEUES[2];

MessageRing& RingOf(int queue) { return QUEUES[queue == MESSAGE_QUEUE_THREAD ? 0 : 1]; }

// Doubles the ring, oldest message first in the new block. 0 or -1.
int Grow(MessageRing& ring) {
    int capacity = ring.capacity == 0 ? FIRST_CAPACITY : ring.capacity * 2;
    if (capacity <= ring.capacity) return -1;
    PlatformMessage* items = (PlatformMessage*)malloc(sizeof(PlatformMessage) * (size_t)capacity);
    if (items == nullptr) return -1;
    for (int i = 0; i < ring.count; i++) items[i] = ring.items[(ring.head + i) % ring.capacity];
    free(ring.items);
    ring.items = items;
    ring.capacity = capacity;
    ring.head = 0;
    return 0;
}

}  // namespace

int PushPlatformMessage(int queue, const PlatformMessage* message) {
    MessageRing& ring = RingOf(queue);
    if (message->message == WM_MOUSEMOVE && ring.count > 0) {
        PlatformMessage& newest = ring.items[(ring.head + ring.count - 1) % ring.capacity];
        if (newest.message == WM_MOUSEMOVE) {
            newest = *message;
            return 0;
        }
    }
    if (ring.count == ring.capacity && Grow(ring) != 0) return -1;
    ring.items[(ring.head + ring.count) % ring.capacity] = *message;
    ring.count++;
    return 0;
}

int PopPlatformMessage(int queue, PlatformMessage* message) {
    MessageRing& ring = RingOf(queue);
    if (ring.count == 0) return 0;
    *message = ring.items[ring.head];
    ring.head = (ring.head + 1) % ring.capacity;
    ring.count--;
    return 1;
}

int CountPlatformMessages(int queue) { return RingOf(queue).count; }

void DropPlatformMessages(int queue) {
    MessageRing& ring = RingOf(queue);
    ring.head = 0;
    ring.count = 0;
}

void ClearPlatformMessages(void) {
    for (MessageRing& ring : QUEUES) {
        free(ring.items);
        ring = MessageRing{};
    }
}
