#pragma once
// The capture-window library: a driver list made of the cameras that deliver raw frames, and
// capture windows steered by capture messages. A capture window is a child widget showing its
// camera's preview; its frame buffer is what it saves as a BMP or copies to the clipboard.

#include <QString>
#include <QWidget>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace gst {
class CameraPipeline;
}  // namespace gst

namespace capture {

using HWND = std::int32_t;  // a capture window's handle; 0 is none
using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using BOOL = std::int32_t;
}  // namespace capture

// The same values GLib gives them, so the two can meet in one file.
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

namespace capture {

inline constexpr std::uint32_t WS_CHILD = 0x40000000;
inline constexpr std::uint32_t WS_VISIBLE = 0x10000000;

inline constexpr UINT WM_USER = 0x400;
inline constexpr UINT WM_CAP_START = WM_USER;
inline constexpr UINT WM_CAP_DRIVER_CONNECT = WM_CAP_START + 10;
inline constexpr UINT WM_CAP_DRIVER_DISCONNECT = WM_CAP_START + 11;
inline constexpr UINT WM_CAP_FILE_SET_CAPTURE_FILEA = WM_CAP_START + 20;
inline constexpr UINT WM_CAP_FILE_SAVEDIBA = WM_CAP_START + 25;
inline constexpr UINT WM_CAP_EDIT_COPY = WM_CAP_START + 30;
inline constexpr UINT WM_CAP_DLG_VIDEOFORMAT = WM_CAP_START + 41;
inline constexpr UINT WM_CAP_DLG_VIDEOSOURCE = WM_CAP_START + 42;
inline constexpr UINT WM_CAP_DLG_VIDEOCOMPRESSION = WM_CAP_START + 46;
inline constexpr UINT WM_CAP_SET_PREVIEW = WM_CAP_START + 50;
inline constexpr UINT WM_CAP_SET_PREVIEWRATE = WM_CAP_START + 52;
inline constexpr UINT WM_CAP_SEQUENCE = WM_CAP_START + 62;
inline constexpr UINT WM_CAP_SET_SEQUENCE_SETUP = WM_CAP_START + 64;
inline constexpr UINT WM_CAP_GET_SEQUENCE_SETUP = WM_CAP_START + 65;
inline constexpr UINT WM_CAP_STOP = WM_CAP_START + 68;

using DWORD = std::uint32_t;

// The capture settings record, laid out as the capture library's callers expect it.
struct CAPTUREPARMS {
  DWORD dwRequestMicroSecPerFrame;
  BOOL fMakeUserHitOKToCapture;
  UINT wPercentDropForError;
  BOOL fYield;
  DWORD dwIndexSize;
  UINT wChunkGranularity;
  BOOL fUsingDOSMemory;
  UINT wNumVideoRequested;
  BOOL fCaptureAudio;
  UINT wNumAudioRequested;
  UINT vKeyAbort;
  BOOL fAbortLeftMouse;
  BOOL fAbortRightMouse;
  BOOL fLimitEnabled;
  UINT wTimeLimit;
  BOOL fMCIControl;
  BOOL fStepMCIDevice;
  DWORD dwMCIStartTime;
  DWORD dwMCIStopTime;
  BOOL fStepCaptureAt2x;
  UINT wStepCaptureAverageFrames;
  DWORD dwAudioBufferSize;
  BOOL fDisableWriteCache;
  UINT AVStreamMaster;
};
static_assert(sizeof(CAPTUREPARMS) == 96);
static_assert(offsetof(CAPTUREPARMS, fYield) == 12);
static_assert(offsetof(CAPTUREPARMS, wNumVideoRequested) == 28);
static_assert(offsetof(CAPTUREPARMS, fCaptureAudio) == 32);
static_assert(offsetof(CAPTUREPARMS, fLimitEnabled) == 52);
static_assert(offsetof(CAPTUREPARMS, dwMCIStartTime) == 68);
static_assert(offsetof(CAPTUREPARMS, dwAudioBufferSize) == 84);
static_assert(offsetof(CAPTUREPARMS, AVStreamMaster) == 92);

// The AVI video compressors the compression dialog offers.
inline constexpr const char* kFullFrames = "Полные кадры (без сжатия)";
inline constexpr const char* kMotionJpeg = "Motion JPEG";

// Driver `index` (0-9): the index-th camera that offers a raw format, in the camera list's
// order. Fills `name` with its display name and `version` with its driver text, each cut to
// the buffer's size less one and zero-terminated. Non-zero while a driver exists there.
BOOL capGetDriverDescriptionA(UINT index, char* name, int nameSize, char* version, int versionSize);

// A child window of `parent` at the rectangle, shown when `style` has WS_VISIBLE. Returns its
// handle, or 0 when there is no parent or the size is not positive.
HWND capCreateCaptureWindowA(const char* title, std::uint32_t style, int x, int y, int width,
                             int height, QWidget* parent, int id);

// Handles one capture message; 0 for an unknown handle, handle 0 or a message it does not
// know. Paths in lParam are zero-terminated bytes in the system's encoding.
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Not of the capture messages: how a camera that fails while connected (unplugged, taken by
// another program, a format it does not accept) is told to the program. The window keeps
// its last frame and behaves as without a driver from then on.
void SetErrorHandler(HWND window, std::function<void(const QString& reason)> handler);

// A connected camera that gave no frame for a second is told through the error handler too,
// while it stays connected; when its frames come again, this is called.
void SetResumeHandler(HWND window, std::function<void()> handler);

// Likewise for a video recording that cannot start, or that fails while it runs (the disk
// full): it is stopped, the preview goes on.
void SetRecordingErrorHandler(HWND window, std::function<void(const QString& reason)> handler);

// A stopped recording's file that could not be finished (its index may be missing). It comes
// from the event loop after the stop has returned, perhaps while another recording runs.
void SetFinishErrorHandler(HWND window, std::function<void(const QString& reason)> handler);

// The window behind a handle, for the program's own layout and for tests; null if none.
QWidget* WindowOf(HWND window);

// The camera pipeline of a capture window, for the frame of a periodic picture; null if none.
gst::CameraPipeline* CameraOf(HWND window);

}  // namespace capture
