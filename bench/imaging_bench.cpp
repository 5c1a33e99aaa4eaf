// Picture conversion and saving of a 640 x 480 frame, beside a bare TurboJPEG encode plus
// file write of the same pixels (the target: conversion + JPEG save within twice that).

#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <QFile>
#include <QTemporaryDir>
#include <cstring>

#include "imaging/DirectShowDIB.h"
#include "imaging/PicSave.h"

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

}  // namespace

BENCHMARK(CreatePicture)->Unit(benchmark::kMillisecond);
BENCHMARK(SaveJpeg70)->Unit(benchmark::kMillisecond);
BENCHMARK(BareTjCompressAndWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(SavePng)->Unit(benchmark::kMillisecond);
BENCHMARK(SaveGif)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
