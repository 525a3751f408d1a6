// The pictures of the main window are JPEG files compiled into the program as Qt resources and
// decoded with libjpeg-turbo.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// Decodes a JPEG (baseline or progressive; grey or colour) into an RGB image. On damaged or
// unsupported data, or a picture larger than `maxSide` pixels in either direction, returns a null
// image and puts the reason into `*error` when given. Never aborts the program.
QImage DecodeJpeg(const QByteArray& data, QString* error = nullptr, int maxSide = 4096);

// Reads a JPEG from a file or resource path (":/...") and decodes it; null image on failure.
QImage LoadJpeg(const QString& path, QString* error = nullptr);
