// Pictures of windows, as the smoke tests of the personalities take them.
#include <QImage>
#include <filesystem>
#include <fstream>

#include "qt_fixture.h"

namespace kestovane::test {
namespace {

// Under the build folder: the tests run in their binary folder.
std::string PicturePath(const char* name) { return (std::filesystem::current_path() / name).string(); }

TEST_F(QtRendererTest, SaveWindowPngWritesThePicture) {
  SampleForm* form = MakeSample();
  const std::string path = PicturePath("qt_sample_window.png");
  std::filesystem::remove(path);
  ASSERT_TRUE(SaveWindowPng(form, path));

  std::ifstream in(path, std::ios::binary);
  char signature[8] = {};
  in.read(signature, 8);
  EXPECT_EQ(std::string(signature, 8), std::string("\x89PNG\r\n\x1a\n", 8));

  QImage picture(QString::fromStdString(path));
  ASSERT_FALSE(picture.isNull());
  EXPECT_EQ(picture.size(), renderer.WindowOf(form)->size());
  const int top = renderer.ClientOf(form)->y();
  EXPECT_EQ(picture.pixelColor(2, top + 2), QColor(0xf0, 0xf0, 0xf0)) << "button face background";
  EXPECT_EQ(picture.pixelColor(20, top + 50), QColor(255, 255, 255)) << "the opaque white label";
}

TEST_F(QtRendererTest, LogoIsDrawn) {
  SampleForm* form = MakeSample();
  const QImage logo = W(form->logo)->grab().toImage();
  ASSERT_FALSE(logo.isNull());
  // The plate is dark blue in the middle, where no window colour shows.
  const QColor middle = logo.pixelColor(logo.width() / 10, logo.height() / 2);
  EXPECT_GT(middle.blue(), middle.red());
}

TEST_F(QtRendererTest, SaveWindowPngFailsWithoutAWay) {
  SampleForm* form = MakeSample();
  EXPECT_FALSE(SaveWindowPng(form, PicturePath("no_such_dir/x.png")));
  Application->SetRenderer(nullptr);
  EXPECT_FALSE(SaveWindowPng(form, PicturePath("headless.png")));
}

}  // namespace
}  // namespace kestovane::test
