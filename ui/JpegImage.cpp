#include "JpegImage.h"

#include <QFile>

#include <csetjmp>
#include <cstdio>
// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

namespace {

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void OnError(j_common_ptr info) {
  auto* manager = reinterpret_cast<ErrorManager*>(info->err);
  (*info->err->format_message)(info, manager->message);
  std::longjmp(manager->jump, 1);
}

void OnMessage(j_common_ptr, int) {}  // warnings of damaged but readable data stay quiet

// Everything that must survive the long jump lives outside the function that calls setjmp.
struct Decoder {
  jpeg_decompress_struct info{};
  ErrorManager errors{};
  QImage image;

  bool Run(const QByteArray& data, int maxSide, QString* error) {
    info.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = OnError;
    errors.pub.emit_message = OnMessage;
    if (setjmp(errors.jump)) {
      if (error) *error = QString::fromLatin1(errors.message);
      image = QImage();
      return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    if (info.output_width == 0 || info.output_height == 0 || info.output_components != 3 ||
        info.output_width > static_cast<JDIMENSION>(maxSide) ||
        info.output_height > static_cast<JDIMENSION>(maxSide)) {
      if (error) *error = QStringLiteral("unsupported picture size or colour layout");
      return false;
    }
    image = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                   QImage::Format_RGB888);
    if (image.isNull()) {
      if (error) *error = QStringLiteral("out of memory");
      return false;
    }
    while (info.output_scanline < info.output_height) {
      JSAMPROW row = image.scanLine(static_cast<int>(info.output_scanline));
      jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    return true;
  }

  ~Decoder() { jpeg_destroy_decompress(&info); }
};

}  // namespace

QImage DecodeJpeg(const QByteArray& data, QString* error, int maxSide) {
  if (data.isEmpty()) {
    if (error) *error = QStringLiteral("empty file");
    return {};
  }
  Decoder decoder;
  if (!decoder.Run(data, maxSide, error)) return {};
  return decoder.image;
}

QImage LoadJpeg(const QString& path, QString* error) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    if (error) *error = file.errorString();
    return {};
  }
  return DecodeJpeg(file.readAll(), error);
}
