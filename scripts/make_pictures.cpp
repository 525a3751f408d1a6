// Draws the main window's pictures. Built and run by make_pictures.py.
//
//   make_pictures OUTPUT_DIR
//
// Image1.jpg 164 x 21 "例如中文名字：刘德华", Image2.jpg 68 x 19 "中文界面", Image3.jpg 70 x 18
// "English OS", all encoded with libjpeg, each also drawn at twice the size for screens scaled 2x
// (Image1@2x.jpg and so on). The window icon is the menu entry's (dist/icons).
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <jpeglib.h>
#include <cstdio>

namespace {

bool WriteJpeg(const QImage& source, const QString& path) {
  QImage image = source.convertToFormat(QImage::Format_RGB888);
  FILE* out = std::fopen(QFile::encodeName(path).constData(), "wb");
  if (!out) return false;
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, out);
  info.image_width = static_cast<JDIMENSION>(image.width());
  info.image_height = static_cast<JDIMENSION>(image.height());
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 95, TRUE);
  // Full-resolution colour keeps small text sharp.
  for (int i = 0; i < info.num_components; ++i) {
    info.comp_info[i].h_samp_factor = 1;
    info.comp_info[i].v_samp_factor = 1;
  }
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = image.scanLine(static_cast<int>(info.next_scanline));
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return std::fclose(out) == 0;
}

QFont PictureFont(int pixels, bool bold) {
  QFont font;
  font.setFamilies({QStringLiteral("Noto Sans CJK SC"), QStringLiteral("DejaVu Sans")});
  font.setPixelSize(pixels);
  font.setBold(bold);
  font.setHintingPreference(QFont::PreferFullHinting);
  return font;
}

// A caption picture: text on the window's button-face grey.
QImage Caption(int width, int height, const QString& text, int pixels, QColor ink, bool bold,
               int scale = 1) {
  QImage image(width * scale, height * scale, QImage::Format_RGB32);
  image.fill(QColor(0xef, 0xef, 0xef));
  QPainter painter(&image);
  painter.scale(scale, scale);
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.setFont(PictureFont(pixels, bold));
  painter.setPen(ink);
  painter.drawText(QRect(1, 0, width - 1, height), Qt::AlignLeft | Qt::AlignVCenter, text);
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_pictures OUTPUT_DIR\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  const QColor ink(0x10, 0x10, 0x10);
  bool ok = true;
  for (int scale : {1, 2}) {
    const QString suffix = scale == 1 ? QStringLiteral(".jpg") : QStringLiteral("@2x.jpg");
    ok = ok &&
         WriteJpeg(Caption(164, 21, QStringLiteral("例如中文名字：刘德华"), 14, ink, false, scale),
                   out.filePath(QStringLiteral("Image1") + suffix)) &&
         WriteJpeg(Caption(68, 19, QStringLiteral("中文界面"), 14, QColor(0, 0, 0xa0), true, scale),
                   out.filePath(QStringLiteral("Image2") + suffix)) &&
         WriteJpeg(
             Caption(70, 18, QStringLiteral("English OS"), 12, QColor(0, 0, 0xa0), true, scale),
             out.filePath(QStringLiteral("Image3") + suffix));
  }
  if (!ok) std::fprintf(stderr, "make_pictures: could not write the pictures\n");
  return ok ? 0 : 1;
}
