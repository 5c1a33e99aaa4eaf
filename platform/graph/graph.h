#pragma once
// Filter-graph automation on GStreamer: a graph object with its media control, video window
// and basic video views, registered filters, filters and pins. A camera filter's output pin,
// once rendered, is one camera pipeline (`gst::CameraPipeline`) showing into a video
// window; the filters in between are kept as the graph's bookkeeping, so that a reader can
// hold the code against the automation interfaces it stands for.

#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/gst/camera_devices.h"
#include "platform/gst/camera_pipeline.h"

class QWidget;

namespace graph {

using HRESULT = std::int32_t;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
inline constexpr HRESULT VFW_E_NOT_CONNECTED = static_cast<HRESULT>(0x80040209);
inline constexpr HRESULT VFW_E_WRONG_STATE = static_cast<HRESULT>(0x80040227);
inline constexpr HRESULT VFW_E_NOT_IN_GRAPH = static_cast<HRESULT>(0x8004025F);
inline constexpr HRESULT VFW_S_STATE_INTERMEDIATE = 0x00040237;

inline constexpr std::int32_t State_Stopped = 0;
inline constexpr std::int32_t State_Paused = 1;
inline constexpr std::int32_t State_Running = 2;

inline constexpr std::int32_t PINDIR_INPUT = 0;
inline constexpr std::int32_t PINDIR_OUTPUT = 1;

// Window style bits the video window honours.
inline constexpr std::int32_t WS_BORDER = 0x00800000;
inline constexpr std::int32_t WS_DLGFRAME = 0x00400000;
inline constexpr std::int32_t WS_CAPTION = WS_BORDER | WS_DLGFRAME;
inline constexpr std::int32_t WS_SYSMENU = 0x00080000;
inline constexpr std::int32_t WS_THICKFRAME = 0x00040000;
inline constexpr std::int32_t WS_MINIMIZEBOX = 0x00020000;
inline constexpr std::int32_t WS_MAXIMIZEBOX = 0x00010000;
inline constexpr std::int32_t WS_CLIPSIBLINGS = 0x04000000;
inline constexpr std::int32_t WS_CLIPCHILDREN = 0x02000000;

// Automation booleans.
inline constexpr std::int32_t OATRUE = -1;
inline constexpr std::int32_t OAFALSE = 0;

class FilgraphManager;
class IFilterInfo;
class VideoWindow;

// A run-time failure of an automation call, as the calling program sees it.
[[noreturn]] void Fail(HRESULT result, const QString& description);

// One pin of a filter.
class IPinInfo : public std::enable_shared_from_this<IPinInfo> {
 public:
  IPinInfo(std::weak_ptr<IFilterInfo> filter, QString name, std::int32_t direction,
           std::vector<gst::CameraFormat> formats = {});

  std::int32_t Direction() const { return direction_; }
  QString Name() const { return name_; }
  // The filter it belongs to; null once that is gone.
  std::shared_ptr<IFilterInfo> Filter() const { return filter_.lock(); }
  // Completes a chain from this output pin to a video renderer; raises on failure.
  void Render();
  // Disconnects the pin from what follows it (the camera stops delivering).
  void Disconnect();
  bool Connected() const { return connected_; }

  // The formats the pin offers and the one it uses now (the first until one is chosen).
  const std::vector<gst::CameraFormat>& Formats() const { return formats_; }
  const gst::CameraFormat* Format() const;
  void SetFormat(const gst::CameraFormat& format, const gst::FrameRate& rate);
  const gst::FrameRate& Rate() const { return rate_; }

 private:
  friend class FilgraphManager;
  // The graph that holds the pin's filter, or null when it has been released.
  std::shared_ptr<FilgraphManager> Graph() const;

  std::weak_ptr<IFilterInfo> filter_;
  QString name_;
  std::int32_t direction_;
  std::vector<gst::CameraFormat> formats_;
  gst::CameraFormat chosen_;
  gst::FrameRate rate_;
  bool connected_ = false;
};

// One filter in a graph.
class IFilterInfo : public std::enable_shared_from_this<IFilterInfo> {
 public:
  IFilterInfo(std::weak_ptr<FilgraphManager> graph, QString name);

  QString Name() const { return name_; }
  const std::vector<std::shared_ptr<IPinInfo>>& Pins() const { return pins_; }
  IPinInfo& AddPin(const QString& name, std::int32_t direction,
                   std::vector<gst::CameraFormat> formats = {});
  // The graph it is in; null once the graph has been released.
  std::shared_ptr<FilgraphManager> Graph() const { return graph_.lock(); }
  // The camera behind a capture filter; null for other filters.
  const gst::CameraDevice* Camera() const { return camera_.device ? &camera_ : nullptr; }
  void SetCamera(gst::CameraDevice camera) { camera_ = std::move(camera); }

 private:
  std::weak_ptr<FilgraphManager> graph_;  // a filter does not keep its graph alive
  QString name_;
  std::vector<std::shared_ptr<IPinInfo>> pins_;
  gst::CameraDevice camera_;
};

// A filter the system knows, which can be put into a graph.
class IRegFilterInfo {
 public:
  IRegFilterInfo(std::weak_ptr<FilgraphManager> graph, QString name)
      : graph_(std::move(graph)), name_(std::move(name)) {}
  QString Name() const { return name_; }
  // Adds an instance of the filter to the graph and returns it.
  std::shared_ptr<IFilterInfo> Filter();

 private:
  std::weak_ptr<FilgraphManager> graph_;
  QString name_;
};

class IMediaControl {
 public:
  virtual ~IMediaControl() = default;
  virtual void Run() = 0;
  virtual void Pause() = 0;
  virtual void Stop() = 0;
  // The state within the timeout; S_OK when settled, VFW_S_STATE_INTERMEDIATE when still
  // changing.
  virtual HRESULT GetState(std::int32_t timeoutMs, std::int32_t* state) = 0;
  virtual std::vector<std::shared_ptr<IRegFilterInfo>> RegFilterCollection() = 0;
};

class IVideoWindow {
 public:
  virtual ~IVideoWindow() = default;
  virtual std::int32_t FullScreenMode() const = 0;
  virtual void SetFullScreenMode(std::int32_t mode) = 0;
  virtual std::int32_t WindowStyle() const = 0;
  virtual void SetWindowStyle(std::int32_t style) = 0;
  virtual std::int32_t Left() const = 0;
  virtual void SetLeft(std::int32_t left) = 0;
  virtual std::int32_t Top() const = 0;
  virtual void SetTop(std::int32_t top) = 0;
  virtual std::int32_t Width() const = 0;
  virtual void SetWidth(std::int32_t width) = 0;
  virtual std::int32_t Height() const = 0;
  virtual void SetHeight(std::int32_t height) = 0;
  virtual QWidget* Owner() const = 0;
  virtual void SetOwner(QWidget* owner) = 0;  // null detaches the window
  virtual std::int32_t AutoShow() const = 0;
  virtual void SetAutoShow(std::int32_t autoShow) = 0;
  virtual std::int32_t Visible() const = 0;
  virtual void SetVisible(std::int32_t visible) = 0;
};

class IBasicVideo {
 public:
  virtual ~IBasicVideo() = default;
  // With no buffer: the byte count of the current frame as a packed DIB. With a buffer of
  // at least that many bytes (`*size`): the frame — a 40-byte BITMAPINFOHEADER, then 24-bit
  // bottom-up rows padded to 4 bytes. A smaller buffer is refused (E_OUTOFMEMORY).
  virtual HRESULT GetCurrentImage(std::int32_t* size, std::int32_t* image) = 0;
};

// Made with std::make_shared: its filters and pins refer back to it weakly.
class FilgraphManager : public IMediaControl,
                        public IVideoWindow,
                        public IBasicVideo,
                        public std::enable_shared_from_this<FilgraphManager> {
 public:
  FilgraphManager();
  ~FilgraphManager() override;  // the camera pipeline is at NULL before the window goes
  FilgraphManager(const FilgraphManager&) = delete;
  FilgraphManager& operator=(const FilgraphManager&) = delete;

  // IMediaControl
  void Run() override;
  void Pause() override;
  void Stop() override;
  HRESULT GetState(std::int32_t timeoutMs, std::int32_t* state) override;
  std::vector<std::shared_ptr<IRegFilterInfo>> RegFilterCollection() override;

  // IVideoWindow
  std::int32_t FullScreenMode() const override { return full_screen_; }
  void SetFullScreenMode(std::int32_t mode) override;
  std::int32_t WindowStyle() const override { return style_; }
  void SetWindowStyle(std::int32_t style) override;
  std::int32_t Left() const override { return left_; }
  void SetLeft(std::int32_t left) override;
  std::int32_t Top() const override { return top_; }
  void SetTop(std::int32_t top) override;
  std::int32_t Width() const override { return width_; }
  void SetWidth(std::int32_t width) override;
  std::int32_t Height() const override { return height_; }
  void SetHeight(std::int32_t height) override;
  QWidget* Owner() const override { return owner_; }
  void SetOwner(QWidget* owner) override;
  std::int32_t AutoShow() const override { return auto_show_; }
  void SetAutoShow(std::int32_t autoShow) override { auto_show_ = autoShow ? OATRUE : OAFALSE; }
  std::int32_t Visible() const override { return visible_; }
  void SetVisible(std::int32_t visible) override;

  // IBasicVideo
  HRESULT GetCurrentImage(std::int32_t* size, std::int32_t* image) override;

  // Not of the interfaces: what the program's own layer and tests look at.
  std::shared_ptr<IFilterInfo> AddFilter(const QString& name);
  const std::vector<std::shared_ptr<IFilterInfo>>& Filters() const { return filters_; }
  gst::CameraPipeline* Camera() const { return camera_.get(); }
  VideoWindow* Window() const { return window_.get(); }
  // Not of the interfaces: how a camera failure while the graph runs reaches the program.
  void SetErrorHandler(std::function<void(const QString&)> handler) {
    error_handler_ = std::move(handler);
  }
  // A camera that gave no frame for a second is told through the error handler while the graph
  // keeps running; this is called when its frames come again.
  void SetResumeHandler(std::function<void()> handler) { resume_handler_ = std::move(handler); }
  // Reconnects a rendered pin in its newly chosen format; the graph keeps its state.
  void Reconnect(IPinInfo& pin);

 private:
  friend class IPinInfo;
  void RenderPin(IPinInfo& pin);
  void DisconnectPin(IPinInfo& pin);
  void ApplyWindow();
  void ShowOrHide();
  IFilterInfo* FindFilter(const QString& name) const;

  std::vector<std::shared_ptr<IFilterInfo>> filters_;
  void OnCameraFailed(const QString& reason);

  std::unique_ptr<gst::CameraPipeline> camera_;
  // The graph owns its window, also while the owner is its Qt parent; should the owner
  // delete it first, the guard tells.
  std::unique_ptr<VideoWindow> window_;
  QPointer<VideoWindow> window_guard_;
  std::function<void(const QString&)> error_handler_;
  std::function<void()> resume_handler_;
  IPinInfo* rendered_ = nullptr;
  std::int32_t state_ = State_Stopped;
  std::int32_t full_screen_ = OAFALSE;
  std::int32_t style_ = WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU |
                        WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
  std::int32_t left_ = 0, top_ = 0, width_ = 240, height_ = 180;
  QWidget* owner_ = nullptr;
  std::int32_t auto_show_ = OATRUE;
  std::int32_t visible_ = OAFALSE;
};

// The names of the registered filters, in the order the system lists them.
inline constexpr const char* kAviDecompressor = "AVI Decompressor";
inline constexpr const char* kColorSpaceConverter = "Color Space Converter";
inline constexpr const char* kVideoRenderer = "Video Renderer";
inline constexpr const char* kMjpegDecompressor = "MJPEG Decompressor";

}  // namespace graph
