// SIGINT, SIGTERM and SIGHUP in the window. Outside the erasing and programming of images a
// signal ends the program as it would have, after removing the payload folder. While images are
// erased or programmed the first signal becomes a close request of the window (handled on its
// thread, so the run can stop between images); a second one within 3 s ends the program at once.
// Ending at once, it first writes the runs' stop notices to standard error.
#pragma once
#include <QObject>

class QSocketNotifier;

namespace fg::app {

class CloseSignals : public QObject {
  Q_OBJECT

 public:
  // Installs the handlers; one object per program, made after the application object. Null when
  // the notification pipe cannot be made (the handlers are then those of RemovePayloadFolder...).
  static CloseSignals* Install(QObject* parent);
  static CloseSignals* Instance();
  ~CloseSignals() override;

  // Set while the images of an update are erased or programmed.
  static void SetDeferring(bool deferring);

 signals:
  void closeRequested();

 private:
  explicit CloseSignals(QObject* parent);
  void OnReadable();
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace fg::app
