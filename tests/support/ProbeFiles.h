// Probing a reader's class on a file in memory, as the registry does before
// it picks a class: the probe's answer, with the check that the probe leaves
// the stream where it found it (the registry tries the next class from there).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "picture/Classes.h"

namespace tolvane::test {

template <class T> bool Probe(const std::vector<uint8_t>& data, int64_t at = 0) {
  TMemoryStream stream(data);
  stream.SetPosition(at);
  const bool result = T::StaticClass().ProbeStream(stream);
  EXPECT_EQ(stream.Position(), at);
  return result;
}

}  // namespace tolvane::test
