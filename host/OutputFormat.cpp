// Choosing OUT's container and sample format.
#include "OutputFormat.h"

#include <sndfile.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <vector>

#include "HostError.h"

namespace korvane {

namespace {

struct Container {
  const char* extension;
  int major;
  int codec;  // the only encoding of a compressed container; 0 for PCM ones
};

// Extensions OUT may have, where this build of libsndfile writes them.
constexpr Container kContainers[] = {
    {"wav", SF_FORMAT_WAV, 0},
    {"aif", SF_FORMAT_AIFF, 0},
    {"aiff", SF_FORMAT_AIFF, 0},
    {"flac", SF_FORMAT_FLAC, 0},
    {"ogg", SF_FORMAT_OGG, SF_FORMAT_VORBIS},
    {"oga", SF_FORMAT_OGG, SF_FORMAT_VORBIS},
    {"opus", SF_FORMAT_OGG, SF_FORMAT_OPUS},
    {"mp3", SF_FORMAT_MPEG, SF_FORMAT_MPEG_LAYER_III},
};

struct SampleFormat {
  int subtype;
  int bytes;
  bool plain;        // kept from IN when OUT's container holds it
  const char* bits;  // the --bits value naming it, or null
};

constexpr SampleFormat kSampleFormats[] = {
    {SF_FORMAT_PCM_16, 2, true, "16"},
    {SF_FORMAT_PCM_24, 3, true, "24"},
    {SF_FORMAT_PCM_32, 4, true, "32"},
    {SF_FORMAT_FLOAT, 4, true, "float"},
    {SF_FORMAT_DOUBLE, 8, true, nullptr},
    {SF_FORMAT_PCM_S8, 1, false, nullptr},
    {SF_FORMAT_PCM_U8, 1, false, nullptr},
    {SF_FORMAT_ULAW, 1, false, nullptr},
    {SF_FORMAT_ALAW, 1, false, nullptr},
};
// What standard output gets: a WAV stream, which every audio tool reads.
constexpr const char* kStreamExtension = "wav";
// What compressed and 8-bit input becomes in a PCM container.
constexpr int kDefaultSubtype = SF_FORMAT_PCM_24;

// The only rates a codec takes, where libsndfile's format check does not
// know them (and its MP3 encoder leaks when it is opened at another rate).
struct CodecRates {
  int codec;
  std::initializer_list<int> rates;
};
const CodecRates kCodecRates[] = {
    {SF_FORMAT_OPUS, {8000, 12000, 16000, 24000, 48000}},
    {SF_FORMAT_MPEG_LAYER_III,
     {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000}},
};

// The quality of each lossy codec by default (defaultQuality()).
struct CodecQuality {
  int codec;
  double byDefault;
};
constexpr CodecQuality kCodecQualities[] = {
    {SF_FORMAT_MPEG_LAYER_III, 1.0},
    {SF_FORMAT_VORBIS, 0.8},
    {SF_FORMAT_OPUS, 0.35},
};

// The rates the message for a refused rate tries, to name those OUT's
// format writes.
constexpr int kCommonRates[] = {8000,  11025,  12000,  16000,  22050,
                                24000, 32000,  44100,  48000,  88200,
                                96000, 176400, 192000, 352800, 384000};

// Frames the encoder probe writes: enough for a codec to start encoding.
constexpr sf_count_t kProbeFrames = 1024;

// A RIFF chunk counts its bytes in 32 bits; the headers take some of them.
constexpr int64_t kRiffHeaderBytes = 1024;
constexpr int64_t kMaxRiffDataBytes = 0xFFFFFFFFLL - kRiffHeaderBytes;

const SampleFormat* sampleFormat(int subtype) {
  for (const SampleFormat& format : kSampleFormats) {
    if (format.subtype == subtype) return &format;
  }
  return nullptr;
}

bool fits(int format, int channels, int sampleRate) {
  for (const CodecRates& codec : kCodecRates) {
    if ((format & SF_FORMAT_SUBMASK) == codec.codec &&
        std::find(codec.rates.begin(), codec.rates.end(), sampleRate) ==
            codec.rates.end()) {
      return false;
    }
  }
  SF_INFO info = {};
  info.format = format;
  info.channels = channels;
  info.samplerate = sampleRate;
  return sf_format_check(&info) != 0;
}

// A sink for the encoder probe: takes every byte, keeps none.
sf_count_t sinkLength(void*) { return 0; }
sf_count_t sinkSeek(sf_count_t offset, int, void*) { return offset; }
sf_count_t sinkRead(void*, sf_count_t, void*) { return 0; }
sf_count_t sinkWrite(const void*, sf_count_t bytes, void*) { return bytes; }
sf_count_t sinkTell(void*) { return 0; }

// True when libsndfile's encoder really takes audio of this rate: some
// refuse a rate only when opened (MP3 above 48 kHz) or when given samples
// (Vorbis at 384 kHz), which sf_format_check does not know.
bool encoderTakes(int format, int channels, int sampleRate) {
  SF_VIRTUAL_IO sink = {sinkLength, sinkSeek, sinkRead, sinkWrite, sinkTell};
  SF_INFO info = {};
  info.format = format;
  info.channels = channels;
  info.samplerate = sampleRate;
  SNDFILE* file = sf_open_virtual(&sink, SFM_WRITE, &info, nullptr);
  if (file == nullptr) return false;
  std::vector<float> silence(static_cast<std::size_t>(kProbeFrames * channels),
                             0.0f);
  const bool took =
      sf_writef_float(file, silence.data(), kProbeFrames) == kProbeFrames;
  sf_close(file);
  return took;
}

bool writes(int format, int channels, int sampleRate) {
  return fits(format, channels, sampleRate) &&
         encoderTakes(format, channels, sampleRate);
}

// "; of the usual rates it writes ..." with the common rates the format writes,
// or nothing when it writes none of them at this channel count.
std::string ratesWritten(int format, int channels) {
  std::string list;
  int count = 0;
  for (const int rate : kCommonRates) {
    if (!writes(format, channels, rate)) continue;
    list += (count++ == 0 ? "" : ", ") + std::to_string(rate);
  }
  if (count == 0) return "";
  return "; of the usual rates it writes " + list +
         " Hz: resample IN to one of them first";
}

bool writable(const Container& container) {
  return fits(container.major |
                  (container.codec != 0 ? container.codec : SF_FORMAT_PCM_16),
              1, 48000);
}

std::string extensionOf(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  if (!extension.empty()) extension.erase(0, 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return extension;
}

std::string writableExtensions() {
  std::string list;
  for (const Container& container : kContainers) {
    if (!writable(container)) continue;
    list += (list.empty() ? "." : ", .") + std::string(container.extension);
  }
  return list;
}

// The container of OUT and its codec: from the extension, else IN's.
Container containerFor(const FormatRequest& request) {
  const std::string extension =
      request.stream ? kStreamExtension : extensionOf(request.outPath);
  if (extension.empty()) {
    // IN's container; its codec too when it holds nothing else (Ogg, MPEG),
    // while PCM containers of compressed audio get PCM.
    const int major = request.inputFormat & SF_FORMAT_TYPEMASK;
    const int subtype = request.inputFormat & SF_FORMAT_SUBMASK;
    const bool codec =
        sampleFormat(subtype) == nullptr &&
        !fits(major | kDefaultSubtype, request.channels, request.sampleRate);
    return {"", major, codec ? subtype : 0};
  }
  for (const Container& container : kContainers) {
    if (extension == container.extension && writable(container)) {
      return container;
    }
  }
  throw usageError("OUT " + request.outPath + ": korvane cannot write ." +
                   extension + " files; it writes " + writableExtensions());
}

std::string containerName(const Container& container) {
  return container.extension[0] != '\0' ? "." + std::string(container.extension)
                                        : "IN's format";
}

}  // namespace

int outputFormat(const FormatRequest& request) {
  const Container container = containerFor(request);
  const std::string where = " (" + request.outPath + ")";
  int format = 0;
  if (container.codec != 0) {
    if (request.subtype) {
      throw usageError("--bits does not apply to " + containerName(container) +
                       ", a compressed format" + where);
    }
    format = container.major | container.codec;
  } else {
    int subtype = kDefaultSubtype;
    const SampleFormat* input =
        sampleFormat(request.inputFormat & SF_FORMAT_SUBMASK);
    if (request.subtype) {
      subtype = *request.subtype;
    } else if (input != nullptr && input->plain &&
               fits(container.major | input->subtype, request.channels,
                    request.sampleRate)) {
      subtype = input->subtype;
    }
    format = container.major | subtype;
    if (request.subtype &&
        !fits(format, request.channels, request.sampleRate)) {
      throw usageError(containerName(container) +
                       " cannot hold the samples "
                       "of --bits " +
                       sampleFormat(subtype)->bits + where);
    }
    const SampleFormat* chosen = sampleFormat(subtype);
    // An unknown length (IN a stream, or a header that leaves it open) is
    // written as RF64, which becomes a plain WAV at the end when it stays
    // small; an AIFF then stops with a message if it outgrows 4 GiB.
    const bool lengthKnown = request.frames >= 0;
    const int64_t bytes =
        request.frames * request.channels * (chosen ? chosen->bytes : 8);
    if (!lengthKnown || bytes > kMaxRiffDataBytes) {
      if (container.major == SF_FORMAT_WAV ||
          container.major == SF_FORMAT_WAVEX) {
        format = SF_FORMAT_RF64 | subtype;
      } else if (container.major == SF_FORMAT_AIFF && lengthKnown) {
        throw usageError("the render would hold " + std::to_string(bytes) +
                         " bytes of audio, more than an AIFF file can (4 "
                         "GiB); write .wav (RF64 when this long) or .flac" +
                         where);
      }
    }
  }
  if (!writes(format, request.channels, request.sampleRate)) {
    throw usageError("cannot write " + std::to_string(request.channels) +
                     "-channel " + std::to_string(request.sampleRate) +
                     " Hz audio as " + containerName(container) + where +
                     ratesWritten(format, request.channels));
  }
  return format;
}

int subtypeForBits(const std::string& bits) {
  for (const SampleFormat& format : kSampleFormats) {
    if (format.bits != nullptr && bits == format.bits) return format.subtype;
  }
  throw usageError("--bits takes 16, 24, 32 or float; got \"" + bits + "\"");
}

bool storesIntegers(int format) {
  const int subtype = format & SF_FORMAT_SUBMASK;
  return subtype != SF_FORMAT_FLOAT && subtype != SF_FORMAT_DOUBLE &&
         !isLossy(format);
}

bool isLossy(int format) {
  const int subtype = format & SF_FORMAT_SUBMASK;
  return subtype == SF_FORMAT_VORBIS || subtype == SF_FORMAT_OPUS ||
         subtype == SF_FORMAT_MPEG_LAYER_III;
}

double defaultQuality(int format) {
  for (const CodecQuality& codec : kCodecQualities) {
    if ((format & SF_FORMAT_SUBMASK) == codec.codec) return codec.byDefault;
  }
  return 0.0;
}

void setQuality(SNDFILE* file, double quality) {
  // libsndfile's compression level runs the other way.
  double level = 1.0 - quality;
  sf_command(file, SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);
}

int bytesPerSample(int format) {
  const SampleFormat* samples = sampleFormat(format & SF_FORMAT_SUBMASK);
  return samples != nullptr ? samples->bytes : 0;
}

int64_t maxFramesOf(int format, int channels) {
  if ((format & SF_FORMAT_TYPEMASK) != SF_FORMAT_AIFF) {
    return std::numeric_limits<int64_t>::max();
  }
  const int bytes = bytesPerSample(format);
  return kMaxRiffDataBytes / (channels * (bytes > 0 ? bytes : 8));
}

}  // namespace korvane
