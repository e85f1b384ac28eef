// The format of OUT: container from its extension, samples from IN or
// --bits, RF64 when the audio outgrows a plain WAV.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <optional>
#include <string>

namespace korvane {

struct FormatRequest {
  std::string outPath;  // its extension picks the container
  bool stream = false;  // OUT is standard output, a WAV stream
  int inputFormat = 0;  // libsndfile's format word of IN
  int channels = 0;
  int sampleRate = 0;
  int64_t frames = 0;  // frames OUT will hold; -1: not known before the end
  std::optional<int> subtype;  // from --bits; nullopt keeps IN's
};

// libsndfile's format word for OUT. Without an extension OUT keeps IN's
// container. Samples keep IN's encoding when the container holds it as
// plain PCM or float, else become 24-bit PCM; compressed containers use
// their own codec. A WAV whose audio would pass 4 GiB, or of a length not
// known, becomes RF64 (a plain WAV again at the end if it stays small). Throws
// a usage error (exit 2) for an extension this build cannot write (the
// message lists those it can), for --bits the container cannot hold or does
// not take, for audio too long for an AIFF, and for a rate or channel count
// the format's encoder does not take (probed, not only checked).
int outputFormat(const FormatRequest& request);

// The sample format a --bits value names: "16", "24", "32" or "float".
// Throws a usage error for anything else.
int subtypeForBits(const std::string& bits);

// True when the format stores integers, which clip at full scale.
bool storesIntegers(int format);

// True for the lossy codecs (Vorbis, Opus, MP3).
bool isLossy(int format);

// The quality, 0 to 1, a lossy codec gets without --quality: as good as a
// musician would keep (VBR V0 for MP3, about 190 kbit/s of stereo for
// Vorbis and Opus); 0 for other formats.
double defaultQuality(int format);

// Sets a lossy encoder's quality, 0 (smallest) to 1 (best), before the
// first write.
void setQuality(SNDFILE* file, double quality);

// Bytes per sample of a fixed-size sample format (PCM, float, u-law,
// A-law); 0 for the others.
int bytesPerSample(int format);

// The most frames of `channels` a file of `format` can hold: an AIFF's
// 32-bit chunk sizes limit it; the other formats are not limited here.
int64_t maxFramesOf(int format, int channels);

}  // namespace korvane
