// A window's picture against the one kept in tests/data/ui/NAME.png (VKR_UPDATE_PICTURES=1 writes
// it anew): a pixel matches when no channel differs by more than 8, the pictures when at most 2 per
// mille of the pixels do not. A differing picture is left in /tmp/NAME_actual.png to look at.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/platform.h"

namespace vkr::test {

inline void ExpectLooksAsKept(HWND window, const std::string& name) {
  vkr::ui::Picture picture;
  ASSERT_TRUE(vkr::ui::RenderWindow(window, &picture));
  const std::string golden = std::string(VKR_SOURCE_DIR) + "/tests/data/ui/" + name + ".png";
  const std::string actual = "/tmp/" + name + "_actual.png";
  if (std::getenv("VKR_UPDATE_PICTURES")) {
    ASSERT_TRUE(vkr::ui::SavePictureToPng(picture, golden.c_str()));
  }
  vkr::ui::Picture kept;
  ASSERT_TRUE(vkr::ui::ReadPng(golden.c_str(), &kept)) << golden;
  ASSERT_EQ(kept.width, picture.width);
  ASSERT_EQ(kept.height, picture.height);
  constexpr int kChannelTolerance = 8, kMismatchPerMille = 2;
  int mismatches = 0;
  for (std::size_t i = 0; i < kept.pixels.size(); ++i) {
    const COLORREF a = kept.pixels[i], b = picture.pixels[i];
    if (std::abs(GetRValue(a) - GetRValue(b)) > kChannelTolerance ||
        std::abs(GetGValue(a) - GetGValue(b)) > kChannelTolerance ||
        std::abs(GetBValue(a) - GetBValue(b)) > kChannelTolerance)
      ++mismatches;
  }
  if (mismatches) vkr::ui::SavePictureToPng(picture, actual.c_str());
  EXPECT_LE(mismatches * 1000, kMismatchPerMille * static_cast<int>(kept.pixels.size()))
      << mismatches << " pixels differ; the new picture: " << actual;
}

}  // namespace vkr::test
