/* frame_sleeps.c: the player's frame loop with nothing in it but its two
 * waits, a plain 10 ms sleep and the wait for the next 1/60 s boundary (the
 * vertical blank as the player's screen layer waits for it). The player
 * benchmark measures its CPU share beside the player's: what the waking alone
 * costs on the machine. */
#include <stdint.h>
#include <time.h>

static int64_t Now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (int64_t)t.tv_sec * 1000000000LL + t.tv_nsec;
}

int main(void) {
    const int64_t period = 1000000000LL / 60;
    for (;;) {
        struct timespec ten = {0, 10 * 1000 * 1000};
        nanosleep(&ten, NULL);
        int64_t next = (Now() / period + 1) * period;
        struct timespec until = {(time_t)(next / 1000000000LL), (long)(next % 1000000000LL)};
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, NULL);
    }
}
