// colordump: runs the colour manager for the formula cross-check script.
//   colordump gamma IMAGE SCREEN SB TB   the gamma table after setting the
//                                        depths, then the gammas (256 numbers)
//   colordump chroma SCHEME KR KG KB     CrToRed, CbToBlue, CrToGreen and
//                                        CbToGreen, one table per line
//   colordump convert key=value...       one interleaved row from standard
//                                        input converted to standard output
// convert keys: src, tgt (scheme numbers), sb, tb (bits), sflags, tflags,
// count, mask, out (target bytes, filled with fill, default 0xEE before the
// conversion), gamma=IMAGE,SCREEN, weights=KR,KG,KB.
#include <charconv>
#include <cstdio>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "graphics/GraphicColor.h"

using namespace tolvane;

namespace {

float ParseFloat(const std::string& text) {
  float v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size()) throw Exception("bad number: " + text);
  return v;
}

std::vector<float> ParseFloats(const std::string& text) {
  std::vector<float> values;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    values.push_back(ParseFloat(text.substr(start, comma - start)));
    start = comma + 1;
  }
  return values;
}

uint8_t Byte(const std::string& text) { return static_cast<uint8_t>(StrToInt(text)); }

void PrintTable(const int32_t* values, size_t n) {
  for (size_t i = 0; i < n; ++i) std::printf(i ? " %d" : "%d", values[i]);
  std::printf("\n");
}

int Gamma(char** argv) {
  TColorManager cm;
  cm.SetSourceBitsPerSample(Byte(argv[4]));
  cm.SetTargetBitsPerSample(Byte(argv[5]));
  cm.SetGammaValues(ParseFloat(argv[2]), ParseFloat(argv[3]));
  std::vector<int32_t> table(cm.GammaTable().begin(), cm.GammaTable().end());
  PrintTable(table.data(), table.size());
  return 0;
}

int Chroma(char** argv) {
  TColorManager cm;
  cm.SetSourceScheme(static_cast<TColorSchemeKind>(StrToInt(argv[2])));
  cm.SetYCbCrSettings({ParseFloat(argv[3]), ParseFloat(argv[4]), ParseFloat(argv[5])}, 1, 1);
  cm.PrepareConversion();
  for (const auto* table : {&cm.CrToRed(), &cm.CbToBlue(), &cm.CrToGreen(), &cm.CbToGreen()})
    PrintTable(table->data(), table->size());
  return 0;
}

int Convert(int argc, char** argv) {
  std::map<std::string, std::string> args;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    const size_t eq = a.find('=');
    if (eq == std::string::npos) throw Exception("expected key=value: " + a);
    args[a.substr(0, eq)] = a.substr(eq + 1);
  }
  auto get = [&](const char* key, const char* fallback) {
    auto it = args.find(key);
    return it == args.end() ? std::string(fallback) : it->second;
  };
  TColorManager cm;
  cm.SetSourceScheme(static_cast<TColorSchemeKind>(StrToInt(get("src", "4"))));
  cm.SetTargetScheme(static_cast<TColorSchemeKind>(StrToInt(get("tgt", "6"))));
  cm.SetSourceBitsPerSample(Byte(get("sb", "8")));
  cm.SetTargetBitsPerSample(Byte(get("tb", "8")));
  if (args.count("gamma")) {
    const auto g = ParseFloats(args["gamma"]);
    cm.SetGammaValues(g.at(0), g.at(1));
  }
  if (args.count("weights")) cm.SetYCbCrSettings(ParseFloats(args["weights"]), 1, 1);
  cm.SourceFlags = Byte(get("sflags", "0"));
  cm.TargetFlags = Byte(get("tflags", "0"));

  std::vector<uint8_t> input;
  uint8_t buffer[65536];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;) input.insert(input.end(), buffer, buffer + n);
  std::vector<uint8_t> output(StrToInt(get("out", "0")), Byte(get("fill", "238")));
  cm.ConvertRow(input, output.data(), StrToInt(get("count", "0")), Byte(get("mask", "255")));
  std::fwrite(output.data(), 1, output.size(), stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "gamma" && argc == 6) return Gamma(argv);
    if (command == "chroma" && argc == 6) return Chroma(argv);
    if (command == "convert") return Convert(argc, argv);
    std::fprintf(stderr, "usage: colordump gamma|chroma|convert ...\n");
    return 2;
  } catch (const Exception& e) {
    std::fprintf(stderr, "error: %s: %s\n", e.ClassName(), e.what());
    return 1;
  }
}
