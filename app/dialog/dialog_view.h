// What the dialog model asks of a window toolkit: to draw what the model decided, and to run
// the events of the window's thread. A toolkit implements this table over its window
// (app/qt/updater_dlg.h, app/win32/updater_window.h) and forwards the window's events to the
// model; it decides nothing itself. Every slot but Post is called on the window's thread.
#pragma once
#include <cstdint>

namespace fg::app {

struct UiCall;  // app/dialog/worker_protocol.h

// The More Info layout in pixels: the window's outer height (width and position kept) and the
// top-left corners of the log and the copyright line in the client area. The two controls and
// the window are raised to the top of their z-order; every control keeps its size.
struct MoreInfoLayout {
  int32_t windowHeight;
  int32_t logX, logY;
  int32_t copyrightX, copyrightY;
};

// One entry of the device list as it is drawn: its resource name (what an update takes) and
// the text shown for it, the name followed by its label when the search gave it one.
struct DeviceEntryView {
  const char* name;
  const char* shown;
};

struct DialogViewOps {
  void* owner;
  void (*SetWindowTitle)(void* owner, const char* title);
  // The text of the control with template id `id` (fields and button captions). Texts are bytes
  // as the file or the model has them; the toolkit decodes them its own way.
  void (*SetControlText)(void* owner, int32_t id, const char* text);
  void (*EnableControl)(void* owner, int32_t id, bool enabled);
  void (*ShowControl)(void* owner, int32_t id, bool shown);
  // The Close item of the system menu and the caption's close button: enabled or greyed.
  void (*EnableClose)(void* owner, bool enabled);
  // The log (control 1020): its whole text, "\r\n" between lines; shown at once (a long
  // operation may follow) with its last line scrolled into view.
  void (*ShowLog)(void* owner, const char* text);
  // The progress bar (control 1017): range 0 to 100 and position 0; then a position.
  void (*InitProgress)(void* owner);
  void (*SetProgress)(void* owner, int32_t percent);
  // The current height in pixels of the control `id` (the More Info layout reads the log's
  // and the copyright line's).
  int32_t (*ControlHeight)(void* owner, int32_t id);
  void (*ApplyLayout)(void* owner, const MoreInfoLayout* layout);
  // The device list (control 1021): its entries in this order, the entry `current` selected
  // (-1: none, the list then shows `placeholder` when it is not null). Drawing it must not come
  // back as a pick.
  void (*ShowDeviceEntries)(void* owner, const DeviceEntryView* entries, int32_t count,
                            int32_t current, const char* placeholder);
  // Opens the help file; whatever is missing, nothing is shown and nothing reported.
  void (*ShowHelp)(void* owner);
  // Ends the dialog now; the model has decided that it may end and has removed the payload.
  void (*EndDialog)(void* owner);
  // Optional: the run's images began (true) or ended (false) being erased or programmed.
  void (*ProgrammingChanged)(void* owner, bool programming);
  // From any thread: hands `call` to the window's thread, where the toolkit passes it to
  // DeliverUiCall while it handles its events (a posted message, a queued event). Never blocks.
  void (*Post)(void* owner, UiCall* call);
  // Handles the events of the window's thread, waiting for them, until *done is true. *done is
  // set on the window's thread, inside a delivered call.
  void (*RunEventsUntil)(void* owner, const bool* done);
};

}  // namespace fg::app
