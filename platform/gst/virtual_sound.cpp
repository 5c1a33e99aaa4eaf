#include "platform/gst/virtual_sound.h"

#include <fcntl.h>
#include <gst/audio/audio.h>
#include <gst/base/gstbasesink.h>
#include <unistd.h>

#include <QtEndian>
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/gst/gst_util.h"
#include "platform/gst/logging.h"
#include "platform/gst/sound_timeline.h"

namespace gst {

namespace {

struct VirtualSoundDevice {
  GstDevice parent;
  gchar* wav_path;
  gdouble rate;
  gint max_channels;
};
struct VirtualSoundDeviceClass {
  GstDeviceClass parent_class;
};

G_DEFINE_TYPE(VirtualSoundDevice, virtual_sound_device, GST_TYPE_DEVICE)

// What the virtual sound output takes: the formats a WAV file of PCM samples holds.
constexpr const char* kSoundCaps =
    "audio/x-raw, format=(string){ S16LE, U8 }, layout=(string)interleaved, "
    "rate=(int)[ 1, 2147483647 ], channels=(int)[ 1, 2 ]";

// The caps of a device that takes at most `maxChannels` (1 or 2) channels.
CapsPtr SoundCaps(int maxChannels) {
  CapsPtr caps(gst_caps_from_string(kSoundCaps));
  if (maxChannels < 2) {
    caps.reset(gst_caps_make_writable(caps.release()));
    gst_caps_set_simple(caps.get(), "channels", G_TYPE_INT, 1, nullptr);
  }
  return caps;
}

// Writes `size` bytes at `offset`, going on after a partial write; false with errno set.
bool WriteAt(int fd, const void* data, std::size_t size, off_t offset) {
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::pwrite(fd, bytes, size, offset);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
    offset += written;
  }
  return true;
}

// A WAV file of PCM samples whose header stays true while it grows, so that a run that is
// killed leaves a file any reader takes as it is, up to about its last second. Samples go to
// the file with pwrite, which leaves nothing buffered in the process: once a write returns,
// its bytes are in the file even if the process dies, and only then does a header claim them.
class WavWriter {
 public:
  WavWriter() = default;
  WavWriter(const WavWriter&) = delete;
  WavWriter& operator=(const WavWriter&) = delete;
  ~WavWriter() { Finish(); }

  // Starts the file anew, empty until the format is known.
  bool Open(const char* path) {
    Finish();
    path_ = QString::fromUtf8(path);
    fd_ = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return fd_ >= 0;
  }

  // Writes the header of this format, claiming no samples yet. A format cannot change once
  // samples were written (false, EINVAL).
  bool Begin(std::uint32_t rate, std::uint16_t channels, std::uint16_t bits) {
    const Format format{rate, channels, bits};
    if (written_ > 0) {
      if (format == format_) return true;
      errno = EINVAL;
      return false;
    }
    format_ = format;
    const std::uint32_t block = channels * bits / 8u;
    block_ = block;
    bytes_per_second_ = std::uint64_t{rate} * block;
    std::array<char, kHeaderSize> header{};
    auto put32 = [&](std::size_t at, std::uint32_t value) {
      qToLittleEndian(value, header.data() + at);
    };
    auto put16 = [&](std::size_t at, std::uint16_t value) {
      qToLittleEndian(value, header.data() + at);
    };
    std::memcpy(header.data(), "RIFF", 4);
    put32(4, kHeaderSize - 8);
    std::memcpy(header.data() + 8, "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);  // PCM
    put16(22, channels);
    put32(24, rate);
    put32(28, static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes_per_second_, 0xFFFFFFFFu)));
    put16(32, static_cast<std::uint16_t>(block));
    put16(34, bits);
    std::memcpy(header.data() + 36, "data", 4);
    put32(kDataSizeAt, 0);
    begun_ = WriteAt(fd_, header.data(), header.size(), 0);
    claimed_at_ = std::chrono::steady_clock::now();
    return begun_;
  }

  bool Append(const void* data, std::size_t size) {
    if (!begun_) {
      errno = EINVAL;
      return false;
    }
    if (!WriteAt(fd_, data, size, static_cast<off_t>(kHeaderSize + written_))) return false;
    written_ += size;
    return true;
  }

  // Claims what was written once a second of samples or a second of time has passed since the
  // last claim, so that the header is never much behind the samples and costs little.
  void ClaimIfDue() {
    if (written_ == claimed_) return;
    const auto now = std::chrono::steady_clock::now();
    if (written_ - claimed_ < bytes_per_second_ && now - claimed_at_ < std::chrono::seconds(1))
      return;
    claimed_at_ = now;
    Claim(false);
  }

  // Claims every sample (with the pad byte of an odd data chunk) and closes the file.
  void Finish() {
    if (fd_ < 0) return;
    if (begun_) {
      const std::uint64_t whole = written_ / block_ * block_;
      const char pad = 0;
      const bool padded =
          whole % 2 == 1 && WriteAt(fd_, &pad, 1, static_cast<off_t>(kHeaderSize + whole));
      Claim(padded);
    }
    if (::close(fd_) != 0)
      qCWarning(lcGst) << "closing the WAV file" << path_ << "failed:" << g_strerror(errno);
    fd_ = -1;
    begun_ = false;
    claim_failed_ = false;
    written_ = claimed_ = 0;
  }

 private:
  static constexpr std::size_t kHeaderSize = 44;
  static constexpr off_t kDataSizeAt = 40;

  // Writes the sizes of the whole frames written so far into the header: the data chunk's
  // first, then the file's, each never more than the file holds. A file past 4 GiB keeps the
  // largest sizes a WAV header can hold.
  void Claim(bool padded) {
    const std::uint64_t limit = (0xFFFFFFFFu - kHeaderSize) / block_ * block_;
    std::uint64_t data = written_ / block_ * block_;
    if (data > limit) {
      if (claimed_ <= limit)
        qCWarning(lcGst) << "the WAV file" << path_ << "is past 4 GiB; its header ends there";
      data = limit;
      padded = false;
    }
    claimed_ = written_;
    const auto dataSize = static_cast<std::uint32_t>(data);
    const auto riffSize = static_cast<std::uint32_t>(kHeaderSize - 8 + data + (padded ? 1 : 0));
    const std::uint32_t fields[] = {qToLittleEndian(dataSize), qToLittleEndian(riffSize)};
    if (!WriteAt(fd_, &fields[0], 4, kDataSizeAt) || !WriteAt(fd_, &fields[1], 4, 4)) {
      if (!claim_failed_)
        qCWarning(lcGst) << "writing the sizes into the WAV file" << path_
                         << "failed:" << g_strerror(errno);
      claim_failed_ = true;
    }
  }

  struct Format {
    std::uint32_t rate = 0;
    std::uint16_t channels = 0;
    std::uint16_t bits = 0;
    bool operator==(const Format&) const = default;
  };

  QString path_;
  int fd_ = -1;
  Format format_;
  bool begun_ = false;
  bool claim_failed_ = false;
  std::uint32_t block_ = 1;
  std::uint64_t bytes_per_second_ = 1;  // rates up to the caps' limit overflow 32 bits
  std::uint64_t written_ = 0;           // sample bytes in the file
  std::uint64_t claimed_ = 0;           // sample bytes written when the header was last brought up
  std::chrono::steady_clock::time_point claimed_at_;
};

// A buffer's memory, mapped for reading while this lives.
class MappedBuffer {
 public:
  explicit MappedBuffer(GstBuffer* buffer) : buffer_(buffer) {
    mapped_ = gst_buffer_map(buffer, &map_, GST_MAP_READ);
  }
  ~MappedBuffer() {
    if (mapped_) gst_buffer_unmap(buffer_, &map_);
  }
  MappedBuffer(const MappedBuffer&) = delete;
  MappedBuffer& operator=(const MappedBuffer&) = delete;
  bool Mapped() const { return mapped_; }
  const guint8* Data() const { return map_.data; }
  gsize Size() const { return map_.size; }

 private:
  GstBuffer* buffer_;
  GstMapInfo map_{};
  bool mapped_ = false;
};

// The virtual sound output's sink, writing the samples into a WAV file as they play. It syncs
// each buffer on the clock before writing it, so the stream is paced like a sound card's.
struct WavSink {
  GstBaseSink parent;
  gchar* path;
  GstClock* clock;   // the device's own clock when it runs off the system's rate, else null
  WavWriter writer;  // constructed and destroyed with the object
  // The format, for the record of what played.
  gint rate;
  gint channels;
  gboolean eight_bit;
  gint max_channels;  // what its device takes
};

struct WavSinkClass {
  GstBaseSinkClass parent_class;
};

G_DEFINE_TYPE(WavSink, wav_sink, GST_TYPE_BASE_SINK)

// The sink whose stream the process-wide record of played sound follows: the one that
// started last. Only compared, never dereferenced.
std::atomic<const void*> recording_sink{nullptr};

// Records what this buffer plays and when its first sample plays on the steady clock: the
// time the sink's synchronisation waits for, on the pipeline's clock, with a skewed clock's
// rate undone.
void RecordPlayed(WavSink* self, GstBuffer* buffer, const MappedBuffer& mapped) {
  if (recording_sink.load() != self || self->rate <= 0) return;
  auto* base = GST_BASE_SINK(self);
  const GstClockTime pts = GST_BUFFER_PTS(buffer);
  if (!GST_CLOCK_TIME_IS_VALID(pts)) return;
  const guint64 running = gst_segment_to_running_time(&base->segment, GST_FORMAT_TIME, pts);
  if (!GST_CLOCK_TIME_IS_VALID(running)) return;
  const ClockPtr clock(gst_element_get_clock(GST_ELEMENT(self)));
  if (!clock) return;
  const std::vector<float> samples =
      ChannelZero(mapped.Data(), mapped.Size(), self->eight_bit, self->channels);
  if (samples.empty()) return;
  // A second channel drives the scene's strobe LED.
  const std::vector<float> light =
      ChannelOneLight(mapped.Data(), mapped.Size(), self->eight_bit, self->channels);
  const auto start = static_cast<GstClockTime>(
      static_cast<GstClockTimeDiff>(running + gst_element_get_base_time(GST_ELEMENT(self)) +
                                    gst_base_sink_get_latency(base)) +
      gst_base_sink_get_ts_offset(base) -
      static_cast<GstClockTimeDiff>(gst_base_sink_get_render_delay(base)));
  const GstClockTime length =
      gst_util_uint64_scale(samples.size(), GST_SECOND, static_cast<guint64>(self->rate));
  const std::int64_t first = ClockTimeToSteadyNs(clock.get(), start);
  const std::int64_t end = ClockTimeToSteadyNs(clock.get(), start + length);
  const double sampleNs = static_cast<double>(end - first) / static_cast<double>(samples.size());
  if (self->channels >= 2)
    PlayedSound().Append(first, sampleNs, samples, light);
  else
    PlayedSound().Append(first, sampleNs, samples);
}

gboolean WavSinkStart(GstBaseSink* base) {
  auto* self = reinterpret_cast<WavSink*>(base);
  if (self->writer.Open(self->path)) return TRUE;
  const int error = errno;
  qCWarning(lcGst) << "cannot open the WAV file" << self->path << g_strerror(error);
  GST_ELEMENT_ERROR(self, RESOURCE, OPEN_WRITE, ("Cannot open the WAV file \"%s\".", self->path),
                    ("%s", g_strerror(error)));
  return FALSE;
}

gboolean WavSinkStop(GstBaseSink* base) {
  auto* self = reinterpret_cast<WavSink*>(base);
  self->writer.Finish();
  // What played stays in the record: frames exposed before the stop arrive after it.
  const void* expected = self;
  recording_sink.compare_exchange_strong(expected, nullptr);
  return TRUE;
}

// The formats its device takes: a device of one channel refuses two.
GstCaps* WavSinkGetCaps(GstBaseSink* base, GstCaps* filter) {
  const auto* self = reinterpret_cast<WavSink*>(base);
  CapsPtr caps = SoundCaps(self->max_channels);
  if (filter) caps.reset(gst_caps_intersect_full(filter, caps.get(), GST_CAPS_INTERSECT_FIRST));
  return caps.release();
}

gboolean WavSinkSetCaps(GstBaseSink* base, GstCaps* caps) {
  auto* self = reinterpret_cast<WavSink*>(base);
  GstAudioInfo info;
  if (!gst_audio_info_from_caps(&info, caps)) return FALSE;
  if (self->writer.Begin(GST_AUDIO_INFO_RATE(&info), GST_AUDIO_INFO_CHANNELS(&info),
                         GST_AUDIO_INFO_WIDTH(&info))) {
    self->rate = GST_AUDIO_INFO_RATE(&info);
    self->channels = GST_AUDIO_INFO_CHANNELS(&info);
    self->eight_bit = GST_AUDIO_INFO_WIDTH(&info) == 8;
    // A new stream: the record of what played starts anew with it.
    recording_sink.store(self);
    PlayedSound().Restart(self->rate);
    return TRUE;
  }
  const int error = errno;
  qCWarning(lcGst) << "cannot write the header of the WAV file" << self->path << g_strerror(error);
  GST_ELEMENT_ERROR(self, RESOURCE, WRITE, ("Cannot write the WAV file \"%s\".", self->path),
                    ("header: %s", g_strerror(error)));
  return FALSE;
}

GstFlowReturn WavSinkRender(GstBaseSink* base, GstBuffer* buffer) {
  auto* self = reinterpret_cast<WavSink*>(base);
  const MappedBuffer mapped(buffer);
  if (mapped.Mapped() && self->writer.Append(mapped.Data(), mapped.Size())) {
    self->writer.ClaimIfDue();
    RecordPlayed(self, buffer, mapped);
    return GST_FLOW_OK;
  }
  const int error = mapped.Mapped() ? errno : EFAULT;
  qCWarning(lcGst) << "cannot write the WAV file" << self->path << g_strerror(error);
  GST_ELEMENT_ERROR(self, RESOURCE, WRITE, ("Cannot write the WAV file \"%s\".", self->path),
                    ("%s", g_strerror(error)));
  return GST_FLOW_ERROR;
}

GstClock* WavSinkProvideClock(GstElement* element) {
  auto* self = reinterpret_cast<WavSink*>(element);
  if (self->clock) return GST_CLOCK(gst_object_ref(self->clock));
  return GST_ELEMENT_CLASS(wav_sink_parent_class)->provide_clock(element);
}

// A monotonic system clock whose time runs `rate` times as fast. The sink's synchronisation
// waits for this clock's time, so the samples are really consumed at that rate.
GstClock* NewSkewedClock(double rate) {
  auto* clock = GST_CLOCK(gst_object_ref_sink(
      g_object_new(GST_TYPE_SYSTEM_CLOCK, "clock-type", GST_CLOCK_TYPE_MONOTONIC, nullptr)));
  const GstClockTime now = gst_clock_get_internal_time(clock);
  constexpr GstClockTime kScale = 1000000;
  gst_clock_set_calibration(clock, now, now, static_cast<GstClockTime>(std::llround(rate * kScale)),
                            kScale);
  return clock;
}

void WavSinkFinalize(GObject* object) {
  auto* self = reinterpret_cast<WavSink*>(object);
  std::destroy_at(&self->writer);
  const void* expected = self;
  recording_sink.compare_exchange_strong(expected, nullptr);
  if (self->clock) gst_object_unref(self->clock);
  g_free(self->path);
  G_OBJECT_CLASS(wav_sink_parent_class)->finalize(object);
}

void wav_sink_class_init(WavSinkClass* klass) {
  static GstStaticPadTemplate sink_template =
      GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(kSoundCaps));
  auto* element = GST_ELEMENT_CLASS(klass);
  gst_element_class_add_static_pad_template(element, &sink_template);
  gst_element_class_set_static_metadata(element, "Strobolux WAV output", "Sink/Audio",
                                        "Plays into a WAV file in real time", "Strobolux");
  element->provide_clock = WavSinkProvideClock;
  auto* base = GST_BASE_SINK_CLASS(klass);
  base->start = WavSinkStart;
  base->stop = WavSinkStop;
  base->get_caps = WavSinkGetCaps;
  base->set_caps = WavSinkSetCaps;
  base->render = WavSinkRender;
  G_OBJECT_CLASS(klass)->finalize = WavSinkFinalize;
}

void wav_sink_init(WavSink* self) {
  self->path = nullptr;
  self->clock = nullptr;
  self->rate = 0;
  self->channels = 1;
  self->eight_bit = FALSE;
  self->max_channels = 2;
  std::construct_at(&self->writer);  // GObject hands out zeroed memory, not a C++ object
  gst_base_sink_set_sync(GST_BASE_SINK(self), TRUE);
  gst_base_sink_set_async_enabled(GST_BASE_SINK(self), FALSE);
}

GstElement* VirtualSoundCreateElement(GstDevice* device, const gchar* name) {
  auto* self = reinterpret_cast<VirtualSoundDevice*>(device);
  auto* sink = static_cast<WavSink*>(g_object_new(wav_sink_get_type(), nullptr));
  sink->path = g_strdup(self->wav_path);
  sink->max_channels = self->max_channels;
  if (self->rate > 0 && self->rate != 1.0) {
    // Set before the sink joins a pipeline, which then chooses this clock over the system's.
    sink->clock = NewSkewedClock(self->rate);
    GST_OBJECT_FLAG_SET(sink, GST_ELEMENT_FLAG_PROVIDE_CLOCK);
  }
  if (name) gst_element_set_name(GST_ELEMENT(sink), name);
  // The caller takes a floating element, as from any factory.
  return GST_ELEMENT(sink);
}

void VirtualSoundDeviceFinalize(GObject* object) {
  g_free(reinterpret_cast<VirtualSoundDevice*>(object)->wav_path);
  G_OBJECT_CLASS(virtual_sound_device_parent_class)->finalize(object);
}

void virtual_sound_device_class_init(VirtualSoundDeviceClass* klass) {
  GST_DEVICE_CLASS(klass)->create_element = VirtualSoundCreateElement;
  G_OBJECT_CLASS(klass)->finalize = VirtualSoundDeviceFinalize;
}

void virtual_sound_device_init(VirtualSoundDevice* self) {
  self->wav_path = nullptr;
  self->rate = 1.0;
  self->max_channels = 2;
}

}  // namespace

GstDevice* NewVirtualSoundDevice(const QString& name, const QString& wavPath, double rate,
                                 int maxChannels) {
  const CapsPtr caps = SoundCaps(maxChannels);
  const StructurePtr properties(
      gst_structure_new("properties", "is-default", G_TYPE_BOOLEAN, FALSE, nullptr));
  auto* device = static_cast<VirtualSoundDevice*>(g_object_new(
      virtual_sound_device_get_type(), "display-name", name.toUtf8().constData(), "device-class",
      "Audio/Sink", "caps", caps.get(), "properties", properties.get(), nullptr));
  device->wav_path = g_strdup(wavPath.toUtf8().constData());
  device->rate = rate;
  device->max_channels = maxChannels;
  return GST_DEVICE(gst_object_ref_sink(device));
}

}  // namespace gst
