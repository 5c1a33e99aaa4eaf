// A scripted run ends when its last pictures are written or failed: a picture that fails
// after the stop fails the run with its message, as one during the run does.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <optional>

#include "app/demo_run.h"
#include "app/main_window.h"
#include "generator/generator.h"
#include "recording/output_files.h"
#include "tests/support/camera_support.h"

namespace {

app::Form1* TheWindow() {
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (auto* form = qobject_cast<app::Form1*>(widget)) return form;
  return nullptr;
}

TEST(RunEnd, APictureThatFailsAfterTheStopFailsTheRun) {
  QTemporaryDir program;
  for (const char* folder : {"Risunki", "SnapShot", "Video"})
    ASSERT_TRUE(QDir(program.path()).mkdir(QString::fromLatin1(folder)));
  recording::SetProgramFolder(program.path());
  app::RegisterDemoDevices({});
  // The camera stops delivering at the second picture's instant, and the run is stopped at the
  // third's: that picture's frame is found too old only once the run has stopped.
  std::optional<testing_support::CameraStall> stall;
  int due = 0;
  QTimer::singleShot(0, [&] {
    app::Form1* form = TheWindow();
    ASSERT_TRUE(form);
    QObject::connect(&form->Generator(), &generator::Generator::PictureDue, form,
                     [&, form](const generator::Instant&, generator::Outcome& outcome) {
                       outcome.Run([&] {
                         if (++due == 2) stall.emplace(form->Camera().RecordingCamera());
                         if (due == 3) QTimer::singleShot(0, form->Command4, &QPushButton::click);
                       });
                     });
  });
  app::DemoRunSettings settings;
  settings.seconds = 0;  // until stopped
  const app::DemoRunSummary summary = app::RunDemo(settings);
  stall.reset();
  recording::SetProgramFolder(QString());

  EXPECT_EQ(due, 3);
  EXPECT_FALSE(summary.Succeeded());
  // The status line's camera error (the frozen camera's may have followed the picture's).
  EXPECT_TRUE(summary.failure.startsWith(QStringLiteral("Camera error: ")))
      << summary.failure.toStdString();
  EXPECT_EQ(summary.messages.size(), 1);
  EXPECT_EQ(summary.pictures, 2);
  QFile log(QDir(summary.runFolder).filePath(QStringLiteral("log.csv")));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  const QList<QByteArray> rows = log.readAll().trimmed().split('\n');
  ASSERT_EQ(rows.size(), 4);
  EXPECT_TRUE(QString::fromUtf8(rows[3]).contains(QStringLiteral("нет кадра ближе")))
      << rows[3].toStdString();
  // The run's record says it failed, why, and what it wrote.
  QFile file(QDir(summary.runFolder).filePath(QStringLiteral("run.json")));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QJsonObject record = QJsonDocument::fromJson(file.readAll()).object();
  const QJsonObject end = record[QStringLiteral("end")].toObject();
  EXPECT_EQ(end[QStringLiteral("how")].toString(), QStringLiteral("failure"));
  EXPECT_TRUE(end[QStringLiteral("failure")].toString().contains(QStringLiteral("нет кадра ближе")))
      << end[QStringLiteral("failure")].toString().toStdString();
  EXPECT_EQ(record[QStringLiteral("pictures")][QStringLiteral("written")].toInt(), 2);
  EXPECT_EQ(record[QStringLiteral("pictures")][QStringLiteral("not_written")].toInt(), 1);
  EXPECT_TRUE(record[QStringLiteral("camera")][QStringLiteral("name")].toString().startsWith(
      QStringLiteral("Test camera")));
}

}  // namespace
