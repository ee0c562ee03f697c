// mpeg_frames.h: the numbers an MPEG audio frame header stands for, shared by
// the file probe and the decoder's output bound.
#pragma once

// Version bits of the header: MPEG-2.5, MPEG-2 (lower sampling frequencies), MPEG-1.
enum { MPEG_VERSION_25 = 0, MPEG_VERSION_2 = 2, MPEG_VERSION_1 = 3 };

// kbit/s for bitrate index 1..14 of layer 1..3; 0 for free format or an invalid index.
int GetMpegBitrate(int mpeg1, int layer, int bitrateIndex);
// Hz for rate index 0..2; 0 for an invalid version or index.
int GetMpegSampleRate(int versionBits, int rateIndex);
// Bytes of a frame at that bitrate (kbit/s) and rate (Hz); 0 when either is 0.
int ComputeMpegFrameLength(int mpeg1, int layer, int bitrate, int rate, int padding);
