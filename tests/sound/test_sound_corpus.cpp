// test_sound_corpus.cpp: every file of the public conformance corpus through
// LoadSoundFile, checked against the expectation its manifest gives.
//
// The manifest's tables are read at test time. Each row says "OK" with a frame
// count (WAVE: the frames the data holds or a reference decoder gives; MP3: the
// frames of a gapless reference decode; Ogg: the stream's last granule) or a
// refusal. The loader differs from the manifest on purpose in a few places,
// listed in LOADER_RULES with the reason.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cctype>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tests/sound/sound_loader_test_support.h"

namespace {

enum ExpectKind { EXPECT_REFUSE, EXPECT_FRAMES, EXPECT_EITHER };

struct Expectation {
    std::string file;   // path under the corpus folder
    std::string text;   // the manifest's words, for messages
    ExpectKind kind;
    long frames;        // sample frames when loaded
    long tolerance;     // frames either way
};

struct LoaderRule {
    const char* file;
    ExpectKind kind;
    long frames;
    const char* why;
};

// Where the loader's own rules decide otherwise than the manifest.
const LoaderRule LOADER_RULES[] = {
    // MPEG-2 layer II frames are 144000 x bitrate / rate long (as MPEG-1's).
    {"mp3/minimp3-vectors/l2-test32.bit", EXPECT_FRAMES, 72576, "MPEG-2 layer II frame length"},
    {"mp3/minimp3-vectors/l2-nonstandard-test32-size.bit", EXPECT_FRAMES, 72576,
     "MPEG-2 layer II frame length; the walk then sees only valid headers"},
    // A rate whose average bytes per second overflow 32 bits is refused.
    {"malformed/ogg/libnogg/sample-rate-max.ogg", EXPECT_REFUSE, 0, "average bytes per second overflow"},
    // The PCM keeps the first frame's channel count and rate: the stereo
    // frames of a mono stream are mixed down, and a change of rate ends the
    // sound (the 410 frames at 44.1 kHz stand, the 150 at 48 kHz do not).
    {"mp3/minimp3-vectors/l3-he_mode.bit", EXPECT_FRAMES, 128 * 1152, "first frame's channel count throughout"},
    {"mp3/minimp3-vectors/l3-nonstandard-he_44_48khz.bit", EXPECT_FRAMES, 410 * 1152,
     "a change of rate ends the sound"},
    // Its block align (4) contradicts 3 channels of 24 bits; the codec reads
    // 9-byte frames: the 5 samples its name promises.
    {"malformed/wav/scipy/test-8000Hz-le-3ch-5S-24bit-inconsistent.wav", EXPECT_FRAMES, 5,
     "3 x 24-bit frames, not the block align"},
    // The Vorbis decoder reports a hole at the wrongly continued page, and a
    // hole fails the load.
    {"malformed/ogg/libnogg/bad-continued-packet-flag.ogg", EXPECT_REFUSE, 0, "decoder reports a hole"},
};

// The number right after the first place where word is followed by a digit; -1 when none.
long NumberAfter(const std::string& text, const std::string& word) {
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
        size_t digit = at + word.size();
        if (digit < text.size() && isdigit((unsigned char)text[digit])) return strtol(text.c_str() + digit, nullptr, 10);
    }
    return -1;
}

std::vector<std::string> SplitRow(const std::string& line) {
    std::vector<std::string> cells;
    size_t start = 1;
    while (start < line.size()) {
        size_t bar = line.find(" | ", start);
        if (bar == std::string::npos) bar = line.rfind(" |");
        if (bar == std::string::npos || bar < start) break;
        std::string cell = line.substr(start, bar - start);
        while (!cell.empty() && cell[0] == ' ') cell.erase(0, 1);
        cells.push_back(cell);
        start = bar + 2;
        if (bar == line.rfind(" |")) break;
    }
    return cells;
}

// One row of a WAVE table: the last cell.
void ReadWaveExpectation(const std::string& text, Expectation* e) {
    if (text.rfind("REJECT", 0) == 0) {
        e->kind = EXPECT_REFUSE;
    } else if (text.rfind("OK ", 0) == 0 && NumberAfter(text, "OK ") >= 0 &&
               text.find(" fr") != std::string::npos) {
        e->kind = text.find("else REJECT") != std::string::npos ? EXPECT_EITHER : EXPECT_FRAMES;
        e->frames = NumberAfter(text, "OK ");
    }
}

// One row of an MP3 table: the strict probe cell and the decode cell.
void ReadMp3Expectation(const std::string& probe, const std::string& decoded, Expectation* e) {
    if (probe.rfind("OK", 0) == 0 && NumberAfter(decoded, "mpg123 ") >= 0) {
        e->kind = EXPECT_FRAMES;
        e->frames = NumberAfter(decoded, "mpg123 ");
        // The reference is the same decoder run from the command line; on
        // streams with damaged side information the two may part by a frame.
        e->tolerance = 1152;
    } else {
        e->kind = EXPECT_REFUSE;
    }
    e->text = probe + " / " + decoded;
}

// One row of an Ogg table: the loader's length is the stream's playing time,
// so the last granule counts, not what the decoder happens to deliver.
void ReadOggExpectation(const std::string& text, Expectation* e) {
    if (NumberAfter(text, "granule ") >= 0) {
        e->kind = EXPECT_FRAMES;
        e->frames = NumberAfter(text, "granule ");
    } else {
        e->kind = EXPECT_REFUSE;
    }
}

std::vector<Expectation> ReadManifest(const std::string& path) {
    std::vector<Expectation> list;
    std::ifstream in(path);
    std::string line, folder;
    while (std::getline(in, line)) {
        // A section "### `folder/`" names the folder of the rows below it.
        size_t close = line.find("/`", 5);
        if (line.rfind("### `", 0) == 0 && close != std::string::npos) {
            folder = line.substr(5, close - 5);
            continue;
        }
        if (folder.empty() || line.rfind("| `", 0) != 0) continue;
        std::vector<std::string> cells = SplitRow(line);
        if (cells.size() < 4) continue;
        Expectation e = {};
        e.file = folder + "/" + cells[0].substr(1, cells[0].size() - 2);
        e.text = cells.back();
        e.kind = EXPECT_REFUSE;
        bool isMp3 = folder.rfind("mp3/", 0) == 0 || folder.rfind("malformed/mp3/", 0) == 0;
        bool isOgg = folder.rfind("ogg/", 0) == 0 || folder.rfind("malformed/ogg/", 0) == 0;
        if (isMp3 && cells.size() >= 6) {
            ReadMp3Expectation(cells[4], cells[5], &e);
        } else if (isOgg) {
            ReadOggExpectation(cells.back(), &e);
        } else {
            ReadWaveExpectation(cells.back(), &e);
        }
        // A sound without a frame is refused: the device has no empty buffer.
        if (e.kind == EXPECT_FRAMES && e.frames == 0) e.kind = EXPECT_REFUSE;
        for (const LoaderRule& rule : LOADER_RULES) {
            if (e.file == rule.file) {
                e.kind = rule.kind;
                e.frames = rule.frames;
                e.text += std::string(" [loader: ") + rule.why + "]";
            }
        }
        list.push_back(e);
    }
    return list;
}

class SoundCorpus : public ::testing::Test {
protected:
    void SetUp() override { StartLoaderTestDevice(); }
    void TearDown() override { EndLoaderTestDevice(); }
};

TEST_F(SoundCorpus, EveryFileMeetsItsExpectation) {
    std::string dir = GetCorpusDir();
    std::vector<Expectation> list = ReadManifest(dir + "/MANIFEST.md");
    // 485 files, of which 93 are reference PCM and have no row.
    ASSERT_EQ(list.size(), 392u) << "manifest not found or changed: " << dir;
    int loaded = 0, refused = 0;
    for (const Expectation& e : list) {
        std::string path = dir + "/" + e.file;
        ASSERT_EQ(access(path.c_str(), R_OK), 0) << path;
        LoadedSound sound = LoadThroughDevice(path);
        long frames = -1;
        if (sound.handle != -1) {
            frames = sound.format.blockAlign ? (long)(sound.bytes.size() / sound.format.blockAlign) : -2;
            DeleteSoundHandle(sound.handle);
            loaded++;
        } else {
            refused++;
        }
        switch (e.kind) {
            case EXPECT_REFUSE:
                EXPECT_EQ(sound.handle, -1) << e.file << ": loaded " << frames << " frames; manifest: " << e.text;
                break;
            case EXPECT_FRAMES:
                EXPECT_NE(sound.handle, -1) << e.file << ": refused; manifest: " << e.text;
                if (sound.handle != -1) {
                    EXPECT_NEAR(frames, e.frames, e.tolerance) << e.file << "; manifest: " << e.text;
                }
                break;
            case EXPECT_EITHER:
                if (sound.handle != -1) {
                    EXPECT_EQ(frames, e.frames) << e.file << "; manifest: " << e.text;
                }
                break;
        }
    }
    EXPECT_GT(loaded, 250);
    EXPECT_GT(refused, 50);
}

}  // namespace
