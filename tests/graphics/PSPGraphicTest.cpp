// The Paint Shop Pro reader on hand-made files: what the probe accepts and
// the attributes of each header version. Pixels, layers, channels and
// messages are checked by psp_reference.py through imgdump.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "graphics/GraphicFormats.h"
#include "picture/ByteOrder.h"
#include "support/ProbeFiles.h"

namespace tolvane {
namespace {

using Bytes = std::vector<uint8_t>;
using test::Probe;

// A Paint Shop Pro file: header and image attributes, no layers.
Bytes Psp(const char* signature, uint16_t major, double resolution, uint8_t unit, uint16_t depth = 24) {
  Bytes d(32, 0);
  std::memcpy(d.data(), signature, std::strlen(signature));
  AppendLE16(d, major);
  AppendLE16(d, 0);
  Bytes attributes;
  if (major > 3) AppendLE32(attributes, 46);
  AppendLE32(attributes, 5);  // width
  AppendLE32(attributes, 4);  // height
  uint64_t bits;
  std::memcpy(&bits, &resolution, sizeof bits);
  AppendLE32(attributes, static_cast<uint32_t>(bits));
  AppendLE32(attributes, static_cast<uint32_t>(bits >> 32));
  attributes.push_back(unit);
  AppendLE16(attributes, 1);  // run-length
  AppendLE16(attributes, depth);
  attributes.insert(attributes.end(), 2 + 4 + 1 + 14, 0);
  d.insert(d.end(), {'~', 'B', 'K', 0});
  AppendLE16(d, 0);
  if (major == 3) AppendLE32(d, static_cast<uint32_t>(attributes.size()));
  AppendLE32(d, static_cast<uint32_t>(attributes.size()));
  d.insert(d.end(), attributes.begin(), attributes.end());
  return d;
}

TEST(PSPGraphic, ProbeTakesCapitalsFromVersionThree) {
  EXPECT_TRUE(Probe<TPSPGraphic>(Psp("Paint Shop Pro Image File\n\x1a", 5, 72, 1)));
  EXPECT_TRUE(Probe<TPSPGraphic>(Psp("PAINT SHOP PRO IMAGE FILE", 3, 72, 1)));
  EXPECT_FALSE(Probe<TPSPGraphic>(Psp("Paint Shop Pro Image File", 2, 72, 1)));
  EXPECT_FALSE(Probe<TPSPGraphic>(Psp("Paint Shop Pro Image Fil", 5, 72, 1)));
  const Bytes shifted = [] {
    Bytes d{9, 9};
    const Bytes f = Psp("Paint Shop Pro Image File", 4, 72, 1);
    d.insert(d.end(), f.begin(), f.end());
    return d;
  }();
  EXPECT_TRUE(Probe<TPSPGraphic>(shifted, 2));
}

TEST(PSPGraphic, AttributesOfVersionThreeAndLater) {
  for (const uint16_t major : {uint16_t{3}, uint16_t{4}, uint16_t{5}}) {
    TPSPGraphic g;
    TMemoryStream stream(Psp("Paint Shop Pro Image File", major, 28.35, 2));
    ASSERT_TRUE(g.ReadImageInfo(stream, 0)) << major;
    const TImageProperties& p = g.ImageProperties;
    EXPECT_EQ(p.Version, major);
    EXPECT_EQ(p.Width, 5u);
    EXPECT_EQ(p.Height, 4u);
    EXPECT_NEAR(p.XResolution, 72.009f, 0.001f);
  }
  // Resolutions a float cannot hold count as unknown.
  TPSPGraphic g;
  TMemoryStream huge(Psp("Paint Shop Pro Image File", 5, 1e300, 1));
  ASSERT_TRUE(g.ReadImageInfo(huge, 0));
  EXPECT_EQ(g.ImageProperties.XResolution, 0.0f);
}

}  // namespace
}  // namespace tolvane
