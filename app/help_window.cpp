#include "app/help_window.h"

#include <vector>

namespace app {
namespace {

const QString kLineBreak = QStringLiteral("\r\n");

QString Str(const char* utf8) {
  return QString::fromUtf8(utf8);
}

// The paragraphs are kept in the pieces they were written in: blanks at the ends of the
// pieces are part of the text.
const std::vector<std::vector<const char*>>& Paragraphs() {
  static const std::vector<std::vector<const char*>> paragraphs = {
      {
          "    Эта программа генерирует звуковой сигнал с заданной частотой и амплитудой "
          "(синусоида и треугольный) и через заданное ",
          " количество периодов сигнала производит запись изображения вэбкамеры в файл, но "
          "может делать и отдельный снимок ",
          "и запись в файл avi. При этом работа вэбкамеры может управляться как кодом "
          "написанным с использованием ",
          "VideoForWindows, т.е. VfW (avicap32.dll), который можно использовать для работы "
          "со старыми вэбкамерами, где поток ",
          "данных передается только в формате YUY2, так и с использованием DirectShow "
          "(quartz.dll), где можно использовать ",
          "и формат MJPEG. Для этого надо в рамке <использовать> выбрать один из этих "
          "вариантов, а потом нажать кнопку ",
          "<Включить вэбкамеру>.",
      },
      {
          "    При использование VfW появляется диалоговое окно выбора из списка вэбкамеры, а "
          "при использование DirectShow ",
          "выбрать вэбкамеру надо в комбобоксе под надписью <список найденных видеокамер>. А "
          "после того как вы отключили ",
          "выбранную вэбкамеру вы можете выбрать и другую вэбкамеру и использование другого "
          "кода работы с вэбкамерой.",
          "После этого вы можете выбрать для вэбкамеры формат изображения (размер и формат "
          "потока данных), свойства ",
          "изображения (яркость, контрастность и т.д.), задать частоту кадров (если такая "
          "частота поддерживается вэбкамерой) ",
          "и сжатие видеоданных. ",
      },
      {
          "     Теперь можно или сделать снимок с экрана или при использование VfW записать "
          "видеофайл. А при работе генератора ",
          "звука, если отмечен чекбокс <делать запись картинок через NC0 периодов "
          "генератора=> изображение с вэбкамеры ",
          "будет записываться автоматически через заданное значение периодов колебаний "
          "генератора или время срабатывания таймера.",
      },
      {
          "    Чтобы включить генератор надо в комбобоксе под надписью <выберете "
          "аудиоустройство для генерации звука> выбрать ",
          "из списка нужное вам устройство, в рамке <вид сигнала> выбрать его вид и в рамке "
          "<период записи картинок по> выбрать ",
          "или по текущему системному времени, когда запись картинок будет через NC0 "
          "периодов генератора или по периоду, ",
          "с которым будет срабатывать Таймер 1. А, если ваше устройство не поддерживает "
          "заданную частоту дискретизации сигнала, ",
          "то надо задать ту, которую оно поддерживает. ",
      },
      {
          "    Теперь задаете частоту звукового сигнала двумя цифрами, где и числитель и "
          "знаменатель не могут быть меньше 2 ",
          "и знаменатель должен быть кратен 2 и включаете генератор, а чтобы убедиться, что "
          "генератор работает, задайте частоту, ",
          "которую человеческое ухо может услышать, например, 200/2=100 Гц. ",
      },
      {
          "     При этом, если чекбокс <делать запись картинок через NC0 периодов генератора> "
          "отмечен, то изображение с вэбкамеры ",
          "будет записываться в файл, а, чтобы увидеть это изображение вместе с другой "
          "информацией, надо отметить чекбокс ",
          "<при записи картинок показывать форму 6>. Вид сигнала записанного в буферы для "
          "воспроизведения можно посмотреть, ",
          "если отметить чекбокс <+ рисовать форму сигнала с MT, с/см=>. А после того, как "
          "вы выключите генератор, вы можете ",
          "выбрать другое аудиоустройство для воспроизведения данных записанных в буферы.",
      },
  };
  return paragraphs;
}

}  // namespace

QString BuildHelpText() {
  QString text =
      Str("                 ОПИСАНИЕ РАБОТЫ ПРОГРАММЫ Strobolux") + kLineBreak + kLineBreak;
  for (const auto& paragraph : Paragraphs()) {
    for (const char* piece : paragraph) text += Str(piece);
    text += kLineBreak + kLineBreak;
  }
  text += Str("Желаем удачных экспериментов!");
  return text;
}

Form2::Form2(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("Form2"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("About  Strobolux   form2"));
  setFixedSize(423, 273);

  Text1 = new QPlainTextEdit(this);
  Text1->setObjectName(QStringLiteral("Text1"));
  Text1->setGeometry(0, 0, 421, 225);
  Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Text1->setReadOnly(true);

  Command1 = new QPushButton(Str("Закрыть"), this);
  Command1->setObjectName(QStringLiteral("Command1"));
  Command1->setGeometry(336, 248, 81, 20);
  connect(Command1, &QPushButton::clicked, this, &Form2::Command1_Click);

  Label2 = new QLabel(Str("Вопросы и пожелания по программе направляйте"), this);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->setGeometry(6, 230, 326, 16);
  Label1 = new QLabel(Str("её разработчикам через ваш отдел поддержки."), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(6, 250, 326, 16);

  Form_Load();
}

void Form2::Form_Load() {
  QPalette palette = Text1->palette();
  palette.setColor(QPalette::Base, QColor(255, 255, 255));
  Text1->setPalette(palette);
  help_text_ = BuildHelpText();
  // The text box shows one line per CR LF pair.
  Text1->setPlainText(QString(help_text_).replace(kLineBreak, QStringLiteral("\n")));
}

void Form2::Command1_Click() {
  close();
}

}  // namespace app
