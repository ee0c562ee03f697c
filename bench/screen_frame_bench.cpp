// screen_frame_bench.cpp: CPU cost of one frame's screen work at 350 x 120,
// ClearDrawTarget + PresentScreen without the vertical-blank wait, beside a
// plain SDL fill and window update of the same window in the same run.
// Needs a display; screen_frame_bench.sh runs it at depths 24 and 16.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "core/core.h"
#include "library/library.h"
#include "platform/sdl2/sdl2_internal.h"
#include "screen/screen.h"

namespace {

// Each frame differs from the one before by one pixel, so every present sends
// the whole frame to the display.
void BM_ScreenFrame(benchmark::State& state) {
    SetDrawTarget(SCREEN_BACK);
    uint32_t n = 0;
    for (auto _ : state) {
        ClearDrawTarget();
        uint8_t* pixels;
        int pitch;
        ScreenRect visible;
        ScreenSurface* back = GetDrawSurface();
        if (LockScreenSurface(back, &pixels, &pitch, &visible) == 0) {
            pixels[0] = (uint8_t)(++n | 1);
            UnlockScreenSurface(back);
        }
        PresentScreen();
    }
    state.counters["bits"] = GetColorBitDepth();
}

// Every frame equal to the last one: what a player's frames cost while nothing
// on its screen changes (the window already shows the frame).
void BM_ScreenFrameUnchanged(benchmark::State& state) {
    SetDrawTarget(SCREEN_BACK);
    for (auto _ : state) {
        ClearDrawTarget();
        PresentScreen();
    }
    state.counters["bits"] = GetColorBitDepth();
}

void BM_PlainSdlFrame(benchmark::State& state) {
    for (auto _ : state) RunSdl2PlainFrame();
    state.counters["bits"] = GetColorBitDepth();
}

BENCHMARK(BM_ScreenFrame)->MeasureProcessCPUTime()->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ScreenFrameUnchanged)->MeasureProcessCPUTime()->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_PlainSdlFrame)->MeasureProcessCPUTime()->UseRealTime()->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
    char dir[] = "/tmp/ravlin-screen-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr || chdir(dir) != 0) return 1;
    SetLogOutputEnabled(0);
    SetScreenMode(350, 120, 16, -1);
    SetWindowTitleText("Marovel screen bench");
    if (InitLibrary() != 0) {
        fprintf(stderr, "no screen (display? another instance?)\n");
        return 1;
    }
    SetVSyncWait(0);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    EndLibrary();
    rmdir(dir);
    return 0;
}
