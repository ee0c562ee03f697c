// frequency.cpp: the arrow keys' steps of the playback frequency.
#include <climits>
#include <cmath>

#include "app/player.h"
#include "ravlin.h"

namespace {

int RaiseFrequency(int frequency, int step) {
    return frequency <= INT_MAX - step ? frequency + step : INT_MAX;
}

}  // namespace

int StepFrequency(int frequency, int padBits) {
    // A pair held together cancels: taken one after the other, the rise would
    // stop at INT_MAX and the fall would then lower the value.
    const int upDown = PAD_UP | PAD_DOWN, rightLeft = PAD_RIGHT | PAD_LEFT;
    if ((padBits & upDown) == upDown) padBits &= ~upDown;
    if ((padBits & rightLeft) == rightLeft) padBits &= ~rightLeft;
    if (padBits & PAD_UP) frequency = RaiseFrequency(frequency, 100);
    if ((padBits & PAD_DOWN) && frequency >= 200) frequency -= 100;
    if (padBits & PAD_RIGHT) frequency = RaiseFrequency(frequency, 50);
    if ((padBits & PAD_LEFT) && frequency >= 150) frequency -= 50;
    return frequency;
}

int FrequencyOfRate(int frequency, double rate, int maxFrequency) {
    if (!(rate > 0) || !std::isfinite(rate)) return frequency;
    double hz = std::nearbyint(rate * (int)START_FREQUENCY);
    if (hz < (int)MIN_FREQUENCY) return MIN_FREQUENCY;
    if (hz > maxFrequency) return maxFrequency;
    return (int)hz;
}

int HeardFrequency(int heard, int frequency, int maxFrequency) {
    return frequency >= (int)MIN_FREQUENCY && frequency <= maxFrequency ? frequency : heard;
}
