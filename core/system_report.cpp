// system_report.cpp: the machine report at the head of the log, and the gate
// that refuses to start when the media layer (display and window system) cannot.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/core.h"
#include "core/core_internal.h"
#include "platform/platform.h"

namespace {

struct SystemReportState {
    int osCode;
    int mediaVersionCode;  // major in the high byte, minor in the low byte
};

SystemReportState REPORT = {};

enum { MEDIA_VERSION_REQUIRED = 0x700 };

// The number after the first '-' of a kernel release ("6.1.0-18-amd64" -> 18):
// the build of that kernel version.
int ParseKernelBuild(const char* release) {
    const char* dash = strchr(release, '-');
    return dash ? atoi(dash + 1) : 0;
}

void WriteProcessorLines(const PlatformCpuInfo& cpu) {
    if (!cpu.hasCpuid) {
        WriteLog("ＣＰＵＩＤ命令は使えません\n");
        return;
    }
    WriteLog(cpu.hasMmx ? "ＭＭＸ命令を使用します\n" : "ＭＭＸは使えません\n");
    WriteLog("ＣＰＵベンダ：");
    WriteLog(cpu.vendor);
    WriteLog("\n");
    if (cpu.hasBrand) {
        WriteLog("ＣＰＵ名：");
        WriteLog(cpu.brand);
        WriteLog("\n");
    }
}

void WriteProcessorSpeed(const PlatformCpuInfo& cpu) {
    if (!cpu.hasCpuid || !cpu.hasTimeStampCounter) return;
    uint64_t startTsc = PLATFORM.clock->ReadTimeStampCounter();
    uint32_t startMs = PLATFORM.clock->GetMilliseconds();
    while (PLATFORM.clock->GetMilliseconds() - startMs < 200) {
    }
    uint64_t endTsc = PLATFORM.clock->ReadTimeStampCounter();
    WriteLogFormat("ＣＰＵ動作速度：%dMHz", (int)((int64_t)(endTsc - startTsc) / 200000));
}

}  // namespace

int GetOsCode(void) { return REPORT.osCode; }
const char* GetLibraryVersion(void) { return "2.06b"; }
int GetMediaVersionCode(void) { return REPORT.mediaVersionCode; }

int WriteSystemReport(void) {
    WriteLog("システムの情報を出力します\n");
    IncreaseLogIndent();
    WriteLogFormat("Ravlin Ver%s", GetLibraryVersion());

    // An operating system the report does not know writes no variant and
    // leaves the code as it was; the kernel release stands as the build text.
    char release[128] = "";
    PLATFORM.system->GetOsRelease(release, sizeof release);
    WriteLog("ＯＳ  Windows");
    WriteLogFormat(" ( Build %d %s )", ParseKernelBuild(release), release);

    int major = 0, minor = 0, patch = 0;
    if (PLATFORM.system->CanStartMediaLayer()) {
        PLATFORM.system->GetMediaLayerVersion(&major, &minor, &patch);
        REPORT.mediaVersionCode = MEDIA_VERSION_REQUIRED;
    } else {
        REPORT.mediaVersionCode = 0;
    }
    WriteLog("ＤｉｒｅｃｔＸ　Ver");
    if (minor != 0) {
        WriteLogFormat("%d.%d", major, minor);
    } else {
        WriteLogFormat("%d", major);
    }

    PlatformCpuInfo cpu = {};
    PLATFORM.clock->GetCpuInfo(&cpu);
    WriteProcessorLines(cpu);
    // The measurement busy-waits 200 ms for a line only the log shows.
    if (IsLogWritten()) WriteProcessorSpeed(cpu);
    DecreaseLogIndent();

    if (REPORT.mediaVersionCode < MEDIA_VERSION_REQUIRED) {
        PLATFORM.system->ShowErrorBox("エラー", REPORT.mediaVersionCode == 0
                                                 ? "DirectX がインストールされていないのでここで終了します"
                                                 : "DirectX バージョン 7 以前なのでソフトを起動することが出来ません");
        // The box names no cause: the platform says what it could not open.
        if (REPORT.mediaVersionCode == 0) PLATFORM.system->ReportMediaLayerFailure();
        PLATFORM.system->ExitProcess(-1);
    }
    return 0;
}
