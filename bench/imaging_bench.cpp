// Picture conversion and saving of a 640 x 480 frame, beside a bare TurboJPEG encode plus
// file write of the same pixels (the target: conversion + JPEG save within twice that); and
// the PNG of a camera's own frame saved beside a picture, at the writer's zlib level 1 and at
// libpng's default, on a webcam-like frame (a scene with sensor noise).

#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <random>

#include "imaging/direct_show_dib.h"
#include "imaging/pic_save.h"
#include "platform/gdiplus/encoders.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

forms::LongArray Frame() {
  gdi::BITMAPINFOHEADER header{40, kWidth, kHeight, 1, 24, gdi::BI_RGB, 0, 0, 0, 0, 0};
  std::vector<std::uint8_t> bytes(sizeof header + kWidth * kHeight * 3);
  std::memcpy(bytes.data(), &header, sizeof header);
  for (size_t i = sizeof header; i < bytes.size(); ++i)
    bytes[i] = static_cast<std::uint8_t>((i * 7) ^ (i >> 9));
  forms::LongArray array;
  array.Elements.resize(bytes.size() / 4);
  std::memcpy(array.Elements.data(), bytes.data(), bytes.size());
  return array;
}

QTemporaryDir& Folder() {
  static QTemporaryDir dir;
  return dir;
}

void CreatePicture(benchmark::State& state) {
  const forms::LongArray frame = Frame();
  imaging::DirectShowDIB dib;
  for ([[maybe_unused]] auto _ : state) benchmark::DoNotOptimize(dib.CreatePicture(frame));
}

void CreateAndSave(benchmark::State& state, int format) {
  const forms::LongArray frame = Frame();
  imaging::DirectShowDIB dib;
  imaging::PicSave saver;
  const QString path = Folder().filePath(QStringLiteral("bench.out"));
  for ([[maybe_unused]] auto _ : state)
    saver.SavePicture(dib.CreatePicture(frame), path, format, 70);
}

void SaveJpeg70(benchmark::State& state) {
  CreateAndSave(state, 1);
}
void SavePng(benchmark::State& state) {
  CreateAndSave(state, 2);
}
void SaveGif(benchmark::State& state) {
  CreateAndSave(state, 0);
}

void BareTjCompressAndWrite(benchmark::State& state) {
  const QImage pixels = imaging::DirectShowDIB().CreatePicture(Frame())->Image();
  tjhandle compressor = tjInitCompress();
  const QString path = Folder().filePath(QStringLiteral("bare.jpg"));
  for ([[maybe_unused]] auto _ : state) {
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    tjCompress2(compressor, pixels.constBits(), kWidth, static_cast<int>(pixels.bytesPerLine()),
                kHeight, TJPF_BGRX, &jpeg, &size, TJSAMP_420, 70, 0);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(reinterpret_cast<const char*>(jpeg), static_cast<qint64>(size));
    file.close();
    tjFree(jpeg);
  }
  tjDestroy(compressor);
}

// A smooth gradient with noise of a few grey levels, as a webcam's frame has.
QImage NoisyFrame(int width, int height, bool grey) {
  QImage image(width, height, grey ? QImage::Format_Grayscale8 : QImage::Format_RGB32);
  std::mt19937 random(7);
  std::normal_distribution<double> noise(0, 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const auto level = [&](int base) {
        return std::clamp(static_cast<int>(base + noise(random)), 0, 255);
      };
      const int base = 40 + (x + y) * 150 / (width + height);
      if (grey)
        image.scanLine(y)[x] = static_cast<std::uint8_t>(level(base));
      else
        image.setPixel(x, y, qRgb(level(base), level(base + 10), level(base - 10)));
    }
  }
  return image;
}

// Args: width, height, grey (0/1), zlib level (-1: libpng's default).
void FramePng(benchmark::State& state) {
  const QImage frame = NoisyFrame(static_cast<int>(state.range(0)),
                                  static_cast<int>(state.range(1)), state.range(2) != 0);
  std::int64_t bytes = 0;
  for ([[maybe_unused]] auto _ : state) {
    const std::optional<QByteArray> png =
        gdiplus::EncodePng(frame, static_cast<int>(state.range(3)));
    bytes = png ? png->size() : 0;
  }
  state.counters["file_kB"] = static_cast<double>(bytes) / 1000;
}

}  // namespace

BENCHMARK(FramePng)
    ->ArgNames({"width", "height", "grey", "level"})
    ->Args({640, 480, 0, 1})
    ->Args({640, 480, 0, -1})
    ->Args({640, 480, 1, 1})
    ->Args({1280, 720, 0, 1})
    ->Args({1280, 720, 1, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(CreatePicture)->Unit(benchmark::kMillisecond);
BENCHMARK(SaveJpeg70)->Unit(benchmark::kMillisecond);
BENCHMARK(BareTjCompressAndWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(SavePng)->Unit(benchmark::kMillisecond);
BENCHMARK(SaveGif)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
