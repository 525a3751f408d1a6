// The window pictures: decoded from the committed JPEG files with libjpeg-turbo.
#include <gtest/gtest.h>

#include <QFile>

#include "JpegImage.h"

namespace {

QByteArray Resource(const char* name) {
  QFile file(QStringLiteral(":/quorvel/") + QLatin1String(name));
  EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
  return file.readAll();
}

TEST(JpegImage, PicturesDecodeAtTheirNaturalSizesWithDarkTextOnLightGround) {
  struct Row {
    const char* name;
    QSize size;
  } rows[] = {{"Image1.jpg", {164, 21}}, {"Image2.jpg", {68, 19}}, {"Image3.jpg", {70, 18}}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    QString error;
    const QImage image = DecodeJpeg(Resource(row.name), &error);
    ASSERT_FALSE(image.isNull()) << error.toStdString();
    EXPECT_EQ(image.size(), row.size);
    // A caption, not a blank or garbled picture: a light corner and some dark ink.
    EXPECT_GT(qGray(image.pixel(0, 0)), 200);
    int dark = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) dark += qGray(image.pixel(x, y)) < 100;
    EXPECT_GT(dark, 20);
  }
}

TEST(JpegImage, DamagedDataGivesANullImageAndAReason) {
  const QByteArray good = Resource("Image1.jpg");
  struct Row {
    QByteArray data;
    const char* why;
  } rows[] = {
      {QByteArray(), "empty"},
      {QByteArray("GIF89a not a jpeg at all"), "another format"},
      {good.left(20), "cut off inside the headers"},
      {[&] {
         QByteArray data = good;
         data[1] = 'X';
         return data;
       }(),
       "start-of-image marker destroyed"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    QString error;
    EXPECT_TRUE(DecodeJpeg(row.data, &error).isNull());
    EXPECT_FALSE(error.isEmpty());
  }
}

TEST(JpegImage, RefusesPicturesLargerThanTheLimit) {
  QString error;
  EXPECT_TRUE(DecodeJpeg(Resource("Image1.jpg"), &error, 100).isNull());
  EXPECT_FALSE(error.isEmpty());
  EXPECT_FALSE(DecodeJpeg(Resource("Image1.jpg"), nullptr, 164).isNull());
}

}  // namespace
