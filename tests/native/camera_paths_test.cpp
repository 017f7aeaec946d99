#include "app/video/camera_paths.h"

#include <gtest/gtest.h>

namespace {

TEST(CameraPaths, OnlyWhatLiesInsideTheFolderWhateverTheCaseOrSeparator) {
  const std::wstring programFiles = L"C:\\Program Files";
  EXPECT_TRUE(PathLiesUnder(L"C:\\Program Files\\Orvane\\OrvaneCam.dll", programFiles));
  EXPECT_TRUE(PathLiesUnder(L"c:/program files/Orvane/OrvaneCam.dll", L"C:\\Program Files\\"));
  EXPECT_FALSE(PathLiesUnder(L"C:\\Program Files (x86)\\Orvane\\OrvaneCam.dll", programFiles)) << "a sibling";
  EXPECT_FALSE(PathLiesUnder(L"C:\\Program Files\\..\\Users\\ana\\Downloads\\OrvaneCam.dll", programFiles));
  EXPECT_FALSE(PathLiesUnder(L"C:\\Users\\ana\\Downloads\\Orvane\\OrvaneCam.dll", programFiles));
  EXPECT_FALSE(PathLiesUnder(L"C:\\Program Files", programFiles)) << "the folder itself";
  EXPECT_FALSE(PathLiesUnder(L"C:\\Program Files\\Orvane\\OrvaneCam.dll", L"")) << "no folder known";
  EXPECT_TRUE(SamePath(L"C:\\Program Files\\Orvane\\OrvaneCam.dll", L"c:/PROGRAM FILES/orvane/orvanecam.dll"));
  EXPECT_FALSE(SamePath(L"C:\\Program Files\\Orvane\\OrvaneCam.dll", L"Z:\\build\\OrvaneCam.dll"));
  EXPECT_FALSE(SamePath(L"", L"C:\\x"));
}

}  // namespace
