#include <gtest/gtest.h>

#include <QScrollBar>
#include <QTest>

#include "app/help_window.h"
#include "app/main_window.h"
#include "tests/support/test_support.h"

using testing_support::Str;

TEST(HelpWindow, TextIsAssembledFromTheTitleAndSixParagraphs) {
  const QString text = app::BuildHelpText();
  const QStringList blocks = text.split(QStringLiteral("\r\n\r\n"));
  ASSERT_EQ(blocks.size(), 8);  // title, six paragraphs, greeting
  EXPECT_EQ(blocks[0], Str("                 ОПИСАНИЕ РАБОТЫ ПРОГРАММЫ Strobolux"));
  EXPECT_TRUE(blocks[1].startsWith(Str("    Эта программа генерирует звуковой сигнал")));
  EXPECT_TRUE(blocks[1].contains(Str("через заданное  количество периодов")));  // two blanks
  EXPECT_TRUE(blocks[1].endsWith(Str("нажать кнопку <Включить вэбкамеру>.")));
  EXPECT_TRUE(blocks[2].contains(Str("вэбкамерой.После этого")));  // pieces joined directly
  EXPECT_TRUE(blocks[2].endsWith(Str("и сжатие видеоданных. ")));
  EXPECT_TRUE(blocks[3].startsWith(Str("     Теперь можно")));
  EXPECT_TRUE(blocks[4].contains(Str("<выберете аудиоустройство для генерации звука>")));
  EXPECT_TRUE(blocks[5].endsWith(Str("например, 200/2=100 Гц. ")));
  EXPECT_TRUE(blocks[6].endsWith(Str("данных записанных в буферы.")));
  EXPECT_FALSE(blocks[7].isEmpty());
  EXPECT_FALSE(blocks[7].contains(QLatin1Char('\n')));
  // Every line break is a CR LF pair.
  EXPECT_EQ(text.count(QLatin1Char('\n')), text.count(QStringLiteral("\r\n")));
  EXPECT_EQ(text.count(QLatin1Char('\r')), 14);
}

TEST(HelpWindow, ReopeningRebuildsTheSameTextWithoutGrowth) {
  testing_support::MessageBoxRecorder boxes;
  app::Form1 form;
  form.Command5_Click();
  app::Form2* help = form.HelpWindow();
  ASSERT_NE(help, nullptr);
  EXPECT_EQ(help->windowTitle(), QStringLiteral("About  Strobolux   form2"));
  EXPECT_EQ(help->size(), QSize(423, 273));
  EXPECT_EQ(help->Command1->text(), Str("Закрыть"));
  EXPECT_EQ(help->Command1->geometry(), QRect(336, 248, 81, 20));
  EXPECT_EQ(help->Text1->palette().color(QPalette::Base), QColor(255, 255, 255));
  const QString firstText = help->HelpText();
  const QString firstShown = help->Text1->toPlainText();

  QTest::mouseClick(help->Command1, Qt::LeftButton);
  testing_support::FlushDeferredDeletes();
  EXPECT_EQ(form.HelpWindow(), nullptr);

  form.Command5_Click();
  ASSERT_NE(form.HelpWindow(), nullptr);
  EXPECT_EQ(form.HelpWindow()->HelpText(), firstText);
  EXPECT_EQ(form.HelpWindow()->Text1->toPlainText(), firstShown);
  EXPECT_EQ(firstShown.count(QLatin1Char('\n')), 14);
  form.HelpWindow()->close();
  testing_support::FlushDeferredDeletes();
}

TEST(HelpWindow, WholeTextScrollsInsideAFixedWindow) {
  app::Form2* help = new app::Form2();  // deletes itself on close
  help->show();
  QScrollBar* bar = help->Text1->verticalScrollBar();
  EXPECT_GT(bar->maximum(), 0);
  bar->setValue(bar->maximum());
  EXPECT_EQ(bar->value(), bar->maximum());
  EXPECT_EQ(help->size(), QSize(423, 273));
  help->close();
  testing_support::FlushDeferredDeletes();
}
