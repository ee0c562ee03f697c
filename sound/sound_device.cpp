// sound_device.cpp: opening and closing the process-wide sound output device.
//
// InitSoundDevice opens the default output device, sets the primary (output)
// format from the device's capabilities, makes a one-second beep buffer and
// reports the capabilities in the log. Every other sound operation first asks
// IsSoundDeviceOpen; without a device they all fail and the program goes on
// without sound.
#include <climits>
#include <cmath>

#include "core/core.h"
#include "platform/platform.h"
#include "platform/sound_device.h"
#include "sound/sound.h"
#include "sound/sound_internal.h"

namespace {

constexpr int BEEP_TONE_FREQUENCY = 8000;   // Hz
constexpr int BEEP_RATE = 44100;            // Hz
constexpr int BEEP_BYTES = 88200;           // one second of 16-bit mono
constexpr double BEEP_AMPLITUDE = 32000;    // close to full scale
constexpr uint32_t PRIMARY_RATE_LIMIT = 44100;  // Hz

struct SoundDeviceState {
    int open;           // the device exists
    int primaryBuffer;  // 1 while the primary buffer exists
    int beepBuffer;     // device buffer id, 0 = none
};

SoundDeviceState SOUND_DEVICE = {};

const char* YesNo(uint32_t flags, uint32_t flag) { return (flags & flag) ? "OK" : "NO"; }

void CloseDevice(void) {
    PLATFORM.sound->ReleaseDevice();
    SOUND_DEVICE.open = 0;
    SOUND_DEVICE.primaryBuffer = 0;
    SOUND_DEVICE.beepBuffer = 0;
}

// The output format the device's capabilities allow: stereo and 16 bits when
// it has them, its highest secondary rate up to 44100 Hz.
WaveFormat MakePrimaryFormat(const PlatformSoundCaps* caps) {
    WaveFormat format = {};
    format.formatTag = WAVE_FORMAT_PCM;
    format.channels = (caps->flags & DSCAPS_PRIMARYSTEREO) ? 2 : 1;
    format.bitsPerSample = (caps->flags & DSCAPS_PRIMARY16BIT) ? 16 : 8;
    format.samplesPerSecond = caps->maxSecondaryRate >= PRIMARY_RATE_LIMIT ? PRIMARY_RATE_LIMIT : caps->maxSecondaryRate;
    format.blockAlign = (uint16_t)(format.bitsPerSample / 8 * format.channels);
    format.averageBytesPerSecond = format.blockAlign * format.samplesPerSecond;
    format.extraSize = 0;
    return format;
}

// A one-second sine of the given tone. Losing the buffer loses the device.
int CreateBeepBuffer(int toneFrequency) {
    WaveFormat format = {WAVE_FORMAT_PCM, 1, BEEP_RATE, BEEP_RATE * 2, 2, 16, 0, 0};
    int id = PLATFORM.sound->CreateBuffer(&format, BEEP_BYTES, DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN | DSBCAPS_STATIC);
    if (id <= 0) {
        WriteLog("ビープ用DirectSoundのプライマリサウンドバッファの作成に失敗しました\n");
        CloseDevice();
        return -1;
    }
    SOUND_DEVICE.beepBuffer = id;
    void* part1 = nullptr;
    void* part2 = nullptr;
    uint32_t bytes1 = 0, bytes2 = 0;
    if (PLATFORM.sound->Lock(id, 0, BEEP_BYTES, &part1, &bytes1, &part2, &bytes2) != 0) return 0;
    int16_t* samples = (int16_t*)part1;
    for (uint32_t i = 0; i < bytes1 / 2; i++) {
        samples[i] = (int16_t)lrint(BEEP_AMPLITUDE * sin(2.0 * M_PI * toneFrequency * i / BEEP_RATE));
    }
    PLATFORM.sound->Unlock(id, part1, bytes1, part2, bytes2);
    return 0;
}

void LogDevice(const char* description, const char* module, void*) {
    WriteLogFormat("モジュール名:%15s  ドライバ記述:%s ", module, description);
}

void WriteCapabilityReport(void) {
    IncreaseLogIndent();
    PlatformSoundCaps caps = {};
    PLATFORM.sound->GetCaps(&caps);
    WriteLog("DirectSound デバイスを列挙します\n");
    IncreaseLogIndent();
    PLATFORM.sound->EnumerateDevices(LogDevice, nullptr);
    DecreaseLogIndent();
    WriteLogFormat("最大サンプリングレート:%.2fKHz 最小サンプリングレート:%.2fKHz ",
                   (double)caps.maxSecondaryRate / 1000, (double)caps.minSecondaryRate / 1000);
    WriteLogFormat("総サウンドメモリ領域:%.2fKB 空きサウンドメモリ領域:%.2fKB \n",
                   (double)caps.totalHardwareMemory / 1024, (double)caps.freeHardwareMemory / 1024);
    WriteLog("利用可能サンプリング精度\n");
    WriteLogFormat(" プライマリ １６bit = %s  ８bit = %s ", YesNo(caps.flags, DSCAPS_PRIMARY16BIT),
                   YesNo(caps.flags, DSCAPS_PRIMARY8BIT));
    WriteLogFormat(" セカンダリ １６bit = %s  ８bit = %s \n", YesNo(caps.flags, DSCAPS_SECONDARY16BIT),
                   YesNo(caps.flags, DSCAPS_SECONDARY8BIT));
    WriteLog("利用可能チャンネル\n");
    WriteLogFormat(" プライマリ MONO = %s  STEREO = %s ", YesNo(caps.flags, DSCAPS_PRIMARYMONO),
                   YesNo(caps.flags, DSCAPS_PRIMARYSTEREO));
    WriteLogFormat(" セカンダリ MONO = %s  STEREO = %s \n", YesNo(caps.flags, DSCAPS_SECONDARYMONO),
                   YesNo(caps.flags, DSCAPS_SECONDARYSTEREO));
    DecreaseLogIndent();
}

void DeleteAllSoundHandles(void) {
    for (int slot = 0; slot < MAX_SOUND_HANDLES; slot++) DeleteSoundHandle(SOUND_HANDLE_BASE + slot);
}

}  // namespace

int IsSoundDeviceOpen(void) { return SOUND_DEVICE.open; }

int GetSoundDeviceMaxFrequency(void) {
    if (!SOUND_DEVICE.open) return -1;
    PlatformSoundCaps caps = {};
    if (PLATFORM.sound->GetCaps(&caps) != 0 || caps.maxSecondaryRate == 0) return -1;
    return caps.maxSecondaryRate > (uint32_t)INT_MAX ? INT_MAX : (int)caps.maxSecondaryRate;
}

int InitSoundDevice(void) {
    if (SOUND_DEVICE.open) return -1;
    WriteLog("DirectSound の初期化を行います\n");
    if (!PLATFORM.sound || PLATFORM.sound->CreateDevice() != 0) {
        SOUND_DEVICE.open = 0;
        return WriteLog("DirectSoundの初期化に失敗しました\n");
    }
    SOUND_DEVICE.open = 1;
    if (PLATFORM.sound->SetCooperativeLevel() != 0) {
        WriteLog("DirectSoundの協調レベルの設定に失敗しました\n");
        CloseDevice();
        return -1;
    }
    if (PLATFORM.sound->CreatePrimaryBuffer() != 0) {
        WriteLog("DirectSoundのプライマリサウンドバッファの作成に失敗しました\n");
        CloseDevice();
        return -1;
    }
    SOUND_DEVICE.primaryBuffer = 1;

    PlatformSoundCaps caps = {};
    PLATFORM.sound->GetCaps(&caps);
    WaveFormat primary = MakePrimaryFormat(&caps);
    if (PLATFORM.sound->SetPrimaryFormat(&primary) != 0) {
        WriteLog("DirectSoundのプライマリサウンドバッファのフォーマット設定に失敗しました\n");
    }

    CreateBeepBuffer(BEEP_TONE_FREQUENCY);
    if (SOUND_DEVICE.open) WriteCapabilityReport();
    WriteLog("DirectSound の初期化は正常に終了しました\n");
    if (SOUND_DEVICE.open) DeleteAllSoundHandles();
    return 0;
}

int EndSoundDevice(void) {
    if (!SOUND_DEVICE.open) return -1;
    DeleteAllSoundHandles();
    if (SOUND_DEVICE.primaryBuffer) {
        PLATFORM.sound->StopPrimaryBuffer();
        PLATFORM.sound->ReleasePrimaryBuffer();
        SOUND_DEVICE.primaryBuffer = 0;
    }
    if (SOUND_DEVICE.beepBuffer) {
        PLATFORM.sound->ReleaseBuffer(SOUND_DEVICE.beepBuffer);
        SOUND_DEVICE.beepBuffer = 0;
    }
    CloseDevice();
    WriteLog("DirectSound の終了処理は正常に終了しました\n");
    return 0;
}
