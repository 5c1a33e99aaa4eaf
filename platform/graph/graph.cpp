#include "platform/graph/graph.h"

#include <cstring>

#include "platform/forms/runtime_error.h"
#include "platform/graph/logging.h"
#include "platform/graph/video_window.h"

namespace graph {

Q_LOGGING_CATEGORY(lcGraph, "strobolux.graph")

namespace {

// What an automation call's failure looks like to the calling program: a run-time error
// with the call's result code.
constexpr const char* kSource = "FilgraphManager";

}  // namespace

void Fail(HRESULT result, const QString& description) {
  qCWarning(lcGraph) << description;
  throw forms::RuntimeError(result, QString::fromLatin1(kSource), description);
}

// ---- IPinInfo ------------------------------------------------------------------------------

IPinInfo::IPinInfo(std::weak_ptr<IFilterInfo> filter, QString name, std::int32_t direction,
                   std::vector<gst::CameraFormat> formats)
    : filter_(std::move(filter)),
      name_(std::move(name)),
      direction_(direction),
      formats_(std::move(formats)) {
  if (!formats_.empty()) {
    chosen_ = formats_.front();
    if (!chosen_.rates.empty()) rate_ = chosen_.rates.front();
  }
}

const gst::CameraFormat* IPinInfo::Format() const {
  return formats_.empty() ? nullptr : &chosen_;
}

void IPinInfo::SetFormat(const gst::CameraFormat& format, const gst::FrameRate& rate) {
  chosen_ = format;
  rate_ = rate;
  // The chosen rate first: that is the one a pipeline opens with.
  chosen_.rates = {rate};
  for (const gst::FrameRate& r : format.rates)
    if (!(r == rate)) chosen_.rates.push_back(r);
}

std::shared_ptr<FilgraphManager> IPinInfo::Graph() const {
  const std::shared_ptr<IFilterInfo> filter = filter_.lock();
  return filter ? filter->Graph() : nullptr;
}

void IPinInfo::Render() {
  const std::shared_ptr<FilgraphManager> graph = Graph();
  if (!graph) Fail(VFW_E_NOT_IN_GRAPH, QStringLiteral("фильтр вывода не входит в граф"));
  graph->RenderPin(*this);
}

void IPinInfo::Disconnect() {
  // A pin whose graph is gone is connected to nothing.
  if (const std::shared_ptr<FilgraphManager> graph = Graph()) graph->DisconnectPin(*this);
  connected_ = false;
}

// ---- IFilterInfo, IRegFilterInfo -----------------------------------------------------------

IFilterInfo::IFilterInfo(std::weak_ptr<FilgraphManager> graph, QString name)
    : graph_(std::move(graph)), name_(std::move(name)) {}

IPinInfo& IFilterInfo::AddPin(const QString& name, std::int32_t direction,
                              std::vector<gst::CameraFormat> formats) {
  pins_.push_back(
      std::make_shared<IPinInfo>(weak_from_this(), name, direction, std::move(formats)));
  return *pins_.back();
}

std::shared_ptr<IFilterInfo> IRegFilterInfo::Filter() {
  const std::shared_ptr<FilgraphManager> graph = graph_.lock();
  if (!graph) Fail(VFW_E_NOT_IN_GRAPH, QStringLiteral("граф уже освобождён"));
  return graph->AddFilter(name_);
}

// ---- FilgraphManager -----------------------------------------------------------------------

FilgraphManager::FilgraphManager() = default;

FilgraphManager::~FilgraphManager() {
  camera_.reset();  // the pipeline stops before the window it shows into goes
  if (!window_guard_) (void)window_.release();  // its Qt owner deleted it already
}

std::shared_ptr<IFilterInfo> FilgraphManager::AddFilter(const QString& name) {
  auto filter = std::make_shared<IFilterInfo>(weak_from_this(), name);
  if (name == QLatin1String(kAviDecompressor) || name == QLatin1String(kMjpegDecompressor) ||
      name == QLatin1String(kColorSpaceConverter)) {
    filter->AddPin(QStringLiteral("XForm In"), PINDIR_INPUT);
    filter->AddPin(QStringLiteral("XForm Out"), PINDIR_OUTPUT);
  } else if (name == QLatin1String(kVideoRenderer)) {
    filter->AddPin(QStringLiteral("Input"), PINDIR_INPUT);
  }
  filters_.push_back(filter);
  return filter;
}

IFilterInfo* FilgraphManager::FindFilter(const QString& name) const {
  for (const auto& filter : filters_)
    if (filter->Name() == name) return filter.get();
  return nullptr;
}

std::vector<std::shared_ptr<IRegFilterInfo>> FilgraphManager::RegFilterCollection() {
  std::vector<std::shared_ptr<IRegFilterInfo>> registered;
  for (const char* name :
       {kAviDecompressor, kColorSpaceConverter, kMjpegDecompressor, kVideoRenderer})
    registered.push_back(
        std::make_shared<IRegFilterInfo>(weak_from_this(), QString::fromLatin1(name)));
  return registered;
}

void FilgraphManager::RenderPin(IPinInfo& pin) {
  if (pin.Direction() != PINDIR_OUTPUT) Fail(E_INVALIDARG, QStringLiteral("это не вывод фильтра"));
  const std::shared_ptr<IFilterInfo> filter = pin.Filter();
  const gst::CameraDevice* camera = filter ? filter->Camera() : nullptr;
  if (!camera || !pin.Format()) Fail(E_FAIL, QStringLiteral("вывод не даёт видео"));
  if (rendered_) DisconnectPin(*rendered_);
  // The chain a JPEG pin needs: a decompressor (one already in the graph if there is one),
  // the colour space converter and the renderer.
  if (pin.Format()->IsJpeg() && !FindFilter(QString::fromLatin1(kAviDecompressor)) &&
      !FindFilter(QString::fromLatin1(kMjpegDecompressor)))
    AddFilter(QString::fromLatin1(kMjpegDecompressor));
  if (!FindFilter(QString::fromLatin1(kColorSpaceConverter)))
    AddFilter(QString::fromLatin1(kColorSpaceConverter));
  if (!FindFilter(QString::fromLatin1(kVideoRenderer)))
    AddFilter(QString::fromLatin1(kVideoRenderer));

  auto pipeline = std::make_unique<gst::CameraPipeline>();
  QString error;
  // A stopped graph holds its camera open, ready to run.
  if (!pipeline->Open(*camera, *pin.Format(), &error, GST_STATE_READY)) Fail(E_FAIL, error);
  camera_ = std::move(pipeline);
  QObject::connect(camera_.get(), &gst::CameraPipeline::Failed,
                   [this](const QString& reason) { OnCameraFailed(reason); });
  QObject::connect(camera_.get(), &gst::CameraPipeline::Frozen, [this](const QString& reason) {
    if (error_handler_) error_handler_(reason);
  });
  QObject::connect(camera_.get(), &gst::CameraPipeline::Resumed, [this] {
    if (resume_handler_) resume_handler_();
  });
  if (!window_) {
    window_ = std::make_unique<VideoWindow>();
    window_guard_ = window_.get();
    ApplyWindow();
  }
  window_->Clear();
  window_->SetSource(camera_.get());
  window_->SetLive(true);
  rendered_ = &pin;
  pin.connected_ = true;
  state_ = State_Stopped;
}

void FilgraphManager::DisconnectPin(IPinInfo& pin) {
  if (rendered_ != &pin) return;
  if (window_guard_) window_->SetSource(nullptr);
  camera_.reset();
  rendered_ = nullptr;
  pin.connected_ = false;
  state_ = State_Stopped;
}

void FilgraphManager::Reconnect(IPinInfo& pin) {
  if (rendered_ != &pin || !camera_) return;
  const std::int32_t state = state_;
  RenderPin(pin);
  if (state == State_Running) Run();
  if (state == State_Paused) Pause();
}

void FilgraphManager::OnCameraFailed(const QString& reason) {
  state_ = State_Stopped;
  if (error_handler_) error_handler_(reason);
}

void FilgraphManager::Run() {
  if (camera_ && !camera_->SetState(GST_STATE_PLAYING))
    Fail(E_FAIL, QStringLiteral("граф не запускается"));
  state_ = State_Running;
  if (auto_show_ == OATRUE) SetVisible(OATRUE);
}

void FilgraphManager::Pause() {
  if (camera_ && !camera_->SetState(GST_STATE_PAUSED))
    Fail(E_FAIL, QStringLiteral("граф не встаёт на паузу"));
  state_ = State_Paused;
}

void FilgraphManager::Stop() {
  if (camera_) camera_->SetState(GST_STATE_READY);
  state_ = State_Stopped;
}

HRESULT FilgraphManager::GetState(std::int32_t timeoutMs, std::int32_t* state) {
  if (!state) return E_POINTER;
  *state = state_;
  if (!camera_ || !camera_->IsOpen()) return S_OK;
  switch (camera_->CurrentState(timeoutMs)) {
    case GST_STATE_PLAYING:
      *state = State_Running;
      return S_OK;
    case GST_STATE_PAUSED:
      *state = State_Paused;
      return S_OK;
    case GST_STATE_READY:
    case GST_STATE_NULL:
      *state = State_Stopped;
      return S_OK;
    default:
      return VFW_S_STATE_INTERMEDIATE;  // still on its way to the state asked for
  }
}

// ---- the video window ----------------------------------------------------------------------

void FilgraphManager::ApplyWindow() {
  if (!window_guard_) return;
  window_->setParent(owner_);
  window_->ApplyStyle(style_);
  window_->setGeometry(left_, top_, width_, height_);
  ShowOrHide();
}

void FilgraphManager::ShowOrHide() {
  const bool show = visible_ == OATRUE;
  if (window_->isVisible() == show) return;
  window_->setVisible(show);
  // Over its siblings in the owner's client area (a top-level window is the window
  // manager's to stack).
  if (show && window_->parentWidget()) window_->raise();
}

void FilgraphManager::SetFullScreenMode(std::int32_t mode) {
  full_screen_ = mode ? OATRUE : OAFALSE;
  if (window_guard_ && !owner_)
    window_->setWindowState(mode ? Qt::WindowFullScreen : Qt::WindowNoState);
}

void FilgraphManager::SetWindowStyle(std::int32_t style) {
  style_ = style;
  if (window_guard_) window_->ApplyStyle(style);
}

void FilgraphManager::SetLeft(std::int32_t left) {
  left_ = left;
  if (window_guard_) window_->move(left_, top_);
}

void FilgraphManager::SetTop(std::int32_t top) {
  top_ = top;
  if (window_guard_) window_->move(left_, top_);
}

void FilgraphManager::SetWidth(std::int32_t width) {
  width_ = width;
  if (window_guard_) window_->resize(width_, height_);
}

void FilgraphManager::SetHeight(std::int32_t height) {
  height_ = height;
  if (window_guard_) window_->resize(width_, height_);
}

void FilgraphManager::SetOwner(QWidget* owner) {
  owner_ = owner;
  ApplyWindow();
}

void FilgraphManager::SetVisible(std::int32_t visible) {
  visible_ = visible ? OATRUE : OAFALSE;
  if (window_guard_) ShowOrHide();
}

// ---- IBasicVideo ---------------------------------------------------------------------------

HRESULT FilgraphManager::GetCurrentImage(std::int32_t* size, std::int32_t* image) {
  if (!size) return E_POINTER;
  const gst::FramePtr frame = camera_ ? camera_->LatestFrame() : nullptr;
  if (!frame || frame->Width() <= 0) return VFW_E_WRONG_STATE;
  const int width = frame->Width();
  const int height = frame->Height();
  const std::int64_t row_bytes = (std::int64_t{width} * 3 + 3) & ~std::int64_t{3};
  const std::int64_t bytes = 40 + row_bytes * height;
  if (bytes > INT32_MAX) return E_OUTOFMEMORY;
  if (!image) {
    *size = static_cast<std::int32_t>(bytes);
    return S_OK;
  }
  if (*size < bytes) return E_OUTOFMEMORY;
  auto* out = reinterpret_cast<std::uint8_t*>(image);
  const std::int32_t header[10] = {
      40, width, height, 0, 0, static_cast<std::int32_t>(row_bytes * height), 0, 0, 0, 0};
  std::memcpy(out, header, sizeof header);
  // biPlanes 1 and biBitCount 24 share the fourth 32-bit word; biCompression is BI_RGB (0).
  const std::uint16_t planes_bits[2] = {1, 24};
  std::memcpy(out + 12, planes_bits, sizeof planes_bits);
  std::uint8_t* rows = out + 40;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* src = frame->Bits() + std::int64_t{height - 1 - y} * frame->Stride();
    std::uint8_t* dst = rows + y * row_bytes;
    for (int x = 0; x < width; ++x) {
      dst[3 * x] = src[4 * x];          // blue
      dst[3 * x + 1] = src[4 * x + 1];  // green
      dst[3 * x + 2] = src[4 * x + 2];  // red
    }
    std::memset(dst + 3 * width, 0, static_cast<std::size_t>(row_bytes - 3 * width));
  }
  return S_OK;
}

}  // namespace graph
