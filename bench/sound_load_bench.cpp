// sound_load_bench.cpp: times the load of one file, for sound_load_bench.sh.
//
//   sound_load_bench time <file>     best of three, in seconds: the decode path
//                                    alone (file to PCM in memory), the whole
//                                    LoadSoundFile into the real device, the
//                                    same into the fake device; then the PCM
//                                    bytes
//   sound_load_bench memory <file> [device|fake]
//                                    one LoadSoundFile: the growth of the peak
//                                    resident memory over the start, in bytes
//
// The real device is OpenAL Soft on a loopback device (nothing is mixed while
// the load runs, and no sound card is needed): its load is what a program
// pays. The fake device (a vector per buffer) is test infrastructure; its
// figure is printed beside it for comparison only. The rest of the platform is
// the fake one.
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/core.h"
#include "library/library.h"
#include "platform/sound_reader.h"
#include "platform/fake/fake_platform.h"
#include "platform/fake/fake_sound.h"
#include "platform/platform.h"
#include "platform/sound_device.h"
#include "sound/sound.h"
#include "sound/sound_loader_internal.h"

namespace {

double Now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + t.tv_nsec * 1e-9;
}

// Resident memory now (bytes).
long ResidentBytes(void) {
    long pages = 0, resident = 0;
    FILE* f = fopen("/proc/self/statm", "r");
    if (f == nullptr) return 0;
    if (fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    fclose(f);
    return resident * sysconf(_SC_PAGESIZE);
}

long PeakResidentBytes(void) {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss * 1024L;
}

// Seconds of one pass of the decode path over the file.
double TimeDecode(const char* path, uint32_t* pcmBytes) {
    FILE* file = fopen(path, "rb");
    if (file == nullptr) return -1;
    SoundDataSource source;
    OpenFileSoundSource(file, &source);
    DecodedSound sound;
    double start = Now();
    int result = DecodeSoundToPcm(&source, &sound);
    double seconds = Now() - start;
    fclose(file);
    if (result != 0) return -1;
    *pcmBytes = sound.pcmBytes;
    FreeDecodedSound(&sound);
    return seconds;
}

// Opens the sound device: the real one (OpenAL loopback) or the fake one.
int OpenDevice(int real) {
    if (real) {
        PLATFORM.sound = &OPENAL_SOUND_OPS;
        if (OpenLoopbackSoundDevice(44100, 2, LOOPBACK_SHORT) != 0) return -1;
    } else {
        InstallFakeSoundDevice();
    }
    return InitSoundDevice();
}

void CloseDevice(void) {
    EndSoundDevice();
    CloseLoopbackSoundDevice();
}

double TimeLoad(const char* path) {
    double start = Now();
    int handle = LoadSoundFile(path);
    double seconds = Now() - start;
    if (handle == -1) return -1;
    DeleteSoundHandle(handle);
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || (strcmp(argv[1], "time") != 0 && strcmp(argv[1], "memory") != 0)) {
        fprintf(stderr, "usage: %s time <file> | memory <file> [device|fake]\n", argv[0]);
        return 2;
    }
    const char* path = argv[2];
    int real = !(argc > 3 && strcmp(argv[3], "fake") == 0);
    // Any real device opened here plays to nothing.
    setenv("ALSOFT_DRIVERS", "null", 1);
    char cwd[4096];
    InstallFakePlatform();
    FAKE.currentDirectory = getcwd(cwd, sizeof cwd) ? cwd : "/tmp";
    InstallFakeSoundDevice();
    FAKE_SOUND.createDeviceFails = 1;
    PLATFORM.readers = SOUND_READERS;
    SetLogOutputEnabled(0);
    if (InitLibrary() != 0) return 1;
    FAKE_SOUND.createDeviceFails = 0;

    int status = 0;
    if (strcmp(argv[1], "memory") == 0) {
        if (OpenDevice(real) != 0) return 1;
        long before = ResidentBytes();
        double seconds = TimeLoad(path);
        if (seconds < 0) status = 1;
        printf("%ld\n", PeakResidentBytes() - before);
        CloseDevice();
    } else {
        double decode = 1e9, load = 1e9, fakeLoad = 1e9;
        uint32_t pcmBytes = 0;
        for (int real = 1; real >= 0 && status == 0; real--) {
            if (OpenDevice(real) != 0) return 1;
            for (int i = 0; i < 3 && status == 0; i++) {
                double d = TimeDecode(path, &pcmBytes);
                double l = TimeLoad(path);
                if (d < 0 || l < 0) status = 1;
                if (d < decode) decode = d;
                double* best = real ? &load : &fakeLoad;
                if (l < *best) *best = l;
            }
            CloseDevice();
        }
        printf("%.4f %.4f %.4f %u\n", decode, load, fakeLoad, pcmBytes);
    }
    if (status != 0) fprintf(stderr, "load failed: %s\n", path);
    EndLibrary();
    return status;
}
