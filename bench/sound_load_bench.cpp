// sound_load_bench.cpp: one LoadSoundFile of the given file, timed, on the fake
// platform and fake sound device (which keeps a copy of the PCM as a device
// would). Prints "seconds pcm_bytes peak_rss_bytes" for sound_load_bench.sh.
//
//   sound_load_bench <file> [repeats=3]   (the best time of the repeats)
#include <sys/resource.h>
#include <unistd.h>

#include <time.h>
#include <cstdio>
#include <cstdlib>

#include "core/core.h"
#include "platform/codec.h"
#include "platform/fake/fake_platform.h"
#include "platform/fake/fake_sound.h"
#include "platform/platform.h"
#include "sound/sound.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s <file> [repeats]\n", argv[0]);
        return 2;
    }
    int repeats = argc > 2 ? atoi(argv[2]) : 3;
    char cwd[4096];
    InstallFakePlatform();
    FAKE.currentDirectory = getcwd(cwd, sizeof cwd) ? cwd : "/tmp";
    InstallFakeSoundDevice();
    FAKE_SOUND.createDeviceFails = 1;
    PLATFORM.codec = &CODEC_OPS;
    SetLogOutputEnabled(0);
    if (InitLibrary() != 0) return 1;
    FAKE_SOUND.createDeviceFails = 0;
    if (InitSoundDevice() != 0) return 1;

    double best = 1e9;
    size_t pcmBytes = 0;
    for (int i = 0; i < repeats; i++) {
        struct timespec start, end;
        clock_gettime(CLOCK_MONOTONIC, &start);
        int handle = LoadSoundFile(argv[1]);
        clock_gettime(CLOCK_MONOTONIC, &end);
        double seconds = (double)(end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) * 1e-9;
        if (handle == -1) {
            fprintf(stderr, "load failed: %s\n", argv[1]);
            return 1;
        }
        FakeSoundBuffer* buffer = FindFakeSoundBuffer(handle, 0);
        pcmBytes = buffer != nullptr ? buffer->bytes.size() : 0;
        DeleteSoundHandle(handle);
        if (seconds < best) best = seconds;
    }
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    printf("%.4f %zu %ld\n", best, pcmBytes, usage.ru_maxrss * 1024L);
    EndSoundDevice();
    EndLibrary();
    return 0;
}
