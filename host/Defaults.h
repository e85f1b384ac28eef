// The tool's defaults and limits, written once: each numeric option's name,
// range, default, help text and refusal live in its row here, and the
// commands' help texts and checks read them (CommandLine.h).
#pragma once

#include <cstdint>

namespace korvane {
namespace defaults {

// The plug-in loaded without --plugin, beside the tool or under ../lib/vst.
constexpr const char* kPluginFile = "korvane.so";

// A numeric option. In `help` and `refusal`, {lowest}, {highest} and
// {default} stand for the numbers and {value} for the word given.
struct NumericOption {
  const char* name;
  const char* typeName;  // the value's placeholder in the help text
  double lowest;
  double highest;
  double byDefault;
  const char* help;
  const char* refusal;  // the usage error for a value outside the range
};

// The tempo the host reports; the help text follows what the command says
// the tempo is for.
constexpr NumericOption kTempo = {
    "--tempo",
    "BPM",
    1.0,
    1000.0,
    120.0,
    "or \"none\" for no time information (default {default})",
    "--tempo takes beats per minute from {lowest} to {highest}, or "
    "\"none\"; got \"{value}\""};
// Samples per processing call.
constexpr NumericOption kBlock = {
    "--block",
    "N",
    1.0,
    8192.0,
    512.0,
    "Samples per processing call, {lowest} to {highest} (default {default})",
    "--block takes {lowest} to {highest} samples; got {value}"};
// Seconds of silence rendered after IN.
constexpr NumericOption kTail = {
    "--tail",
    "SECONDS",
    0.0,
    3600.0,
    0.0,
    "Seconds of silence rendered after the input (default {default})",
    "--tail takes {lowest} to {highest} seconds"};
// The seed of the plug-in's random spread; without it the tool picks one.
constexpr NumericOption kSeed = {
    "--seed",
    "N",
    0.0,
    4294967295.0,
    0.0,
    "Seed of the plug-in's random spread, {lowest} to {highest} (default: "
    "one picked and shown in the summary)",
    "--seed takes a whole number from {lowest} to {highest}; got "
    "\"{value}\""};
// The level of the plug-in's output in OUT, before --dry adds IN.
constexpr NumericOption kGain = {
    "--gain",
    "DB",
    -60.0,
    24.0,
    0.0,
    "Level of the plug-in's output in decibels, {lowest} to {highest}, "
    "before --dry adds the input (default {default})",
    "--gain takes {lowest} to {highest} decibels; got {value}"};
// The quality of a lossy OUT; each codec has its own default.
constexpr NumericOption kQuality = {
    "--quality",
    "Q",
    0.0,
    1.0,
    0.0,
    "Quality of a lossy OUT (.mp3, .ogg, .opus), {lowest} (smallest) to "
    "{highest} (best) (default: 1 for MP3, VBR V0; 0.8 for Vorbis and 0.35 "
    "for Opus, about 190 kbit/s of stereo)",
    "--quality takes {lowest} to {highest}; got {value}"};
// The sample rate whose render `info` shows, which a plug-in is also told
// before any stream is set up.
constexpr NumericOption kRate = {
    "--rate",
    "HZ",
    1.0,
    10000000.0,
    44100.0,
    "Sample rate of the render whose start to show, in Hz (default "
    "{default})",
    "--rate takes a whole number of Hz from {lowest} to {highest}; got "
    "\"{value}\""};

// The defaults as the code uses them.
constexpr int32_t kBlockSize = static_cast<int32_t>(kBlock.byDefault);
constexpr int32_t kInfoRate = static_cast<int32_t>(kRate.byDefault);

}  // namespace defaults
}  // namespace korvane
