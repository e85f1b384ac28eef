// Build-time program: writes the plug-in's Turtle description (korvane.ttl)
// and the binding's table of setting ranges (settingRanges.h) from the effect
// itself, so that each setting's name, range and default are written once,
// in the effect. It asks a new effect what a VST 2 host would: the names,
// the values of a new instance, and the fields shown at normalised 0 and 1.
// It writes the bundle's manifest.ttl too, which names the binary.
// Usage: korvane_lv2_generator BUNDLE-FOLDER BINARY-FILE-NAME HEADER
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "effectEntry.h"
#include "identity.h"
#include "opcodes.h"
#include "portLayout.h"

namespace {
using lv2face::kSettingPorts;
using lv2face::SettingRange;

struct Setting {
  std::string name;
  std::string symbol;
  SettingRange range;
};

constexpr std::size_t kTextBytes = 64;  // more than any name or display needs

std::string text(AEffect* effect, int32_t opcode, int32_t index) {
  char buffer[kTextBytes] = {};
  effect->dispatcher(effect, opcode, index, 0, buffer, 0.0f);
  return buffer;
}

// The field the effect shows for a normalised value, as a number.
float fieldAt(AEffect* effect, int32_t index, float normalised) {
  effect->setParameter(effect, index, normalised);
  return std::strtof(
      text(effect, EffectOpcode::kGetParameterDisplay, index).c_str(), nullptr);
}

[[noreturn]] void fail(const std::string& why) {
  std::fprintf(stderr, "korvane_lv2_generator: %s\n", why.c_str());
  std::exit(1);
}

// An LV2 symbol: the name with each character that is no letter or digit
// as '_'.
std::string symbolOf(const std::string& name) {
  std::string symbol = name;
  for (char& c : symbol) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return symbol;
}

Setting read(AEffect* fresh, AEffect* scratch, int32_t i) {
  Setting s;
  s.name = text(fresh, EffectOpcode::kGetParameterName, i);
  s.symbol = symbolOf(s.name);
  const float initial = fresh->getParameter(fresh, i);
  if (!kSettingPorts[i].inUnits) {
    s.range = {0.0f, 1.0f, initial};
    return s;
  }
  s.range.initial = std::strtof(
      text(fresh, EffectOpcode::kGetParameterDisplay, i).c_str(), nullptr);
  s.range.minimum = fieldAt(scratch, i, 0.0f);
  s.range.maximum = fieldAt(scratch, i, 1.0f);
  // The binding's affine map must give back the new instance's value.
  const float back =
      static_cast<float>((double(s.range.initial) - s.range.minimum) /
                         (double(s.range.maximum) - s.range.minimum));
  if (!(s.range.maximum > s.range.minimum) || back != initial) {
    fail("the field of \"" + s.name + "\" is not an affine map of its value");
  }
  return s;
}

// A number as Turtle and hosts read it back to the same float.
std::string number(float v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.9g", double(v));
  return buffer;
}

const char* const kHead = R"(@prefix atom: <http://lv2plug.in/ns/ext/atom#> .
@prefix doap: <http://usefulinc.com/ns/doap#> .
@prefix foaf: <http://xmlns.com/foaf/0.1/> .
@prefix lv2: <http://lv2plug.in/ns/lv2core#> .
@prefix patch: <http://lv2plug.in/ns/ext/patch#> .
@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .
@prefix state: <http://lv2plug.in/ns/ext/state#> .
@prefix time: <http://lv2plug.in/ns/ext/time#> .
@prefix units: <http://lv2plug.in/ns/extensions/units#> .
@prefix urid: <http://lv2plug.in/ns/ext/urid#> .

# Generated at build time from the effect's parameter table; do not edit.

<%s>
	a units:Unit ;
	rdfs:label "sixteenth note" ;
	units:symbol "1/16" ;
	units:render "%%f /16" .

<%s>
	a lv2:Parameter ;
	rdfs:label "seed" ;
	rdfs:comment "Seeds the random spread of the jitter settings, as korvane's VST 2 seed call does: the low 32 bits of the value." ;
	rdfs:range atom:Long .

<%s>
	a lv2:Plugin , lv2:DelayPlugin , doap:Project ;
	doap:name "%s" ;
	doap:maintainer [ foaf:name "%s" ] ;
	lv2:optionalFeature urid:map , lv2:hardRTCapable ;
	lv2:extensionData state:interface ;
	patch:writable <%s> ;
	lv2:port )";

const char* const kControlPort = R"( , [
		a lv2:InputPort , atom:AtomPort ;
		atom:bufferType atom:Sequence ;
		atom:supports time:Position , patch:Message ;
		lv2:designation lv2:control ;
		lv2:portProperty lv2:connectionOptional ;
		lv2:index %u ; lv2:symbol "control" ; lv2:name "Control"
	] .
)";

void writeTurtle(FILE* out, const Setting* settings) {
  std::fprintf(out, kHead, lv2face::kSixteenthUri, lv2face::kSeedUri,
               lv2face::kPluginUri, identity::kEffectName,
               identity::kVendorString, lv2face::kSeedUri);
  for (uint32_t i = 0; i < lv2face::Port::kFirstSetting; ++i) {
    const lv2face::AudioPort& port = lv2face::kAudioPorts[i];
    std::fprintf(out,
                 "%s[\n\t\ta lv2:%s , lv2:AudioPort ;\n"
                 "\t\tlv2:index %u ; lv2:symbol \"%s\" ; lv2:name \"%s\"\n\t] ",
                 i == 0 ? "" : ", ", port.input ? "InputPort" : "OutputPort", i,
                 port.symbol, port.name);
  }
  for (int32_t i = 0; i < Param::kCount; ++i) {
    const Setting& s = settings[i];
    std::fprintf(out,
                 ", [\n\t\ta lv2:InputPort , lv2:ControlPort ;\n"
                 "\t\tlv2:index %d ; lv2:symbol \"%s\" ; lv2:name \"%s\" ;\n"
                 "\t\tlv2:default %s ; lv2:minimum %s ; lv2:maximum %s",
                 lv2face::Port::kFirstSetting + i, s.symbol.c_str(),
                 s.name.c_str(), number(s.range.initial).c_str(),
                 number(s.range.minimum).c_str(),
                 number(s.range.maximum).c_str());
    if (kSettingPorts[i].unit != nullptr) {
      std::fprintf(out, " ;\n\t\tunits:unit <%s>", kSettingPorts[i].unit);
    }
    if (kSettingPorts[i].integer) {
      std::fprintf(out, " ;\n\t\tlv2:portProperty lv2:integer");
    }
    std::fprintf(out, "\n\t] ");
  }
  std::fprintf(out, kControlPort, unsigned{lv2face::Port::kControl});
}

void writeHeader(FILE* out, const Setting* settings) {
  std::fprintf(out,
               "// Generated at build time by korvane_lv2_generator from the "
               "effect; do not edit.\n#pragma once\n\n#include "
               "\"portLayout.h\"\n\nnamespace lv2face {\nconstexpr "
               "SettingRange kSettingRanges[Param::kCount] = {\n");
  for (int32_t i = 0; i < Param::kCount; ++i) {
    const SettingRange& r = settings[i].range;
    std::fprintf(out, "    {%af, %af, %af},  // %s\n", double(r.minimum),
                 double(r.maximum), double(r.initial),
                 settings[i].name.c_str());
  }
  std::fprintf(out, "};\n}  // namespace lv2face\n");
}

const char* const kManifest = R"(@prefix lv2: <http://lv2plug.in/ns/lv2core#> .
@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .

<%s>
	a lv2:Plugin ;
	lv2:binary <%s> ;
	rdfs:seeAlso <korvane.ttl> .
)";

template <typename Write>
void writeFile(const std::string& path, Write write) {
  FILE* out = std::fopen(path.c_str(), "w");
  if (out == nullptr) fail("cannot write " + path);
  write(out);
  if (std::fclose(out) != 0) fail("cannot write " + path);
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    fail("usage: korvane_lv2_generator BUNDLE-FOLDER BINARY-FILE-NAME HEADER");
  }
  const std::string bundle = argv[1];
  AEffect* fresh = createEffectInstance(nullptr);
  AEffect* scratch = createEffectInstance(nullptr);
  if (fresh == nullptr || scratch == nullptr) fail("no effect instance");
  Setting settings[Param::kCount];
  for (int32_t i = 0; i < Param::kCount; ++i) {
    settings[i] = read(fresh, scratch, i);
  }
  writeFile(bundle + "/manifest.ttl", [&](FILE* out) {
    std::fprintf(out, kManifest, lv2face::kPluginUri, argv[2]);
  });
  writeFile(bundle + "/korvane.ttl",
            [&](FILE* out) { writeTurtle(out, settings); });
  writeFile(argv[3], [&](FILE* out) { writeHeader(out, settings); });
  for (AEffect* e : {fresh, scratch}) {
    e->dispatcher(e, EffectOpcode::kClose, 0, 0, nullptr, 0.0f);
  }
  return 0;
}
