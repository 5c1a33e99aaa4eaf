// Time to synthesize one buffer of 96000 samples (48000 Hz, denominator 2).

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include "generator/synthesis.h"
#include "platform/forms/message_box.h"

namespace {

void Fill(benchmark::State& state, generator::WaveShape shape) {
  generator::GeneratorState s;
  s.SampleRate = 48000;
  s.FreqNumerator = 200;
  s.FreqDenominator = 2;
  s.Omega = s.FreqNumerator * generator::kTwoPi;
  s.Amplitude = 32767;
  s.BufferLength = 96000;
  s.Buffer1.assign(96000, 0);
  int failures = 0;
  forms::SetMessageBoxFunction([&](const QString&, const QString&) { ++failures; });
  for ([[maybe_unused]] auto _ : state) {
    generator::FillBuffer(s, s.Buffer1, shape);
    benchmark::DoNotOptimize(s.Buffer1.data());
  }
  state.counters["failures"] = failures;
  state.SetItemsProcessed(state.iterations() * s.BufferLength);
}

void Sine(benchmark::State& state) {
  Fill(state, {true, false, true, false});
}
void Triangle(benchmark::State& state) {
  Fill(state, {false, true, true, false});
}

}  // namespace

BENCHMARK(Sine)->Unit(benchmark::kMillisecond);
BENCHMARK(Triangle)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
