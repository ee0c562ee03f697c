// screen_frame_bench.cpp: CPU cost of one frame's screen work at 350 x 120,
// ClearDrawTarget + PresentScreen without the vertical-blank wait, beside a
// plain SDL fill and window update of the same window in the same run.
// Needs a display; screen_frame_bench.sh runs it at depths 24 and 16.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "core/core.h"
#include "platform/sdl2/sdl2_internal.h"
#include "screen/screen.h"

namespace {

void BM_ScreenFrame(benchmark::State& state) {
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
